#include "mail/connection.h"

#include "mail/dialogue_transcript.h"
#include "mail/tls_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The send buffer goes out in blocks of this size; a receive takes what the socket has, up
// to the receive buffer's size, so a large message costs few system calls.
constexpr std::size_t kBufferSize = 512;
constexpr std::size_t kReceiveBufferSize = 64 << 10;
constexpr std::size_t kMaxSendChunk = 1024;
constexpr std::size_t kMaxErrorChars = 255;

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int msLeft(SteadyClock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the socket shows one of events or the deadline passes. Returns 1 when it does,
// 0 when the time ran out, -1 with errno set when the wait itself failed.
int waitFor(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, msLeft(deadline));
        if (r >= 0)
            return r > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

// Resolves a decimal port or a TCP service name to a port in host byte order. Returns 0 or
// the 4014 code.
int resolveService(const char* service, std::uint16_t* port) {
    std::size_t length = std::strlen(service);
    bool digitsOnly = std::strspn(service, "0123456789") == length;
    if (digitsOnly) {
        if (length == 0)
            return kGensockServiceNotFound;
        unsigned long value = 0;
        for (const char* p = service; *p; ++p) {
            value = value * 10 + static_cast<unsigned long>(*p - '0');
            if (value > 65535)
                return kGensockServiceNotFound;
        }
        *port = static_cast<std::uint16_t>(value);
        return kGensockOk;
    }
    servent entry{};
    servent* found = nullptr;
    char work[1024];
    if (getservbyname_r(service, "tcp", &entry, work, sizeof work, &found) != 0 || !found)
        return kGensockServiceNotFound;
    *port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return kGensockOk;
}

// Resolves a dotted IPv4 address or, failing that, a host name (first IPv4 address).
int resolveHost(const char* host, in_addr* address) {
    if (inet_aton(host, address) != 0)
        return kGensockOk;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &answer) != 0 || !answer)
        return kGensockHostNotFound;
    *address = reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr;
    freeaddrinfo(answer);
    return kGensockOk;
}

// A TLS read or write as recv() and send() give it: bytes, 0 for a closed session, or -1
// with errno EAGAIN (and the events to wait for) or EPIPE for a broken session.
ssize_t fromTransfer(const TlsSession::Transfer& transfer, short& waitEvents) {
    if (transfer.bytes > 0)
        return transfer.bytes;
    if (transfer.closed)
        return 0;
    if (transfer.failed) {
        errno = EPIPE;
        return -1;
    }
    waitEvents = transfer.waitFor;
    errno = EAGAIN;
    return -1;
}

}  // namespace

// One open TCP client stream: a 64 KiB receive buffer handed out byte by byte or a line at a
// time and a 512-byte send buffer emptied in whole blocks, every wait limited by the
// context's time.
class connection {
  public:
    explicit connection(const ConnectionContext& context) : context_(context) {
        if (context_.timeoutMs < 0)
            context_.timeoutMs = 0;
    }
    ~connection() { closeSocket(); }
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    int open(const char* host, const char* service);
    int start_tls(const std::string& host);
    int read_char(char* c);
    int read_line(std::string_view& line, std::string& spill, std::size_t maxKeep,
                  bool wholeLineInTime, std::size_t limit = SIZE_MAX,
                  std::size_t* taken = nullptr);
    // True when a byte is there to read within waitMs.
    bool data_waiting(int waitMs);
    int put_data(const char* data, std::size_t length);
    int put_buffered(const char* data, std::size_t length);
    int flush();
    // Closes the socket; false when the platform reported a failure.
    bool closeSocket();

    // Shows one line of the dialogue when a transcript is set: text without its line end, a
    // sent line as shown (its first shownChars bytes and "****" when that is less than all).
    void transcribe(DialogueTranscript::Kind kind, std::string_view text,
                    std::size_t shownChars = std::string_view::npos);
    void transcribeStep(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    // One receive or send on the socket, through TLS once it is on: like recv() and send(),
    // with errno EAGAIN and the events to wait for in waitEvents when nothing could move.
    ssize_t receiveSome(char* buffer, std::size_t size, short& waitEvents);
    ssize_t sendSome(const char* data, std::size_t size, short& waitEvents);
    int get_buffer(SteadyClock::time_point& end);
    int connectTo(const sockaddr_in& address);
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    SteadyClock::time_point deadline() const {
        return SteadyClock::now() + std::chrono::milliseconds(context_.timeoutMs);
    }

    ConnectionContext context_;
    int socket_ = -1;
    std::unique_ptr<char[]> receiveBuffer_{new char[kReceiveBufferSize]};
    char sendBuffer_[kBufferSize] = {};
    std::uint32_t readPosition_ = 0;
    std::uint32_t sendCount_ = 0;
    std::uint32_t receiveCount_ = 0;
    bool noDelay_ = false;  // small segments go out at once (set by the first flush)
    std::size_t bufferedSinceFlush_ = 0;  // bytes put_buffered took since the last flush
    std::unique_ptr<TlsSession> tls_;
};

void connection::setError(const char* format, ...) {
    if (!context_.errorText)
        return;
    char text[kMaxErrorChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *context_.errorText = text;
}

void connection::transcribe(DialogueTranscript::Kind kind, std::string_view text,
                            std::size_t shownChars) {
    if (!context_.transcript)
        return;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (shownChars >= text.size()) {
        context_.transcript->line(context_.dialogue, kind, text);
        return;
    }
    std::string shown(text.substr(0, shownChars));
    shown += kMaskedSecret;
    context_.transcript->line(context_.dialogue, kind, shown);
}

void connection::transcribeStep(const char* format, ...) {
    if (!context_.transcript)
        return;
    char text[kMaxErrorChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    context_.transcript->line(context_.dialogue, DialogueTranscript::Kind::kStep, text);
}

bool connection::closeSocket() {
    if (tls_) {
        tls_->close();
        tls_.reset();
    }
    if (socket_ < 0)
        return true;
    int r = ::close(socket_);
    socket_ = -1;
    return r == 0;
}

int connection::open(const char* host, const char* service) {
    std::uint16_t port = 0;
    if (int r = resolveService(service, &port))
        return r;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (int r = resolveHost(host, &address.sin_addr))
        return r;
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0)
        return kGensockNoSocket;
    return connectTo(address);
}

// Connects the non-blocking socket, waiting for the connection up to the time limit; one that
// does not complete within it fails as an unexpected connect error.
int connection::connectTo(const sockaddr_in& address) {
    int r = ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = r == 0 ? 0 : errno;
    if (error == EINTR || error == EINPROGRESS) {
        int ready = waitFor(socket_, POLLOUT, deadline());
        socklen_t size = sizeof error;
        if (ready == 1)
            getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size);
        else
            error = ready == 0 ? ETIMEDOUT : errno;
    }
    if (error == 0)
        return kGensockOk;
    if (error == ECONNREFUSED)
        return kGensockRefused;
    setError("unexpected error %d from winsock\n", error);
    return kGensockConnectError;
}

int connection::start_tls(const std::string& host) {
    if (readPosition_ < receiveCount_) {
        // Bytes that came before the handshake cannot be told from an attacker's.
        setError("TLS handshake with %s failed: data came before it", host.c_str());
        return kGensockTlsFailed;
    }
    std::string error;
    bool timedOut = false;
    tls_ = TlsSession::start(socket_, host, deadline(), error, timedOut);
    if (tls_) {
        transcribeStep("TLS started with %s", host.c_str());
        return kGensockOk;
    }
    transcribeStep("%s", error.c_str());
    setError("%s", error.c_str());
    return timedOut ? kGensockTimeout : kGensockTlsFailed;
}

ssize_t connection::receiveSome(char* buffer, std::size_t size, short& waitEvents) {
    waitEvents = POLLIN;
    if (!tls_)
        return ::recv(socket_, buffer, size, 0);
    return fromTransfer(tls_->read(buffer, size), waitEvents);
}

ssize_t connection::sendSome(const char* data, std::size_t size, short& waitEvents) {
    waitEvents = POLLOUT;
    if (!tls_)
        return ::send(socket_, data, size, MSG_NOSIGNAL);
    return fromTransfer(tls_->write(data, size), waitEvents);
}

int connection::read_char(char* c) {
    if (readPosition_ >= receiveCount_) {
        SteadyClock::time_point end{};
        if (int r = get_buffer(end))
            return r;
    }
    *c = receiveBuffer_[readPosition_++];
    return kGensockOk;
}

// Refills the receive buffer with one receive of what the socket has, up to the buffer's
// size. The receive is tried at once; only when nothing is there yet is the socket waited
// for, until end, which is set to the time limit from now when it is still unset (the clock
// is read only when a wait begins). On failure the buffer is left empty, so no old byte is
// handed out again.
int connection::get_buffer(SteadyClock::time_point& end) {
    readPosition_ = 0;
    receiveCount_ = 0;
    bool waited = false;
    for (;;) {
        short events = 0;
        ssize_t n = receiveSome(receiveBuffer_.get(), kReceiveBufferSize, events);
        if (n > 0) {
            receiveCount_ = static_cast<std::uint32_t>(n);
            return kGensockOk;
        }
        if (n == 0)
            return kGensockConnectionLost;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return kGensockConnectionLost;  // every other receive error ends the stream
        if (end == SteadyClock::time_point{})
            end = deadline();
        if (waited && msLeft(end) == 0)
            return kGensockTimeout;
        if (waitFor(socket_, events, end) < 0)
            setError("connection::get_buffer() unexpected error from select: %d", errno);
        waited = true;
    }
}

// A line that lies whole in the receive buffer is handed out where it lies; only one that
// spans receives is gathered in spill.
int connection::read_line(std::string_view& line, std::string& spill, std::size_t maxKeep,
                          bool wholeLineInTime, std::size_t limit, std::size_t* taken) {
    line = {};
    std::size_t used = 0;
    spill.clear();
    bool spilled = false;
    SteadyClock::time_point lineEnd{};
    for (;;) {
        if (readPosition_ >= receiveCount_) {
            SteadyClock::time_point blockEnd{};
            if (int r = get_buffer(wholeLineInTime ? lineEnd : blockEnd))
                return r;
        }
        const char* begin = receiveBuffer_.get() + readPosition_;
        std::size_t available = std::min<std::size_t>(receiveCount_ - readPosition_, limit);
        const char* end = static_cast<const char*>(std::memchr(begin, '\n', available));
        std::size_t run = end ? static_cast<std::size_t>(end - begin) : available;
        readPosition_ += static_cast<std::uint32_t>(run + (end ? 1 : 0));
        limit -= run + (end ? 1 : 0);
        used += run + (end ? 1 : 0);
        if (taken)
            *taken = used;
        if (!end && limit == 0) {
            // The limit ends the line: what was read is the line, without a line feed.
            if (!spilled) {
                line = std::string_view(begin, std::min(run, maxKeep));
                return kGensockOk;
            }
            if (spill.size() < maxKeep)
                spill.append(begin, std::min(run, maxKeep - spill.size()));
            line = spill;
            return kGensockOk;
        }
        if (end && !spilled) {
            line = std::string_view(begin, std::min(run, maxKeep));
            return kGensockOk;
        }
        spilled = true;
        if (spill.size() < maxKeep)
            spill.append(begin, std::min(run, maxKeep - spill.size()));
        if (end) {
            line = spill;
            return kGensockOk;
        }
    }
}

bool connection::data_waiting(int waitMs) {
    if (readPosition_ < receiveCount_ || (tls_ && tls_->pending()))
        return true;
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, std::max(waitMs, 0)) <= 0)
        return false;
    // The socket is readable; under TLS that may be a record without data (a session ticket).
    // One receive tells: bytes, the end of the stream (a read then reports it), or nothing yet.
    readPosition_ = 0;
    receiveCount_ = 0;
    short events = 0;
    ssize_t n = receiveSome(receiveBuffer_.get(), kReceiveBufferSize, events);
    if (n > 0)
        receiveCount_ = static_cast<std::uint32_t>(n);
    return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// Sends every byte, at most 1024 per call. Each send is tried at once; only a socket whose
// buffer is full is waited for, up to the time limit, which runs afresh after every send
// accepted. A socket that does not become writable within it fails with 4013, leaving the
// rest unsent. A socket that is not connected gives 4016; every other send error writes
// "put_data() unexpected error from send(): %d" and gives 4002.
int connection::put_data(const char* data, std::size_t length) {
    bool waiting = false;  // a wait has begun since the last send accepted
    SteadyClock::time_point end{};
    while (length > 0) {
        std::size_t chunk = length < kMaxSendChunk ? length : kMaxSendChunk;
        short events = 0;
        ssize_t n = sendSome(data, chunk, events);
        if (n < 0) {
            int error = errno;
            if (error == EINTR)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                if (!waiting) {
                    end = deadline();
                    waiting = true;
                }
                // A socket still not writable when the time is up has taken nothing for
                // that long; a failed wait leaves the decision to the next send.
                int ready = waitFor(socket_, events, end);
                if (ready == 0 || (ready < 0 && msLeft(end) == 0))
                    return kGensockTimeout;
                continue;
            }
            // Only a socket that is not connected counts as lost; a reset or a closed peer is
            // reported with its error number.
            if (error == ENOTCONN)
                return kGensockConnectionLost;
            setError("put_data() unexpected error from send(): %d", error);
            return kGensockSendError;
        }
        if (context_.bytesSent)
            *context_.bytesSent += n;
        data += n;
        length -= static_cast<std::size_t>(n);
        waiting = false;
    }
    return kGensockOk;
}

// Appends to the send buffer; every time it reaches 512 bytes the block is sent. While the
// buffer is empty, whole blocks go out straight from data. A failed block is dropped with the
// send buffer emptied, and the rest of data is not taken.
int connection::put_buffered(const char* data, std::size_t length) {
    bufferedSinceFlush_ += length;
    while (length > 0) {
        if (sendCount_ + length < kBufferSize) {
            std::memcpy(sendBuffer_ + sendCount_, data, length);
            sendCount_ += static_cast<std::uint32_t>(length);
            return 0;
        }
        const char* block = data;
        if (sendCount_ > 0) {
            std::size_t fill = kBufferSize - sendCount_;
            std::memcpy(sendBuffer_ + sendCount_, data, fill);
            sendCount_ = 0;
            block = sendBuffer_;
            data += fill;
            length -= fill;
        } else {
            data += kBufferSize;
            length -= kBufferSize;
        }
        if (put_data(block, kBufferSize) != kGensockOk)
            return 1;
    }
    return 0;
}

// Sends the partial block. Delayed sending of small segments is switched off first: that
// pushes out what the system still holds of the earlier blocks, and the last bytes of a
// message then go out at once instead of waiting for the peer to acknowledge the data before
// them, which costs a delayed acknowledgement (tens of milliseconds) per message.
int connection::flush() {
    std::uint32_t count = sendCount_;
    sendCount_ = 0;
    if (!noDelay_) {
        int one = 1;
        noDelay_ = setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
    }
    int result = put_data(sendBuffer_, count) == kGensockOk ? 0 : 1;
    if (bufferedSinceFlush_ > 0)
        transcribeStep("%zu bytes of message text %s", bufferedSinceFlush_,
                       result == 0 ? "sent" : "not all sent");
    bufferedSinceFlush_ = 0;
    return result;
}

const char* gensockOpenReason(int code) {
    switch (code) {
        case kGensockRefused:
            return "connection refused";
        case kGensockHostNotFound:
            return "name not known";
        case kGensockServiceNotFound:
            return "port not known";
        case kGensockTimeout:
            return "timed out";
        case kGensockNoSocket:
        case kGensockCreateFailed:
            return "no socket could be made";
        default:
            return "no connection (no route, or timed out)";
    }
}

int gensock_open(const char* host, const char* service, const ConnectionContext& context,
                 connection** out) {
    *out = nullptr;
    if (!service)
        return kGensockServiceNotFound;
    if (!host)
        return kGensockHostNotFound;
    connection* conn = new (std::nothrow) connection(context);
    if (!conn)
        return kGensockCreateFailed;
    if (int r = conn->open(host, service)) {
        conn->transcribeStep("connecting to %s port %s failed (%d)", host, service, r);
        delete conn;
        return r;
    }
    conn->transcribeStep("connected to %s port %s", host, service);
    *out = conn;
    return kGensockOk;
}

int gensock_start_tls(connection* conn, const std::string& host) {
    return conn ? conn->start_tls(host) : kGensockNoConnection;
}

int gensock_read_char(connection* conn, char* c) {
    return conn ? conn->read_char(c) : kGensockNoConnection;
}

int gensock_read_line(connection* conn, std::string_view* line, std::string* spill,
                      std::size_t maxKeep, bool wholeLineInTime) {
    if (!conn)
        return kGensockNoConnection;
    int result = conn->read_line(*line, *spill, maxKeep, wholeLineInTime);
    if (result == kGensockOk && wholeLineInTime)
        conn->transcribe(DialogueTranscript::Kind::kReceived, *line);
    return result;
}

int gensock_read_within(connection* conn, std::string_view* line, std::string* spill,
                        std::size_t maxKeep, std::size_t limit, std::size_t* taken) {
    *taken = 0;
    if (!conn)
        return kGensockNoConnection;
    if (limit == 0) {
        *line = {};
        return kGensockOk;
    }
    return conn->read_line(*line, *spill, maxKeep, false, limit, taken);
}

bool gensock_data_waiting(connection* conn, int waitMs) {
    return conn && conn->data_waiting(waitMs);
}

int gensock_read_line(connection* conn, std::string* line, std::size_t maxKeep,
                      bool wholeLineInTime) {
    std::string_view view;
    std::string spill;
    int r = gensock_read_line(conn, &view, &spill, maxKeep, wholeLineInTime);
    if (view.data() == spill.data())
        line->swap(spill);
    else
        line->assign(view);
    return r;
}

int gensock_put_data(connection* conn, const char* data, std::size_t length) {
    return gensock_put_secret(conn, data, length, length);
}

int gensock_put_secret(connection* conn, const char* data, std::size_t length,
                       std::size_t shownChars) {
    if (!conn)
        return kGensockNoConnection;
    conn->transcribe(DialogueTranscript::Kind::kSent, std::string_view(data, length), shownChars);
    return conn->put_data(data, length);
}

int gensock_put_buffered(connection* conn, const char* data, std::size_t length) {
    return conn ? conn->put_buffered(data, length) : 1;
}

int gensock_flush(connection* conn) {
    return conn ? conn->flush() : 1;
}

int gensock_release(connection* conn) {
    if (!conn)
        return kGensockNoConnection;
    bool closed = conn->closeSocket();
    conn->transcribeStep("connection closed");
    delete conn;
    return closed ? kGensockOk : kGensockCloseFailed;
}

void splitServerAndPort(const std::string& server, const char* defaultService, std::string& host,
                        std::string& service) {
    std::size_t colon = server.rfind(':');
    if (colon == std::string::npos) {
        host = server;
        service = defaultService;
        return;
    }
    host = server.substr(0, colon);
    service = server.substr(colon + 1);
}
