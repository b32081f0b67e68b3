#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "mail/mime_composer.h"
#include "mail/pop3_reader.h"
#include "mail/server_address.h"
#include "mail/test_mail_context.h"
#include "testing/dovecot_fixture.h"
#include "testing/smtp_server_fixture.h"
#include "testing/test_certificates.h"

// Both dialogues over TLS against the real Dovecot and aiosmtpd, with a certificate authority
// made for the test and trusted through SSL_CERT_FILE.

using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

TEST(ServerSetting, ChoosesTheConnectionAndItsDefaultPort) {
    struct Case {
        const char* setting;
        const ServerForms& forms;
        bool known;
        const char* host;
        const char* service;
        TlsMode tls;
    } cases[] = {
        {"mail.example.org", kPopServerForms, true, "mail.example.org", "110", TlsMode::kPlain},
        {"10.0.0.1:1110", kPopServerForms, true, "10.0.0.1", "1110", TlsMode::kPlain},
        {"pop3s://mail.example.org", kPopServerForms, true, "mail.example.org", "995",
         TlsMode::kImplicit},
        {"POP3+STARTTLS://mail.example.org:2110/", kPopServerForms, true, "mail.example.org",
         "2110", TlsMode::kStartTls},
        {"smtps://smtp.example.org", kSmtpServerForms, true, "smtp.example.org", "465",
         TlsMode::kImplicit},
        {"smtp+starttls://smtp.example.org", kSmtpServerForms, true, "smtp.example.org", "587",
         TlsMode::kStartTls},
        {"smtps://smtp.example.org", kPopServerForms, false, "smtp.example.org", "110",
         TlsMode::kPlain},
    };
    for (const Case& c : cases) {
        ServerAddress address;
        EXPECT_EQ(c.known, parseServerSetting(c.setting, c.forms, address)) << c.setting;
        EXPECT_EQ(c.host, address.host) << c.setting;
        EXPECT_EQ(c.service, address.service) << c.setting;
        EXPECT_EQ(c.tls, address.tls) << c.setting;
    }
}

class TlsDialogueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(makeTestCertificates(certificateDir.path(), &certificates, &why)) << why;
        trust(certificates.caFile);
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    static void trust(const std::string& caFile) { setenv("SSL_CERT_FILE", caFile.c_str(), 1); }

    // A Dovecot serving STLS and POP3S with the given certificate, holding one request mail.
    bool startDovecot(const std::string& cert, const std::string& key) {
        if (DovecotServer::programPath().empty())
            return false;
        dovecot.enableTls(cert, key);
        std::string why;
        EXPECT_TRUE(dovecot.start(&why)) << why;
        dovecot.deliver("From: ann@example.org\r\n\r\nstationinfo=ann@example.org\r\n");
        env.settings.popUser = dovecot.user();
        env.settings.popPassword = dovecot.password();
        return true;
    }

    int readFrom(const std::string& server) {
        env.settings.popServer = server;
        return readMailbox(env.context, lines, error, &serverSaid);
    }

    TempDir certificateDir;
    TestCertificates certificates;
    TestMailContext env;
    DovecotServer dovecot{"station", "s3cret"};
    std::vector<CollectedLine> lines;
    std::string error, serverSaid;
};

TEST_F(TlsDialogueTest, PopOverStlsAndPop3sCollectsTheRequest) {
    if (!startDovecot(certificates.serverCert, certificates.serverKey))
        GTEST_SKIP() << "dovecot is not installed";
    // Without TLS the server refuses the login in words of its own.
    EXPECT_EQ(0, readFrom(dovecot.address()));
    EXPECT_EQ("User Login Error", error);
    EXPECT_THAT(serverSaid, HasSubstr("Plaintext authentication disallowed"));

    std::string port = std::to_string(dovecot.port());
    EXPECT_EQ(1, readFrom("pop3+starttls://localhost:" + port)) << error;
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("stationinfo=ann@example.org", lines[0].text);

    dovecot.deliver("From: bob@example.org\r\n\r\nstationinfo=bob@example.org\r\n");
    EXPECT_EQ(1, readFrom("pop3s://127.0.0.1:" + std::to_string(dovecot.tlsPort()))) << error;
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("stationinfo=bob@example.org", lines[0].text);
}

TEST_F(TlsDialogueTest, UntrustedOrMisnamedCertificatesAreRefusedBeforeTheLogin) {
    if (!startDovecot(certificates.otherHostCert, certificates.otherHostKey))
        GTEST_SKIP() << "dovecot is not installed";
    std::string tlsPort = std::to_string(dovecot.tlsPort());
    EXPECT_EQ(0, readFrom("pop3s://localhost:" + tlsPort));
    EXPECT_EQ(
        "TLS certificate of localhost not trusted: hostname mismatch (it names "
        "mail.other.example)",
        error);
    // A certificate, even one not trusted, tells that the silent port speaks TLS first.
    env.context.timeoutMs = 2000;
    EXPECT_EQ(0, readFrom("pop3+starttls://localhost:" + tlsPort));
    EXPECT_EQ("POP Connect Error: localhost sent no greeting; the server at localhost:" + tlsPort +
                  " speaks TLS from the first byte: use pop3s://localhost:" + tlsPort,
              error);
    trust(certificates.untrustedCaFile);
    EXPECT_EQ(0, readFrom("pop3+starttls://localhost:" + std::to_string(dovecot.port())));
    EXPECT_EQ("TLS certificate of localhost not trusted: unable to get local issuer certificate",
              error);
    EXPECT_THAT(serverSaid, IsEmpty());
    EXPECT_EQ(1, dovecot.messageCount());  // the mail stays on the server
}

TEST_F(TlsDialogueTest, SmtpOverStartTlsAndSmtpsLogsIn) {
    SmtpServerFixture::Options options{.user = "robot", .password = "s3cret", .authRequired = true};
    options.certFile = certificates.serverCert;
    options.keyFile = certificates.serverKey;
    options.tlsMode = SmtpServerFixture::Tls::kStartTls;
    SmtpServerFixture startTls(options);
    options.tlsMode = SmtpServerFixture::Tls::kSmtps;
    options.plainAuthOnly = true;
    SmtpServerFixture smtps(options);
    ASSERT_TRUE(startTls.start()) << startTls.output();
    ASSERT_TRUE(smtps.start()) << smtps.output();
    for (auto [server, setting] : {std::pair{&startTls, "smtp+starttls://localhost:"},
                                   std::pair{&smtps, "smtps://localhost:"}}) {
        env.settings.smtpServer = setting + std::to_string(server->port());
        MailJob job = testJob();
        env.settings.smtpAuth = 1;
        env.settings.smtpUser = "robot";
        env.settings.smtpPassword = "s3cret";
        std::string sendError;
        EXPECT_EQ(1, sendMailJob(env.context, job, sendError)) << setting << sendError;
        auto messages = server->messages(1);
        ASSERT_EQ(1u, messages.size()) << setting;
        EXPECT_TRUE(messages[0].authenticated) << setting;
    }
}

TEST_F(TlsDialogueTest, NoStartTlsOfferAndASilentHandshakeEndTheDialogue) {
    SmtpServerFixture plain(SmtpServerFixture::Options{.user = "robot", .password = "s3cret"});
    ASSERT_TRUE(plain.start()) << plain.output();
    env.settings.smtpServer = "smtp+starttls://127.0.0.1:" + std::to_string(plain.port());
    MailJob job = testJob();
    env.settings.smtpAuth = 1;
    env.settings.smtpUser = "robot";
    env.settings.smtpPassword = "s3cret";
    std::string sendError;
    EXPECT_EQ(0, sendMailJob(env.context, job, sendError));
    EXPECT_EQ("SMTP server 127.0.0.1 does not offer STARTTLS: no password sent", sendError);
    EXPECT_THAT(plain.messages(0), IsEmpty());

    env.context.timeoutMs = 300;
    IdlePort silent;
    EXPECT_EQ(0, readFrom("pop3s://" + silent.address()));
    EXPECT_EQ("TLS handshake with 127.0.0.1 timed out", error);
}

// A setting whose TLS form does not fit the server ends with the server's words and the form to
// use, and no password goes to a server that offers no login.
TEST_F(TlsDialogueTest, AMismatchedTlsFormNamesTheFormToUse) {
    SmtpServerFixture::Options options{.user = "robot", .password = "s3cret"};
    options.certFile = certificates.serverCert;
    options.keyFile = certificates.serverKey;
    options.tlsMode = SmtpServerFixture::Tls::kStartTls;
    SmtpServerFixture startTls(options);
    SmtpServerFixture plain(SmtpServerFixture::Options{});
    options.tlsMode = SmtpServerFixture::Tls::kSmtps;
    SmtpServerFixture smtps(options);
    ASSERT_TRUE(startTls.start()) << startTls.output();
    ASSERT_TRUE(plain.start()) << plain.output();
    ASSERT_TRUE(smtps.start()) << smtps.output();
    const std::string tlsAt = "127.0.0.1:" + std::to_string(startTls.port());
    const std::string plainAt = "127.0.0.1:" + std::to_string(plain.port());
    const std::string smtpsAt = "127.0.0.1:" + std::to_string(smtps.port());
    const std::string speaksTls =
        "sent no greeting; the server at " + smtpsAt + " speaks TLS from the first byte: use smtps://" + smtpsAt;
    struct Case {
        std::string setting;
        bool login;
        std::string error;  // what the failure says, in part
        std::string entry;  // an entry it leaves, in part
    } cases[] = {
        {tlsAt, true, "offers no login before STARTTLS: use smtp+starttls://" + tlsAt, ""},
        {tlsAt, false, "SMTP server error",
         "SMTP hint: the server asks for TLS: use smtp+starttls://" + tlsAt},
        {"smtps://" + plainAt, false,
         "the server at 127.0.0.1:" + std::to_string(plain.port()) +
             " speaks plain text first: use smtp+starttls://" + plainAt,
         ""},
        {"smtp+starttls://" + smtpsAt, true, speaksTls, ""},
        {smtpsAt, false, speaksTls, ""},
    };
    for (const Case& c : cases) {
        TestMailContext context;
        context.context.timeoutMs = 2000;
        context.settings.smtpServer = c.setting;
        context.settings.smtpAuth = c.login ? 1 : 0;
        context.settings.smtpUser = "robot";
        context.settings.smtpPassword = "s3cret";
        std::string sendError;
        SendFailure failure = SendFailure::kTryAgain;
        EXPECT_EQ(0, sendMailJob(context.context, testJob(), sendError, &failure));
        EXPECT_THAT(sendError, HasSubstr(c.error)) << c.setting;
        EXPECT_EQ(SendFailure::kStationSide, failure) << c.setting;
        EXPECT_THAT(context.logFile(), HasSubstr(c.entry)) << c.setting;
    }
    EXPECT_THAT(startTls.messages(0), IsEmpty());
    EXPECT_THAT(plain.messages(0), IsEmpty());
    EXPECT_THAT(smtps.messages(0), IsEmpty());
}

}  // namespace
