// Minimal TCP client stream behind connection.h: buffered reads and writes on a non-blocking
// socket, each wait limited by the context's time limit.

#include "mail/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

class connection {
  public:
    explicit connection(const ConnectionContext& context) : context_(context) {}
    ~connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    int open(const char* host, const char* service);
    int readChar(char* c);
    int putData(const char* data, std::size_t length);
    int putBuffered(const char* data, std::size_t length);
    int flush();

  private:
    bool wait(short events) {
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, context_.timeoutMs) > 0;
    }

    ConnectionContext context_;
    int fd_ = -1;
    char receive_[512] = {};
    std::size_t readPos_ = 0, receiveCount_ = 0;
    char send_[512] = {};
    std::size_t sendCount_ = 0;
};

int connection::open(const char* host, const char* service) {
    std::string s = service ? service : "";
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
        return kGensockServiceNotFound;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoul(s)));
    if (inet_pton(AF_INET, host, &address.sin_addr) != 1) {
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
            return kGensockHostNotFound;
        address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return kGensockNoSocket;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return errno == ECONNREFUSED ? kGensockRefused : kGensockConnectError;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL, 0) | O_NONBLOCK);
    return kGensockOk;
}

int connection::readChar(char* c) {
    if (readPos_ >= receiveCount_) {
        wait(POLLIN);
        ssize_t n = ::recv(fd_, receive_, sizeof receive_, 0);
        if (n == 0)
            return kGensockConnectionLost;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? kGensockTimeout
                                                           : kGensockConnectionLost;
        receiveCount_ = static_cast<std::size_t>(n);
        readPos_ = 0;
    }
    *c = receive_[readPos_++];
    return kGensockOk;
}

int connection::putData(const char* data, std::size_t length) {
    while (length > 0) {
        if (!wait(POLLOUT))
            return kGensockTimeout;
        ssize_t n = ::send(fd_, data, length < 1024 ? length : 1024, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return kGensockConnectionLost;
        }
        if (context_.bytesSent)
            *context_.bytesSent += n;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return kGensockOk;
}

int connection::putBuffered(const char* data, std::size_t length) {
    while (length > 0) {
        std::size_t part = std::min(length, sizeof send_ - sendCount_);
        std::memcpy(send_ + sendCount_, data, part);
        sendCount_ += part;
        data += part;
        length -= part;
        if (sendCount_ == sizeof send_) {
            if (putData(send_, sendCount_) != 0)
                return 1;
            sendCount_ = 0;
        }
    }
    return 0;
}

int connection::flush() {
    int r = putData(send_, sendCount_);
    sendCount_ = 0;
    return r == 0 ? 0 : 1;
}

int gensock_open(const char* host, const char* service, const ConnectionContext& context,
                 connection** out) {
    *out = nullptr;
    auto* conn = new connection(context);
    int r = conn->open(host, service);
    if (r != 0) {
        delete conn;
        return r;
    }
    *out = conn;
    return kGensockOk;
}

int gensock_read_char(connection* conn, char* c) {
    return conn ? conn->readChar(c) : kGensockNoConnection;
}

int gensock_put_data(connection* conn, const char* data, std::size_t length) {
    return conn ? conn->putData(data, length) : kGensockNoConnection;
}

int gensock_put_buffered(connection* conn, const char* data, std::size_t length) {
    return conn ? conn->putBuffered(data, length) : 1;
}

int gensock_flush(connection* conn) {
    return conn ? conn->flush() : 1;
}

int gensock_release(connection* conn) {
    if (!conn)
        return kGensockNoConnection;
    delete conn;
    return kGensockOk;
}

void splitServerAndPort(const std::string& server, const char* defaultService, std::string& host,
                        std::string& service) {
    std::size_t colon = server.rfind(':');
    host = colon == std::string::npos ? server : server.substr(0, colon);
    service = colon == std::string::npos ? defaultService : server.substr(colon + 1);
}
