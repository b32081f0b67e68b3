#include "fuzz/fuzz_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace fuzz {

void fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "\n==== ORACLE FAILURE at %s:%d\n%s\n\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

void note(const std::string& text) {
    static const bool verbose = std::getenv("TARNWICK_FUZZ_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "%s\n", text.c_str());
}

std::string visible(std::string_view bytes, std::size_t max) {
    std::string out;
    for (unsigned char c : bytes.substr(0, max)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c >= 32 && c < 127 && c != '\\')
            out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (bytes.size() > max)
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

std::vector<std::string> splitRecords(std::string_view input) {
    std::vector<std::string> records;
    for (;;) {
        std::size_t at = input.find('\x1e');
        records.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos)
            return records;
        input.remove_prefix(at + 1);
    }
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t at = text.find('\n');
        lines.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos)
            break;
        text.remove_prefix(at + 1);
    }
    return lines;
}

bool hasUpperAscii(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

namespace {

int removeEntry(const char* path, const struct stat*, int, FTW*) {
    ::remove(path);
    return 0;
}

void removeTree(const std::string& path) {
    ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// The directory of this process under $TMPDIR, made at the first use, removed at exit (kept
// on the heap, so that it is still there when the exit handler runs).
const std::string& processRoot() {
    static const std::string* root = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarnwick-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            fail(__FILE__, __LINE__, "cannot make a directory under $TMPDIR: " + pattern);
        auto* made = new std::string(pattern + "/");
        std::atexit([] { removeTree(processRoot()); });
        return made;
    }();
    return *root;
}

}  // namespace

ScratchDir::ScratchDir() {
    static unsigned long count = 0;
    path_ = processRoot() + "s" + std::to_string(++count);
    if (::mkdir(path_.c_str(), 0700) != 0) {
        removeTree(path_);
        if (::mkdir(path_.c_str(), 0700) != 0)
            fail(__FILE__, __LINE__, "cannot make " + path_);
    }
    path_ += '/';
}

ScratchDir::~ScratchDir() {
    removeTree(path_);
}

void writeBytes(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                    0600);
    if (fd < 0)
        fail(__FILE__, __LINE__, "cannot write " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            fail(__FILE__, __LINE__, "cannot write " + path);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

std::string readBytes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string bytes;
    char block[65536];
    ssize_t n;
    while ((n = ::read(fd, block, sizeof block)) > 0) bytes.append(block, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        fail(__FILE__, __LINE__, "cannot make " + path + ": " + std::strerror(errno));
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

int referenceAtoi(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

bool isOneCrLfLine(std::string_view command) {
    return command.size() >= 2 && command.substr(command.size() - 2) == "\r\n" &&
           command.substr(0, command.size() - 2).find_first_of("\r\n") == std::string_view::npos;
}

bool strictBase64Decode(std::string_view text, std::string& bytes) {
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t group = 0; group < text.size(); group += 4) {
        bool last = group + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text[group + i];
            if (c == '=') {
                // Only in the last group, only in its third and fourth place, and a padded
                // third place needs a padded fourth.
                if (!last || i < 2)
                    return false;
                values[i] = 0;
                ++padding;
                continue;
            }
            if (padding > 0)
                return false;
            std::size_t v = alphabet.find(c);
            if (v == std::string_view::npos)
                return false;
            values[i] = static_cast<int>(v);
        }
        unsigned v = (unsigned(values[0]) << 18) | (unsigned(values[1]) << 12) |
                     (unsigned(values[2]) << 6) | unsigned(values[3]);
        if (padding == 2 && (values[1] & 0x0f) != 0)
            return false;
        if (padding == 1 && (values[2] & 0x03) != 0)
            return false;
        bytes += static_cast<char>(v >> 16);
        if (padding < 2)
            bytes += static_cast<char>((v >> 8) & 0xff);
        if (padding < 1)
            bytes += static_cast<char>(v & 0xff);
    }
    return true;
}

bool PeerSocket::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool PeerSocket::fill(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    char block[8192];
    ssize_t n = ::recv(fd_, block, sizeof block, 0);
    if (n <= 0)
        return false;
    pending_.append(block, static_cast<std::size_t>(n));
    return true;
}

bool PeerSocket::readLine(std::string& line, int timeoutMs) {
    for (;;) {
        std::size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            line = pending_.substr(0, lf + 1);
            pending_.erase(0, lf + 1);
            return true;
        }
        if (!fill(timeoutMs)) {
            line = pending_;
            pending_.clear();
            return false;
        }
    }
}

std::string PeerSocket::readRest(int timeoutMs) {
    while (fill(timeoutMs)) {
    }
    std::string rest;
    rest.swap(pending_);
    return rest;
}

void PeerSocket::shutdownWrite() {
    ::shutdown(fd_, SHUT_WR);
}

LoopbackPeer& LoopbackPeer::instance() {
    static LoopbackPeer peer;
    return peer;
}

LoopbackPeer::LoopbackPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::listen(listener_, 8) != 0)
        fail(__FILE__, __LINE__, "cannot listen on a loopback port");
    port_ = ntohs(address.sin_port);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0)
        fail(__FILE__, __LINE__, "cannot make an eventfd");
}

std::string LoopbackPeer::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void LoopbackPeer::start(std::function<void(PeerSocket&)> script) {
    finish();
    std::uint64_t drained;
    while (::read(stop_, &drained, sizeof drained) > 0) {
    }
    // A connection the last client opened besides the one served (a probe for TLS on a silent
    // server) waits in the backlog: it belongs to no script.
    for (pollfd waiting{listener_, POLLIN, 0}; ::poll(&waiting, 1, 0) == 1;) {
        int stale = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (stale < 0)
            break;
        ::close(stale);
    }
    thread_ = std::thread([this, script = std::move(script)] {
        // A client that gives up before it connects (a bad sender address, say) never comes:
        // finish() then ends the wait.
        pollfd p[2] = {{listener_, POLLIN, 0}, {stop_, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(p, 2, 10000);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0 || !(p[0].revents & POLLIN))
            return;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        PeerSocket socket(fd);
        script(socket);
        ::close(fd);
    });
}

void LoopbackPeer::finish() {
    if (!thread_.joinable())
        return;
    std::uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) != sizeof one)
        fail(__FILE__, __LINE__, "cannot stop the loopback peer");
    thread_.join();
}

}  // namespace fuzz
