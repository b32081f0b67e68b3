#include "testing/dovecot_fixture.h"

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Where the relay in front of a Dovecot with TLS connects from: not Dovecot's own address.
constexpr const char* kRelaySource = "127.0.0.2";

// As many different loopback ports as asked for, free a moment ago (bound together, then closed).
std::vector<int> freeLoopbackPorts(int count) {
    std::vector<int> fds, ports;
    for (int n = 0; n < count; ++n) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        fds.push_back(fd);
        ports.push_back(port);
    }
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    return ports;
}

std::string lastLines(const std::string& text, std::size_t count) {
    std::size_t at = text.size();
    for (std::size_t n = 0; n <= count && at != std::string::npos && at > 0; ++n)
        at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

}  // namespace

std::string DovecotServer::programPath() {
    for (const char* path : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return "";
}

DovecotServer::DovecotServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {}

DovecotServer::~DovecotServer() {
    stop();
}

void DovecotServer::enableImap(bool move, bool idle) {
    imap_ = true;
    imapMove_ = move;
    imapIdle_ = idle;
}

void DovecotServer::enableTls(const std::string& certFile, const std::string& keyFile) {
    certFile_ = certFile;
    keyFile_ = keyFile;
}

std::string DovecotServer::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string DovecotServer::maildir() const {
    return dir_.path() + "home/" + user_ + "/Maildir/";
}

void DovecotServer::giveToMailUser(const std::string& path) const {
    if (geteuid() == 0 && chown(path.c_str(), mailUid_, mailGid_) != 0)
        ADD_FAILURE() << "cannot chown " << path;
}

// The configuration of one private instance, from testing/dovecot.conf.in.
void DovecotServer::writeConfig() {
    std::string loginUser, internalUser, internalGroup;
    if (geteuid() == 0) {
        // Mail is not served as uid 0: the mailbox belongs to the dovecot user.
        passwd* dovecot = getpwnam("dovecot");
        mailUid_ = dovecot ? dovecot->pw_uid : 65534;
        mailGid_ = dovecot ? dovecot->pw_gid : 65534;
        loginUser = "dovenull";
        internalUser = internalGroup = "dovecot";
    } else {
        mailUid_ = geteuid();
        mailGid_ = getegid();
        passwd* me = getpwuid(mailUid_);
        loginUser = internalUser = me ? me->pw_name : "nobody";
        group* mine = getgrgid(mailGid_);
        internalGroup = mine ? mine->gr_name : loginUser;
    }
    const std::string& d = dir_.path();
    std::string config = readFile(std::string(TARNWICK_SOURCE_DIR) + "/testing/dovecot.conf.in");
    const std::pair<std::string, std::string> values[] = {
        {"DIR", d},
        {"PORT", std::to_string(ownPort_)},
        {"TLS_PORT", std::to_string(ownTlsPort_)},
        {"SSL", tls() ? "yes" : "no"},
        {"SSL_CERT", tls() ? "<" + certFile_ : ""},
        {"SSL_KEY", tls() ? "<" + keyFile_ : ""},
        {"DISABLE_PLAINTEXT_AUTH", tls() ? "yes" : "no"},
        {"LOGIN_USER", loginUser},
        {"INTERNAL_USER", internalUser},
        {"INTERNAL_GROUP", internalGroup},
        {"UID", std::to_string(mailUid_)},
        {"GID", std::to_string(mailGid_)}};
    for (const auto& [name, value] : values) {
        std::string placeholder = "${" + name + "}";
        for (std::size_t at; (at = config.find(placeholder)) != std::string::npos;)
            config.replace(at, placeholder.size(), value);
    }
    writeFile(d + "dovecot.conf", config);
    if (imap_) {
        // Dovecot 2.3 offers these after login; the list without MOVE stands for a server
        // that does not have it.
        std::string capabilities =
            "IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE SORT THREAD=REFERENCES "
            "MULTIAPPEND UNSELECT CHILDREN NAMESPACE UIDPLUS LIST-EXTENDED I18NLEVEL=1 "
            "CONDSTORE QRESYNC ESEARCH ESORT SEARCHRES WITHIN CONTEXT=SEARCH LIST-STATUS "
            "BINARY SPECIAL-USE LITERAL+";
        if (imapMove_)
            capabilities += " MOVE";
        if (imapIdle_)
            capabilities += " IDLE";
        writeFile(d + "imap.conf",
                  "protocols = pop3 imap\n"
                  "namespace inbox {\n  inbox = yes\n  separator = /\n}\n"
                  "mailbox_idle_check_interval = 1 secs\n"
                  "imap_capability = " + capabilities + "\n"
                  "service imap-login {\n  chroot =\n"
                  "  inet_listener imap {\n    address = 127.0.0.1\n    port = " +
                      std::to_string(ownImapPort_) + "\n  }\n"
                  "  inet_listener imaps {\n    address = 127.0.0.1\n    port = " +
                      std::to_string(ownImapsPort_) + "\n    ssl = yes\n  }\n}\n");
    }
    writeFile(d + "users", user_ + ":{PLAIN}" + password_ + "\n");
}

bool DovecotServer::kick() {
    std::string output;
    return runCommand({"/usr/bin/doveadm", "-c", dir_.file("dovecot.conf"), "kick", user_}, 10000,
                      &output) == 0;
}

bool DovecotServer::start(std::string* why, bool samePorts) {
    std::vector<int> ports = freeLoopbackPorts(tls() ? 8 : 2);
    if (samePorts && port_ != 0)
        ports = {port_,      imapPort_,    ownPort_,   tlsPort_,
                 ownTlsPort_, ownImapPort_, imapsPort_, ownImapsPort_};
    port_ = ownPort_ = ports[0];
    tlsPort_ = ownTlsPort_ = 0;
    imapPort_ = ownImapPort_ = imap_ ? ports[1] : 0;
    imapsPort_ = ownImapsPort_ = 0;
    if (tls()) {
        ownPort_ = ports[2];
        tlsPort_ = ports[3];
        ownTlsPort_ = ports[4];
        if (imap_) {
            ownImapPort_ = ports[5];
            imapsPort_ = ports[6];
            ownImapsPort_ = ports[7];
        }
    }
    writeConfig();
    // Dovecot's own users must reach the sockets and the mailbox under the directory.
    chmod(dir_.path().c_str(), 0755);
    for (const char* sub : {"home", "run", "state"}) fs::create_directories(dir_.path() + sub);
    for (const char* sub : {"", "tmp", "new", "cur"}) fs::create_directories(maildir() + sub);
    for (const std::string& path : {dir_.path() + "home", dir_.path() + "home/" + user_, maildir(),
                                    maildir() + "tmp", maildir() + "new", maildir() + "cur"})
        giveToMailUser(path);

    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{programPath(), "-F", "-c", dir_.file("dovecot.conf")},
        dir_.file("dovecot.out"));
    if (tls()) {
        std::vector<std::string> argv{
            "/usr/bin/python3", std::string(TARNWICK_SOURCE_DIR) + "/testing/tcp_relay.py",
            "--source", kRelaySource, std::to_string(port_) + ":" + std::to_string(ownPort_),
            std::to_string(tlsPort_) + ":" + std::to_string(ownTlsPort_)};
        if (imap_) {
            argv.push_back(std::to_string(imapPort_) + ":" + std::to_string(ownImapPort_));
            argv.push_back(std::to_string(imapsPort_) + ":" + std::to_string(ownImapsPort_));
        }
        relay_ = std::make_unique<ChildProcess>(argv, dir_.file("relay.out"));
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        if (greets())
            return true;
        if (process_->wait(0) != -1)
            break;  // it ended: a configuration or permission problem
        if (relay_ && relay_->wait(0) != -1)
            break;  // a port was taken, or no Python
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string log;
    for (const char* name : {"dovecot.out", "dovecot.log", "relay.out"}) {
        if (fs::exists(dir_.file(name)))
            log += readFile(dir_.file(name));
    }
    if (why)
        *why =
            "dovecot did not start on port " + std::to_string(port_) + ":\n" + lastLines(log, 20);
    stop();
    return false;
}

// True when a connection to the port is answered with "+OK".
bool DovecotServer::greets() const {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        pollfd p{fd, POLLIN, 0};
        char reply[3] = {};
        ok = ::poll(&p, 1, 2000) == 1 && ::recv(fd, reply, sizeof reply, MSG_WAITALL) == 3 &&
             std::string(reply, 3) == "+OK";
        ::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL);
    }
    ::close(fd);
    return ok;
}

void DovecotServer::stop() {
    if (relay_) {
        if (relay_->signal(SIGTERM) && relay_->wait(5000) == -1)
            ADD_FAILURE() << "the relay in front of dovecot did not end within 5 s of SIGTERM";
        relay_.reset();  // kills it if need be
    }
    if (!process_)
        return;
    // A server that has ended already (and been reaped by start()) is not waited for.
    if (process_->signal(SIGTERM) && process_->wait(10000) == -1)
        ADD_FAILURE() << "dovecot did not end within 10 s of SIGTERM";
    process_.reset();
}

void DovecotServer::deliver(const std::string& message) {
    std::string name = std::to_string(time(nullptr)) + ".M" + std::to_string(++delivered_) + "P" +
                       std::to_string(getpid()) + ".tarnwick";
    std::string temporary = maildir() + "tmp/" + name;
    writeFile(temporary, message);
    giveToMailUser(temporary);
    if (rename(temporary.c_str(), (maildir() + "new/" + name).c_str()) != 0)
        ADD_FAILURE() << "cannot move " << temporary << " into new/";
}

std::string DovecotServer::folderDir(const std::string& folder) const {
    if (folder.empty())
        return maildir();
    std::string name = folder;  // Maildir++: ".Tarnwick.Done"
    std::replace(name.begin(), name.end(), '/', '.');
    return maildir() + "." + name + "/";
}

int DovecotServer::messageCount(const std::string& folder) const {
    int count = 0;
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folderDir(folder) + sub, ec)) {
            if (entry.is_regular_file())
                ++count;
        }
    }
    return count;
}
