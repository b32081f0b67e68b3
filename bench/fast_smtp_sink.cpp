// A minimal SMTP server for benchmarks: it accepts every command, takes the message data in
// large blocks looking only for the end-of-data line, and throws the data away. One client at
// a time, on 127.0.0.1.
//
//   fast_smtp_sink PORT READY_FILE
//
// When it listens it writes READY_FILE; SIGTERM ends it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool sendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Serves one client until it quits or goes away.
void serve(int fd) {
    std::vector<char> block(1 << 20);
    std::string pending;  // command bytes not yet ended by a line feed
    bool inData = false;
    std::string tail;  // the last bytes of the data so far, for an end split across reads
    if (!sendAll(fd, "220 sink ready\r\n"))
        return;
    for (;;) {
        ssize_t n = recv(fd, block.data(), block.size(), 0);
        if (n <= 0)
            return;
        const char* data = block.data();
        std::size_t size = static_cast<std::size_t>(n);
        while (size > 0) {
            if (inData) {
                // The end is "\r\n.\r\n"; look in the kept tail plus this block's start.
                std::string joined = tail + std::string(data, size < 5 ? size : 5);
                std::size_t at = joined.find("\r\n.\r\n");
                std::size_t consumed;
                if (at != std::string::npos) {
                    consumed = at + 5 - tail.size();
                } else {
                    const void* hit = memmem(data, size, "\r\n.\r\n", 5);
                    if (!hit) {
                        std::string last = tail + std::string(data + (size > 4 ? size - 4 : 0),
                                                              size > 4 ? 4 : size);
                        tail = last.substr(last.size() > 4 ? last.size() - 4 : 0);
                        size = 0;
                        break;
                    }
                    consumed = static_cast<std::size_t>(static_cast<const char*>(hit) - data) + 5;
                }
                data += consumed;
                size -= consumed;
                inData = false;
                if (!sendAll(fd, "250 OK\r\n"))
                    return;
                continue;
            }
            const char* eol = static_cast<const char*>(std::memchr(data, '\n', size));
            if (!eol) {
                pending.append(data, size);
                break;
            }
            pending.append(data, static_cast<std::size_t>(eol - data) + 1);
            size -= static_cast<std::size_t>(eol - data) + 1;
            data = eol + 1;
            std::string verb = pending.substr(0, 4);
            for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            pending.clear();
            if (verb == "DATA") {
                inData = true;
                tail = "\r\n";  // the DATA line ended with a line end
                if (!sendAll(fd, "354 go ahead\r\n"))
                    return;
            } else if (verb == "QUIT") {
                sendAll(fd, "221 bye\r\n");
                return;
            } else if (verb == "EHLO") {
                if (!sendAll(fd, "250-sink\r\n250 8BITMIME\r\n"))
                    return;
            } else if (!sendAll(fd, "250 OK\r\n")) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fast_smtp_sink PORT READY_FILE\n");
        return 2;
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("fast_smtp_sink");
        return 1;
    }
    if (FILE* ready = std::fopen(argv[2], "w"))
        std::fclose(ready);
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        serve(client);
        close(client);
    }
}
