#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testing/process.h"
#include "testing/temp_dir.h"

// One message as the SMTP test server received it.
struct ReceivedMessage {
    std::string content;  // CR LF line ends, dot-unstuffed
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    bool authenticated = false;
};

// A real SMTP server for tests (aiosmtpd through testing/smtp_sink.py) on a free loopback
// port, with AUTH LOGIN (prompts "Username:" and "Password:") and AUTH PLAIN, offered without
// TLS unless a TLS mode is chosen. It keeps every message it accepts; the destructor stops it
// by its PID.
class SmtpServerFixture {
  public:
    enum class Tls {
        kNone,      // plain text only; AUTH offered without TLS
        kStartTls,  // STARTTLS offered and required before MAIL and AUTH; AUTH offered after it
        kSmtps,     // TLS from the first byte
    };

    struct Options {
        std::string user{};  // the one account AUTH accepts; empty: none
        std::string password{};
        bool authRequired = false;  // MAIL before a successful AUTH gets 530
        Tls tlsMode = Tls::kNone;
        std::string certFile{};  // the server's certificate and key (PEM), for a TLS mode
        std::string keyFile{};
        bool plainAuthOnly = false;  // AUTH PLAIN offered, AUTH LOGIN not
        bool fqdnHelo = false;       // a HELO or EHLO name without a dot gets 504
    };

    explicit SmtpServerFixture(Options options);
    SmtpServerFixture() : SmtpServerFixture(Options{}) {}
    ~SmtpServerFixture();
    SmtpServerFixture(const SmtpServerFixture&) = delete;
    SmtpServerFixture& operator=(const SmtpServerFixture&) = delete;

    // Starts the server and waits until it listens (a few tries on other ports if one was
    // taken meanwhile). Returns false when it never came up; the reason is in output().
    bool start();
    // Stops the server (SIGTERM, then SIGKILL after 5 s). Does nothing when it is not running.
    void stop();

    int port() const { return port_; }
    // "127.0.0.1:port", as an smtpServer setting.
    std::string address() const;
    // What the server program wrote to stdout and stderr.
    std::string output() const;

    // The messages received so far, oldest first, after waiting up to timeoutMs for at least
    // count of them to be complete.
    std::vector<ReceivedMessage> messages(std::size_t count, int timeoutMs = 5000) const;

  private:
    bool startOn(int port);

    Options options_;
    TempDir dir_;
    std::unique_ptr<ChildProcess> child_;
    int port_ = 0;
};
