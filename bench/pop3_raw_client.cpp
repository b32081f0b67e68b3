// The least a POP3 mail check can do: logs in, retrieves every message with large reads
// that only look for the end of the message, deletes it, and quits. The time a reader takes
// beyond this one is the time it spends on the mail itself.
//
//   pop3_raw_client SERVER:PORT USER PASSWORD
//
// Prints "seconds=S peak_kb=K lines=0 messages=M bytes=B" (B: all bytes received).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/peak_memory.h"

namespace {

// Refuses a message longer than this, and a mailbox with more messages than this.
constexpr long long kMaxMessageBytes = 1LL << 30;
constexpr long long kMaxMessages = 1000000;

// A POP3 connection with a receive buffer of 1 MB; every read waits at most 30 s.
class Pop3Stream {
  public:
    ~Pop3Stream() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool connect(const std::string& host, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return false;
        timeval wait{30, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        return inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1 &&
               ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    // Sends the command and reads its one-line reply; true when the reply is "+OK".
    bool command(const std::string& text, std::string* reply = nullptr) {
        std::string line = text + "\r\n";
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
            return false;
        return okLine(reply);
    }

    // Reads one reply line; true when it is "+OK".
    bool okLine(std::string* reply = nullptr) {
        for (;;) {
            auto* lf = static_cast<char*>(std::memchr(&buf_[begin_], '\n', end_ - begin_));
            if (lf) {
                std::size_t next = static_cast<std::size_t>(lf - buf_.data()) + 1;
                bool ok = std::strncmp(&buf_[begin_], "+OK", 3) == 0;
                if (reply)
                    reply->assign(&buf_[begin_], next - begin_);
                begin_ = next;
                return ok;
            }
            if (!receive())
                return false;
        }
    }

    // Skips a message up to and including its terminating "\r\n.\r\n". The CR LF of the
    // reply line just read, still in the buffer, can be the terminator's first two bytes.
    bool skipMessage() {
        std::size_t from = begin_ >= 2 ? begin_ - 2 : begin_;
        long long skipped = 0;
        while (skipped < kMaxMessageBytes) {
            void* end = memmem(&buf_[from], end_ - from, "\r\n.\r\n", 5);
            if (end) {
                begin_ = static_cast<std::size_t>(static_cast<char*>(end) - buf_.data()) + 5;
                return true;
            }
            // The last four bytes may begin the terminator: they stay for the next search.
            begin_ = end_ - std::min<std::size_t>(4, end_ - from);
            skipped += static_cast<long long>(begin_ - from);
            if (!receive())
                return false;
            from = 0;
        }
        return false;
    }

    long long received() const { return received_; }

  private:
    // Moves the unread bytes to the front and appends what one recv() brings.
    bool receive() {
        std::memmove(buf_.data(), &buf_[begin_], end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (end_ == buf_.size())
            return false;  // a reply line longer than the buffer
        ssize_t n = ::recv(fd_, &buf_[end_], buf_.size() - end_, 0);
        if (n <= 0)
            return false;
        end_ += static_cast<std::size_t>(n);
        received_ += n;
        return true;
    }

    int fd_ = -1;
    std::vector<char> buf_ = std::vector<char>(1 << 20);
    std::size_t begin_ = 0;  // the unread bytes are buf_[begin_, end_)
    std::size_t end_ = 0;
    long long received_ = 0;
};

int fail(const char* what) {
    std::fprintf(stderr, "pop3_raw_client: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: pop3_raw_client SERVER:PORT USER PASSWORD\n");
        return 2;
    }
    std::string server = argv[1];
    std::size_t colon = server.rfind(':');
    if (colon == std::string::npos)
        return fail("the server needs a port");

    auto start = std::chrono::steady_clock::now();
    Pop3Stream pop;
    if (!pop.connect(server.substr(0, colon), std::atoi(server.c_str() + colon + 1)))
        return fail("cannot connect");
    std::string stat;
    if (!pop.okLine() || !pop.command(std::string("USER ") + argv[2]) ||
        !pop.command(std::string("PASS ") + argv[3]) || !pop.command("STAT", &stat))
        return fail("login or STAT refused");
    long long count = std::atoll(stat.c_str() + 3);
    if (count < 0 || count > kMaxMessages)
        return fail("unlikely message count");
    for (long long n = 1; n <= count; ++n) {
        if (!pop.command("RETR " + std::to_string(n)) || !pop.skipMessage())
            return fail("RETR failed");
        if (!pop.command("DELE " + std::to_string(n)))
            return fail("DELE refused");
    }
    if (!pop.command("QUIT"))
        return fail("QUIT refused");
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f peak_kb=%ld lines=0 messages=%lld bytes=%lld\n", seconds.count(),
                peakResidentKb(), count, pop.received());
    return 0;
}
