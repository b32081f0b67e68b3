#pragma once

// What the fuzz targets share: the oracle's failure report, scratch directories under $TMPDIR,
// the splitting of an input into records and lines, a strict base64 decoder, and a loopback
// peer that plays one mail server's side of a dialogue on its own thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fuzz {

// Reports a property that does not hold (with what was seen) on stderr and aborts, so that
// libFuzzer keeps the input as a crash artifact.
[[noreturn]] void fail(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(condition, what)                                                    \
    do {                                                                               \
        if (!(condition))                                                              \
            ::fuzz::fail(__FILE__, __LINE__, std::string("(" #condition ") ") + (what)); \
    } while (0)

// With TARNWICK_FUZZ_VERBOSE set, prints one line about what an input did (to see what the
// seeds reach: TARNWICK_FUZZ_VERBOSE=1 build/fuzz/fuzz/<target> -runs=0 fuzz/corpus/<target>).
void note(const std::string& text);

// The bytes as printable text: \r, \n, \xNN for the others; cut after max bytes.
std::string visible(std::string_view bytes, std::size_t max = 400);

// The input cut at every 0x1e byte (the record separator); always at least one record.
std::vector<std::string> splitRecords(std::string_view input);

// The text cut at every line feed, the line feeds dropped; a last piece without one counts too.
std::vector<std::string> splitLines(std::string_view text);

// True when the text holds an ASCII capital letter.
bool hasUpperAscii(std::string_view text);

// A fresh directory for one input, removed with everything in it on destruction (links are
// removed, never followed). It lives under $TMPDIR (scripts/fuzz.sh points it at a tmpfs).
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The directory with its trailing '/'.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

// Whole-file helpers; a failure to write is a failure of the target itself (it aborts).
void writeBytes(const std::string& path, std::string_view bytes);
// The file's bytes, "" when it cannot be read.
std::string readBytes(const std::string& path);
bool exists(const std::string& path);  // anything at the name, a dangling link too
bool isRegularFile(const std::string& path);  // a regular file, not a link to one
void makeDir(const std::string& path);
// The names in the directory (without "." and ".."), sorted.
std::vector<std::string> listDir(const std::string& dir);

// RFC 4648 base64 with nothing tolerated: the length a multiple of four, only the 64
// characters of the alphabet, "=" only as the one or two last characters, and the unused
// bits of the last character zero. False for any other text.
bool strictBase64Decode(std::string_view text, std::string& bytes);

// atoi as the C library defines it, with the result held to the int range: the oracle's
// reading of a number in a settings or configuration file.
int referenceAtoi(std::string_view text);

// Whether a command the client sent is one line ended by CR LF, with no other CR or LF.
bool isOneCrLfLine(std::string_view command);

// One end of a connected socket with a receive buffer.
class PeerSocket {
  public:
    explicit PeerSocket(int fd) : fd_(fd) {}

    // Sends every byte; false when the other side is gone.
    bool send(std::string_view bytes);
    // The next line with its line feed; false (line holding what came of it) when the other
    // side closed or sent nothing for timeoutMs.
    bool readLine(std::string& line, int timeoutMs);
    // Whatever arrives until the other side closes or is silent for timeoutMs.
    std::string readRest(int timeoutMs);
    // Stops sending: the other side sees the end of the stream.
    void shutdownWrite();

  private:
    bool fill(int timeoutMs);

    int fd_;
    std::string pending_;
};

// A TCP listener on 127.0.0.1 for the whole run; each dialogue accepts one connection and
// plays the server's side on a thread, while the target runs the robot's side.
class LoopbackPeer {
  public:
    static LoopbackPeer& instance();

    // "127.0.0.1:port", as a server setting.
    std::string address() const;
    // Accepts the next connection on a thread and runs the script with it; the socket is
    // closed when the script returns.
    void start(std::function<void(PeerSocket&)> script);
    // Waits for the script to end; when no client connected, stops waiting for one.
    void finish();

  private:
    LoopbackPeer();
    int listener_ = -1;
    int stop_ = -1;  // an eventfd: finish() ends the wait for a connection
    int port_ = 0;
    std::thread thread_;
};

}  // namespace fuzz
