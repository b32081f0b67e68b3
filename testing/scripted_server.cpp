#include "testing/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

using SteadyClock = std::chrono::steady_clock;

// A loopback TCP socket bound to a port the system picks; -1 on failure.
int bindLoopback(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// The bytes shown in a failure text: printable ASCII as it is, the rest as \r, \n or \xNN;
// long texts are cut.
std::string visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 200)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c >= 32 && c < 127)
            out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (bytes.size() > 200)
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace

ScriptedServer::ScriptedServer() = default;

ScriptedServer::~ScriptedServer() {
    join();
    if (listener_ >= 0)
        ::close(listener_);
}

ScriptedServer& ScriptedServer::send(std::string bytes) {
    steps_.push_back({Step::Send, std::move(bytes)});
    return *this;
}

ScriptedServer& ScriptedServer::sendLine(const std::string& line) {
    return send(line + "\r\n");
}

ScriptedServer& ScriptedServer::expectLine(std::string line) {
    steps_.push_back({Step::ExpectLine, std::move(line)});
    return *this;
}

ScriptedServer& ScriptedServer::expectData() {
    steps_.push_back({Step::ExpectData, {}});
    return *this;
}

ScriptedServer& ScriptedServer::expectBytes(std::string bytes) {
    steps_.push_back({Step::ExpectBytes, std::move(bytes)});
    return *this;
}

ScriptedServer& ScriptedServer::close() {
    steps_.push_back({Step::Close, {}});
    return *this;
}

ScriptedServer& ScriptedServer::silent(int milliseconds) {
    steps_.push_back({Step::Silent, {}, milliseconds});
    return *this;
}

void ScriptedServer::start() {
    listener_ = bindLoopback(&port_);
    if (listener_ < 0 || ::listen(listener_, 4) != 0) {
        fail("cannot listen on a loopback port");
        return;
    }
    thread_ = std::thread([this] { run(); });
}

void ScriptedServer::join() {
    if (thread_.joinable())
        thread_.join();
}

std::string ScriptedServer::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> ScriptedServer::failures() {
    join();
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::string ScriptedServer::received() {
    join();
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedServer::dataBlocks() {
    join();
    std::lock_guard<std::mutex> lock(mutex_);
    return dataBlocks_;
}

void ScriptedServer::fail(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(std::move(text));
}

void ScriptedServer::run() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, readLimitMs_) != 1) {
        fail("no client connected");
        return;
    }
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client_ < 0) {
        fail("accept failed");
        return;
    }
    bool closed = false;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (steps_[i].kind == Step::Close) {
            closed = true;
            break;
        }
        if (!runStep(steps_[i])) {
            fail("script stopped at step " + std::to_string(i + 1));
            closed = true;
            break;
        }
    }
    if (!closed)
        drainUntilClosed();
    ::shutdown(client_, SHUT_WR);
    ::close(client_);
    client_ = -1;
}

// Plays one step; false when the client departed from it (the failure is recorded).
bool ScriptedServer::runStep(const Step& step) {
    switch (step.kind) {
        case Step::Send: {
            std::size_t done = 0;
            while (done < step.bytes.size()) {
                ssize_t n = ::send(client_, step.bytes.data() + done, step.bytes.size() - done,
                                   MSG_NOSIGNAL);
                if (n <= 0)
                    return true;  // the client is gone; the next expectation will tell
                done += static_cast<std::size_t>(n);
            }
            return true;
        }
        case Step::Silent:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.milliseconds));
            return true;
        case Step::ExpectLine: {
            std::string line;
            ReadResult r = readLine(line);
            if (r != ReadResult::Ok) {
                fail("expected \"" + visible(step.bytes) + "\", but the client " +
                     (r == ReadResult::Closed ? "closed the connection" : "sent nothing") +
                     (line.empty() ? "" : " after \"" + visible(line) + "\""));
                return false;
            }
            if (line != step.bytes + "\r\n") {
                fail("expected \"" + visible(step.bytes) + "\\r\\n\", got \"" + visible(line) +
                     "\"");
                return false;
            }
            return true;
        }
        case Step::ExpectData: {
            std::string data;
            for (;;) {
                std::string line;
                ReadResult r = readLine(line);
                if (r != ReadResult::Ok) {
                    fail("expected data ended by \".\", but the client " +
                         std::string(r == ReadResult::Closed ? "closed the connection"
                                                             : "sent nothing"));
                    return false;
                }
                if (line == ".\r\n")
                    break;
                data += line;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            dataBlocks_.push_back(std::move(data));
            return true;
        }
        case Step::ExpectBytes: {
            std::string bytes;
            ReadResult r = readExactly(step.bytes.size(), bytes);
            if (r != ReadResult::Ok || bytes != step.bytes) {
                fail("expected " + std::to_string(step.bytes.size()) + " bytes \"" +
                     visible(step.bytes) + "\", got \"" + visible(bytes) + "\"");
                return false;
            }
            return true;
        }
        case Step::Close:
            return true;
    }
    return true;
}

// After the script: whatever the client still sends is extra; it must then close.
void ScriptedServer::drainUntilClosed() {
    std::string extra;
    std::swap(extra, pending_);
    ReadResult r;
    while ((r = fill()) == ReadResult::Ok) {
        extra += pending_;
        pending_.clear();
    }
    if (!extra.empty())
        fail("client sent more than the script expected: \"" + visible(extra) + "\"");
    if (r == ReadResult::TimedOut)
        fail("client did not close the connection");
}

// Takes one line, up to and including its LF, from what was received. On failure line holds
// what arrived of it.
ScriptedServer::ReadResult ScriptedServer::readLine(std::string& line) {
    for (;;) {
        std::size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            line = pending_.substr(0, lf + 1);
            pending_.erase(0, lf + 1);
            return ReadResult::Ok;
        }
        ReadResult r = fill();
        if (r != ReadResult::Ok) {
            line = pending_;
            pending_.clear();
            return r;
        }
    }
}

ScriptedServer::ReadResult ScriptedServer::readExactly(std::size_t count, std::string& bytes) {
    while (pending_.size() < count) {
        ReadResult r = fill();
        if (r != ReadResult::Ok) {
            bytes = pending_;
            pending_.clear();
            return r;
        }
    }
    bytes = pending_.substr(0, count);
    pending_.erase(0, count);
    return ReadResult::Ok;
}

// Receives one block into pending_, waiting up to the read limit.
ScriptedServer::ReadResult ScriptedServer::fill() {
    pollfd p{client_, POLLIN, 0};
    int ready = ::poll(&p, 1, readLimitMs_);
    if (ready == 0)
        return ReadResult::TimedOut;
    char block[4096];
    ssize_t n = ::recv(client_, block, sizeof block, 0);
    if (n <= 0)
        return ReadResult::Closed;
    pending_.append(block, static_cast<std::size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(block, static_cast<std::size_t>(n));
    return ReadResult::Ok;
}

RefusingPort::RefusingPort() {
    socket_ = bindLoopback(&port_);
}

RefusingPort::~RefusingPort() {
    if (socket_ >= 0)
        ::close(socket_);
}

UnansweredPort::UnansweredPort() {
    socket_ = bindLoopback(&port_);
    if (socket_ < 0)
        return;
    // A small fixed receive buffer (inherited by the connections), so the socket buffers fill
    // after a few hundred kilobytes and then stay full.
    int size = 4096;
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::listen(socket_, 4);
}

UnansweredPort::~UnansweredPort() {
    if (socket_ >= 0)
        ::close(socket_);
}

int freeLoopbackPort() {
    int port = 0;
    int fd = bindLoopback(&port);
    if (fd < 0)
        return 0;
    ::close(fd);
    return port;
}
