#pragma once

#include <memory>
#include <string>

#include "testing/process.h"
#include "testing/temp_dir.h"

// A real Dovecot POP3 server of its own, run in the foreground from a configuration in a
// temporary directory and listening on a free loopback port, with one mailbox (Maildir)
// and a plain-text password. Stopped by SIGTERM to its PID.
//
// With TLS, Dovecot would count every loopback client as secure (both ends 127.0.0.1) and let
// it log in without TLS; so the ports a client then sees belong to testing/tcp_relay.py, which
// passes each connection on to Dovecot from 127.0.0.2.
class DovecotServer {
  public:
    // The path of the dovecot program, or "" when it is not installed.
    static std::string programPath();

    DovecotServer(std::string user = "station", std::string password = "secret");
    ~DovecotServer();  // stops the server
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Serves TLS with this certificate (PEM files): STLS on port(), and POP3S (TLS from the
    // first byte) on tlsPort(). Plain-text logins are then refused on a connection that is not
    // secure yet ("-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS)
    // connections."). Called before start().
    void enableTls(const std::string& certFile, const std::string& keyFile);

    // Serves IMAP as well: on imapPort() (STARTTLS there with TLS) and, with TLS, IMAPS on
    // imapsPort(). Folder names are separated by "/". Without move the server does not offer
    // UID MOVE, without idle no IDLE. Called before start().
    void enableImap(bool move = true, bool idle = true);

    // Writes the configuration and starts the server; true once it greets on its port.
    // On failure the reason is in *why (with the end of Dovecot's log).
    // With samePorts, a server started before listens where it did.
    bool start(std::string* why, bool samePorts = false);
    // Ends every session of the user on the server's side (doveadm kick).
    bool kick();
    // SIGTERM, then waits for the server and its children to end.
    void stop();

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }  // 0 unless TLS is enabled
    int imapPort() const { return imapPort_; }    // 0 unless IMAP is enabled
    int imapsPort() const { return imapsPort_; }  // 0 unless IMAP and TLS are enabled
    // "127.0.0.1:port", as a server setting.
    std::string address() const;
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

    // Puts a message (CR LF or LF lines) into the mailbox the way a delivery agent does:
    // written into Maildir/tmp, then renamed into Maildir/new.
    void deliver(const std::string& message);
    // The messages in the mailbox: files in Maildir/new and Maildir/cur; of the folder
    // ("Tarnwick/Done") when one is named.
    int messageCount(const std::string& folder = "") const;
    // The folder's Maildir ("" for INBOX), where Dovecot keeps its UIDs (dovecot-uidlist).
    std::string folderDir(const std::string& folder = "") const;

  private:
    void writeConfig();
    std::string maildir() const;
    void giveToMailUser(const std::string& path) const;
    bool greets() const;
    bool tls() const { return !certFile_.empty(); }

    TempDir dir_;
    std::string user_;
    std::string password_;
    std::string certFile_;
    std::string keyFile_;
    int port_ = 0;  // where clients connect
    int tlsPort_ = 0;
    int ownPort_ = 0;  // where Dovecot listens: port_ and tlsPort_ unless there is a relay
    int ownTlsPort_ = 0;
    unsigned mailUid_ = 0;
    unsigned mailGid_ = 0;
    int delivered_ = 0;
    bool imap_ = false;
    bool imapMove_ = true;
    bool imapIdle_ = true;
    int imapPort_ = 0;
    int imapsPort_ = 0;
    int ownImapPort_ = 0;
    int ownImapsPort_ = 0;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<ChildProcess> relay_;
};
