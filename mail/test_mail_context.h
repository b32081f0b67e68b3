#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/mail_context.h"
#include "mail/mail_job.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

// Everything a mail dialogue needs, for tests: a fake clock at Wed 02/19/2003 07:05:09 UTC, a
// log whose file lives in a fresh directory, zero counters and short socket waits.
struct TestMailContext {
    TestMailContext() { resetSettings(settings); }

    std::string logFile() const { return readFile(dir.file(kLogFileName)); }

    TempDir dir;
    FakeClock clock;
    MailerSettings settings;
    ActivityLog log{clock, dir.file(kLogFileName)};
    Statistics statistics;
    MailContext context{settings, log, statistics, clock, 2000};
};

// The text with the value of its Message-ID line, new for every message, replaced by "<id>".
inline std::string withFixedMessageId(std::string text) {
    std::size_t start = text.find("\r\nMessage-ID: ");
    if (start == std::string::npos)
        return text;
    start += 14;
    std::size_t end = text.find("\r\n", start);
    return text.replace(start, end - start, "<id>");
}

// A job from the robot to ann with the given body and no attachments; the SMTP server is the
// settings' own.
inline MailJob testJob(const std::string& body = "Hello.\r\n") {
    MailJob job;
    job.to = "ann@example.org";
    job.from = "Station ANMO <robot@anmo.example.org>";
    job.subject = "Your Event File";
    job.body = body;
    return job;
}

// A listening loopback socket that only counts whether anyone connected.
class IdlePort {
  public:
    IdlePort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(0, bind(fd_, reinterpret_cast<sockaddr*>(&addr), len));
        EXPECT_EQ(0, listen(fd_, 4));
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~IdlePort() { close(fd_); }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    bool connected() {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0)
            return false;
        close(c);
        return true;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};
