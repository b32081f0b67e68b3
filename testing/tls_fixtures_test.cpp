// The test servers really serve TLS with the test certificates: OpenSSL as the client,
// trusting only the test CA.

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "testing/dovecot_fixture.h"
#include "testing/smtp_server_fixture.h"
#include "testing/temp_dir.h"
#include "testing/test_certificates.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// One connection to a loopback port: plain text at first, TLS after startTls(). Every read
// gives up after 5 s.
class Client {
  public:
    explicit Client(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot connect to port " << port;
    }
    ~Client() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
        ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // The TLS handshake, trusting only caFile and expecting the name host: "" when it
    // succeeded, else what failed.
    std::string startTls(const std::string& caFile, const std::string& host) {
        ERR_clear_error();
        context_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        if (SSL_CTX_load_verify_locations(context_, caFile.c_str(), nullptr) != 1)
            return "cannot load " + caFile;
        ssl_ = SSL_new(context_);
        SSL_set_fd(ssl_, fd_);
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set1_host(ssl_, host.c_str());
        if (SSL_connect(ssl_) == 1) {
            secure_ = true;
            return "";
        }
        char error[256] = "no OpenSSL error";
        if (unsigned long code = ERR_get_error())
            ERR_error_string_n(code, error, sizeof error);
        return std::string(error) + " (" +
               X509_verify_cert_error_string(SSL_get_verify_result(ssl_)) + ")";
    }

    void send(const std::string& line) {
        std::string bytes = line + "\r\n";
        bool sent = secure_ ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) ==
                                  static_cast<int>(bytes.size())
                            : ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                  static_cast<ssize_t>(bytes.size());
        if (!sent)
            ADD_FAILURE() << "cannot send " << line;
    }

    // One line without its CR LF; what came before the end or the time limit.
    std::string line() {
        std::string text;
        char c;
        while ((secure_ ? SSL_read(ssl_, &c, 1) : ::recv(fd_, &c, 1, 0)) == 1) {
            if (c == '\n')
                break;
            text += c;
        }
        if (text.ends_with('\r'))
            text.pop_back();
        return text;
    }

    // An SMTP reply: its lines, joined with '\n'.
    std::string reply() {
        std::string text = line();
        for (std::string last = text; last.size() > 3 && last[3] == '-'; text += "\n" + last)
            last = line();
        return text;
    }

  private:
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool secure_ = false;
};

}  // namespace

TEST(TlsFixtures, DovecotServesPop3sAndStlsAndRefusesPlainTextLogins) {
    if (DovecotServer::programPath().empty())
        GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d)";
    TempDir dir;
    TestCertificates certificates;
    std::string why;
    ASSERT_TRUE(makeTestCertificates(dir.path(), &certificates, &why)) << why;
    DovecotServer dovecot("station", "s3cret");
    dovecot.enableTls(certificates.serverCert, certificates.serverKey);
    ASSERT_TRUE(dovecot.start(&why)) << why;
    ASSERT_NE(0, dovecot.tlsPort());

    Client pop3s(dovecot.tlsPort());
    ASSERT_EQ("", pop3s.startTls(certificates.caFile, "localhost"));
    EXPECT_THAT(pop3s.line(), StartsWith("+OK"));
    pop3s.send("USER station");
    EXPECT_THAT(pop3s.line(), StartsWith("+OK"));
    pop3s.send("PASS s3cret");
    EXPECT_EQ("+OK Logged in.", pop3s.line());

    Client plain(dovecot.port());
    EXPECT_THAT(plain.line(), StartsWith("+OK"));
    plain.send("USER station");
    EXPECT_EQ(
        "-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS) connections.",
        plain.line());
    plain.send("STLS");
    EXPECT_THAT(plain.line(), StartsWith("+OK"));
    ASSERT_EQ("", plain.startTls(certificates.caFile, "localhost"));
    plain.send("USER station");
    EXPECT_THAT(plain.line(), StartsWith("+OK"));
    plain.send("PASS s3cret");
    EXPECT_EQ("+OK Logged in.", plain.line());
}

TEST(TlsFixtures, SmtpServerSpeaksSmtpsAndStartTlsAndOnlyWithTheRightCertificate) {
    TempDir dir;
    TestCertificates c;
    std::string why;
    ASSERT_TRUE(makeTestCertificates(dir.path(), &c, &why)) << why;
    using Tls = SmtpServerFixture::Tls;

    // SMTPS, AUTH PLAIN alone; messages() gives the message as it does without TLS.
    SmtpServerFixture smtps({"robot", "pw", true, Tls::kSmtps, c.serverCert, c.serverKey, true});
    ASSERT_TRUE(smtps.start()) << smtps.output();
    Client client(smtps.port());
    ASSERT_EQ("", client.startTls(c.caFile, "localhost"));
    EXPECT_THAT(client.reply(), StartsWith("220 "));
    client.send("EHLO client.example");
    std::string ehlo = client.reply();
    EXPECT_THAT(ehlo, HasSubstr("250-AUTH PLAIN\n"));
    EXPECT_THAT(ehlo, Not(HasSubstr("LOGIN")));
    client.send("AUTH PLAIN AHJvYm90AHB3");  // "\0robot\0pw"
    EXPECT_THAT(client.reply(), StartsWith("235 "));
    client.send("MAIL FROM:<robot@example.org>");
    EXPECT_THAT(client.reply(), StartsWith("250 "));
    client.send("RCPT TO:<ann@example.org>");
    EXPECT_THAT(client.reply(), StartsWith("250 "));
    client.send("DATA");
    EXPECT_THAT(client.reply(), StartsWith("354 "));
    client.send("Subject: sealed\r\n\r\n..dot\r\n.");
    EXPECT_THAT(client.reply(), StartsWith("250 "));
    auto messages = smtps.messages(1);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("Subject: sealed\r\n\r\n.dot\r\n", messages[0].content);
    EXPECT_TRUE(messages[0].authenticated);

    // STARTTLS, required before MAIL and AUTH; AUTH offered once the connection is secure.
    SmtpServerFixture starttls({"robot", "pw", true, Tls::kStartTls, c.serverCert, c.serverKey});
    ASSERT_TRUE(starttls.start()) << starttls.output();
    Client upgraded(starttls.port());
    EXPECT_THAT(upgraded.reply(), StartsWith("220 "));
    upgraded.send("EHLO client.example");
    ehlo = upgraded.reply();
    EXPECT_THAT(ehlo, HasSubstr("250-STARTTLS\n"));
    EXPECT_THAT(ehlo, Not(HasSubstr("AUTH")));
    upgraded.send("MAIL FROM:<robot@example.org>");
    EXPECT_THAT(upgraded.reply(), StartsWith("530 "));
    upgraded.send("STARTTLS");
    EXPECT_THAT(upgraded.reply(), StartsWith("220 "));
    ASSERT_EQ("", upgraded.startTls(c.caFile, "localhost"));
    upgraded.send("EHLO client.example");
    EXPECT_THAT(upgraded.reply(), HasSubstr("250-AUTH LOGIN PLAIN\n"));
    upgraded.send("AUTH LOGIN");
    EXPECT_EQ("334 VXNlcm5hbWU6", upgraded.reply());  // "Username:"

    // A certificate from a CA the client does not trust, and one for another name.
    SmtpServerFixture untrusted({"", "", false, Tls::kSmtps, c.untrustedCert, c.untrustedKey});
    ASSERT_TRUE(untrusted.start()) << untrusted.output();
    EXPECT_THAT(Client(untrusted.port()).startTls(c.caFile, "localhost"),
                HasSubstr("unable to get local issuer certificate"));
    EXPECT_EQ("", Client(untrusted.port()).startTls(c.untrustedCaFile, "localhost"));
    SmtpServerFixture otherHost({"", "", false, Tls::kSmtps, c.otherHostCert, c.otherHostKey});
    ASSERT_TRUE(otherHost.start()) << otherHost.output();
    EXPECT_THAT(Client(otherHost.port()).startTls(c.caFile, "localhost"),
                HasSubstr("hostname mismatch"));
    EXPECT_EQ("", Client(otherHost.port()).startTls(c.caFile, "mail.other.example"));
}
