#include "testing/smtp_server_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// A loopback port that was free a moment ago (bound, read back, closed).
int pickFreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ReceivedMessage readMessage(const std::string& stem) {
    ReceivedMessage message;
    message.content = slurp(stem + ".eml");
    std::istringstream meta(slurp(stem + ".meta"));
    std::string line;
    while (std::getline(meta, line)) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "mail_from")
            message.mailFrom = value;
        else if (key == "rcpt_to")
            message.rcptTos.push_back(value);
        else if (key == "authenticated")
            message.authenticated = value == "1";
    }
    return message;
}

}  // namespace

SmtpServerFixture::SmtpServerFixture(Options options) : options_(std::move(options)) {}

SmtpServerFixture::~SmtpServerFixture() {
    stop();
}

bool SmtpServerFixture::start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOn(pickFreePort()))
            return true;
    }
    return false;
}

bool SmtpServerFixture::startOn(int port) {
    stop();
    std::filesystem::remove(dir_.file("ready"));
    std::vector<std::string> argv = {
        kPython,  std::string(TARNWICK_SOURCE_DIR) + "/testing/smtp_sink.py",
        "--port", std::to_string(port),
        "--dir",  dir_.path()};
    if (!options_.user.empty()) {
        argv.insert(argv.end(), {"--user", options_.user, "--password", options_.password});
    }
    if (options_.authRequired)
        argv.push_back("--auth-required");
    if (options_.tlsMode != Tls::kNone) {
        argv.insert(argv.end(), {"--tls", options_.tlsMode == Tls::kSmtps ? "smtps" : "starttls",
                                 "--cert", options_.certFile, "--key", options_.keyFile});
    }
    if (options_.plainAuthOnly)
        argv.push_back("--auth-plain-only");
    if (options_.fqdnHelo)
        argv.push_back("--fqdn-helo");
    child_ = std::make_unique<ChildProcess>(argv, dir_.file("server.out"));
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        if (exists(dir_.file("ready"))) {
            port_ = port;
            return true;
        }
        if (child_->wait(0) != -1)  // ended: the port was taken or the server failed
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    child_.reset();
    return false;
}

void SmtpServerFixture::stop() {
    if (!child_)
        return;
    child_->signal(SIGTERM);
    if (child_->wait(5000) == -1)
        child_->signal(SIGKILL);
    child_.reset();  // reaps it
}

std::string SmtpServerFixture::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string SmtpServerFixture::output() const {
    return slurp(dir_.file("server.out"));
}

std::vector<ReceivedMessage> SmtpServerFixture::messages(std::size_t count, int timeoutMs) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> stems;
    for (;;) {
        stems.clear();
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            std::string name = entry.path().filename().string();
            if (name.size() > 5 && name.ends_with(".meta"))
                stems.push_back(dir_.file(name.substr(0, name.size() - 5)));
        }
        if (stems.size() >= count || std::chrono::steady_clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::sort(stems.begin(), stems.end());
    std::vector<ReceivedMessage> result;
    for (const std::string& stem : stems) result.push_back(readMessage(stem));
    return result;
}
