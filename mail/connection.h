#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Result codes of the transport layer; 0 is success.
enum : int {
    kGensockOk = 0,
    kGensockNoMemory = 4001,
    kGensockSendError = 4002,  // unexpected send error (text left)
    kGensockCreateFailed = 4003,
    kGensockVersionNotSupported = 4004,
    kGensockStartupInvalid = 4005,
    kGensockNetworkNotReady = 4006,
    kGensockHostNotFound = 4007,
    kGensockNoSocket = 4008,
    kGensockNoConnection = 4010,  // the operation got a missing connection
    kGensockCloseFailed = 4012,
    kGensockTimeout = 4013,  // nothing arrived within the time limit
    kGensockServiceNotFound = 4014,
    kGensockConnectError = 4015,    // unexpected connect error (text left)
    kGensockConnectionLost = 4016,  // peer closed, or network or connection lost
    kGensockRefused = 4017,
    kGensockTlsFailed = 4018,  // the TLS handshake failed (text left)
};

class connection;
class DialogueTranscript;

// What a dialogue hands to the connections it opens.
struct ConnectionContext {
    // Where failures write their text (the dialogue's caller's buffer); may be null.
    std::string* errorText = nullptr;
    // Grows by every byte a successful send accepted; may be null.
    std::int64_t* bytesSent = nullptr;
    // The wait for every read and write, in milliseconds.
    int timeoutMs = 30000;
    // Where the dialogue is shown, under the dialogue's name; null: nowhere. Shown are the
    // connection's opening, TLS and closing, every gensock_put_data and gensock_put_secret, the
    // size of what went out buffered at each flush, and every line read whole within the time
    // limit (a reply line: a message's lines are not shown).
    DialogueTranscript* transcript = nullptr;
    const char* dialogue = "";
};

// Why gensock_open failed, in words for an entry: "connection refused", "name not known",
// "timed out", ...
const char* gensockOpenReason(int code);

// Opens a TCP connection to host (dotted IPv4 address or name) and service (decimal port or
// service name). On success returns 0 and stores the connection in *out; otherwise returns
// the code and stores nullptr.
int gensock_open(const char* host, const char* service, const ConnectionContext& context,
                 connection** out);

// Turns the open connection into a TLS one: the handshake with host, whose certificate must be
// trusted and name host (or its address). Every read and write after it goes through TLS.
// 4018 with "TLS certificate of HOST not trusted: ..." or "TLS handshake with HOST failed:
// ..." in the error text, 4013 with "TLS handshake with HOST timed out". 4010 for a missing
// connection.
int gensock_start_tls(connection* conn, const std::string& host);

// The next received byte in *c, waiting up to the time limit for more data. 4010 for a
// missing connection.
int gensock_read_char(connection* conn, char* c);

// The received bytes up to the next line feed (the line feed is not part of it), read in runs
// from the receive buffer. *line shows the line where it lies: in the receive buffer when it
// arrived whole in one receive, else in *spill, where it was gathered; it stays valid until
// the next read on the connection. Only the first maxKeep bytes of the line are kept; the
// rest, up to its line feed, is read and dropped. With wholeLineInTime the whole line must
// arrive within the time limit (a server's reply); without, each receive must (a long message
// line). 4013 when it does not, 4010 for a missing connection.
int gensock_read_line(connection* conn, std::string_view* line, std::string* spill,
                      std::size_t maxKeep, bool wholeLineInTime);

// As gensock_read_line for the bytes of a literal: the received bytes up to the next line feed
// or up to limit bytes, whichever comes first; each receive must arrive within the time limit.
// *taken receives how many bytes it
// used, line feed included, however many of them maxKeep kept. Not shown on a transcript.
int gensock_read_within(connection* conn, std::string_view* line, std::string* spill,
                        std::size_t maxKeep, std::size_t limit, std::size_t* taken);

// True when a received byte waits to be read, or arrives within waitMs milliseconds.
bool gensock_data_waiting(connection* conn, int waitMs);

// The same line copied into *line (emptied first).
int gensock_read_line(connection* conn, std::string* line, std::size_t maxKeep,
                      bool wholeLineInTime);

// Sends all bytes now, unbuffered, at most 1024 per send. 4013 when the socket takes nothing
// within the time limit, 4016 when it is not connected, 4002 with "put_data() unexpected
// error from send(): %d" for any other send error; 4010 for a missing connection.
int gensock_put_data(connection* conn, const char* data, std::size_t length);

// The same for a command that holds a secret: the transcript shows its first shownChars
// bytes followed by "****" ("PASS ****"), never the rest.
int gensock_put_secret(connection* conn, const char* data, std::size_t length,
                       std::size_t shownChars);

// Appends to the send buffer, sending whole 512-byte blocks as they fill. 0 on success,
// 1 on failure or for a missing connection.
int gensock_put_buffered(connection* conn, const char* data, std::size_t length);

// Sends what the send buffer holds, and from then on sends small writes at once instead of
// holding them until the peer acknowledges earlier data. 0 on success, 1 on failure or for a
// missing connection.
int gensock_flush(connection* conn);

// Closes the socket and releases the connection; 4012 when closing failed (the connection
// is released all the same). 4010 for a missing connection.
int gensock_release(connection* conn);

// Splits "host:port" into host and service; without ":port" the service is defaultService.
void splitServerAndPort(const std::string& server, const char* defaultService, std::string& host,
                        std::string& service);
