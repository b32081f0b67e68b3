// The SMTP client and the MIME composer against a real SMTP server (aiosmtpd).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "settings/base64.h"
#include "mail/mime_composer.h"
#include "mail/smtp_client.h"
#include "mail/test_mail_context.h"
#include "testing/smtp_server_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

// The text of the attachment part named name: its base64 lines joined, decoded.
std::string attachmentBytes(const std::string& message, const std::string& name) {
    std::string header = "filename=\"" + name + "\"\r\n\r\n";
    std::size_t begin = message.find(header);
    if (begin == std::string::npos)
        return "<no part " + name + ">";
    begin += header.size();
    std::size_t end = message.find("--=====================_", begin);
    std::string lines = message.substr(begin, end - begin);
    Base64Coder coder;
    coder.decode(lines.data(), lines.size());  // the line ends are white space
    return std::string(reinterpret_cast<const char*>(coder.decodedData()), coder.decodedLength());
}

std::string binaryFile(std::size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<char>(seed >> 24);
    }
    return bytes;
}

}  // namespace

TEST(SmtpDelivery, MessageWithTwoAttachmentsArrivesAsComposed) {
    SmtpServerFixture server;
    ASSERT_TRUE(server.start()) << server.output();
    TestMailContext env;
    // Exact multiples of three so that decoding gives back exactly the file's bytes.
    std::string first = binaryFile(3 * 40000, 1), second = binaryFile(3 * 33, 2);
    writeFile(env.dir.file("ANMO.BHZ.mqx"), first);
    writeFile(env.dir.file("ANMO.BHN.mqx"), second);
    env.settings.smtpServer = server.address();
    MailJob job = testJob("Your files.\r\n.\r\n..two dots\r\n");
    job.to = "ann@example.org, bob@example.org,";
    job.subject = "Your Event Files";
    job.attachments[0] = env.dir.file("ANMO.BHZ.mqx");
    job.attachments[1] = env.dir.file("ANMO.BHN.mqx");
    job.attachmentCount = 2;

    std::string composed, error;
    ASSERT_EQ(1, MakeMimeMsg(env.clock, job, composed, error));
    EXPECT_EQ(1, sendMailJob(env.context, job, error)) << error;
    EXPECT_EQ("", error);
    EXPECT_THAT(env.log.entries(), IsEmpty());

    auto messages = server.messages(1);
    ASSERT_EQ(1u, messages.size());
    const ReceivedMessage& m = messages[0];
    EXPECT_EQ("robot@anmo.example.org", m.mailFrom);
    EXPECT_THAT(m.rcptTos, ElementsAre("ann@example.org", "bob@example.org"));
    EXPECT_FALSE(m.authenticated);
    EXPECT_EQ(withFixedMessageId(composed), withFixedMessageId(m.content));
    EXPECT_EQ(first, attachmentBytes(m.content, "ANMO.BHZ.mqx"));
    EXPECT_EQ(second, attachmentBytes(m.content, "ANMO.BHN.mqx"));
    EXPECT_GT(env.statistics.bytesSent, static_cast<std::int64_t>(composed.size()));
}

TEST(SmtpDelivery, AuthLoginWithTheRightPasswordIsAccepted) {
    SmtpServerFixture server({.user = "robot", .password = "s3cret", .authRequired = true});
    ASSERT_TRUE(server.start()) << server.output();
    TestMailContext env;
    env.settings.smtpServer = server.address();
    MailJob job = testJob();
    env.settings.smtpAuth = 1;
    env.settings.smtpUser = "robot";
    env.settings.smtpPassword = "s3cret";
    std::string error;
    EXPECT_EQ(1, sendMailJob(env.context, job, error)) << error;
    auto messages = server.messages(1);
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(messages[0].authenticated);
    std::string composed;
    ASSERT_EQ(1, MakeMimeMsg(env.clock, job, composed, error));
    EXPECT_EQ(withFixedMessageId(composed), withFixedMessageId(messages[0].content));
}

TEST(SmtpDelivery, WrongPasswordAndMissingAuthAreRefused) {
    SmtpServerFixture server({.user = "robot", .password = "s3cret", .authRequired = true});
    ASSERT_TRUE(server.start()) << server.output();
    TestMailContext env;
    env.settings.smtpServer = server.address();
    MailJob job = testJob();
    env.settings.smtpAuth = 1;
    env.settings.smtpUser = "robot";
    env.settings.smtpPassword = "wrong";
    std::string error;
    EXPECT_EQ(0, sendMailJob(env.context, job, error));
    EXPECT_EQ("Bad authentication response from mail server", error);
    EXPECT_THAT(env.log.entries(),
                ElementsAre("02/19 07:05:09 SMTP Error: Bad authentication response from mail "
                            "server",
                            "02/19 07:05:09 SMTP server said: 535 5.7.8 Authentication "
                            "credentials invalid",
                            "02/19 07:05:09 SendMimeMsg Error=Bad authentication response "
                            "from mail server"));

    env.settings.smtpAuth = 0;  // HELO only: the server wants AUTH before MAIL
    EXPECT_EQ(0, sendMailJob(env.context, job, error));
    EXPECT_EQ("SMTP Error, server does not like From: field.", error);
    EXPECT_THAT(server.messages(0, 0), IsEmpty());
    EXPECT_EQ(
        "02/19/03 07:05:09 SMTP Error: Bad authentication response from mail server\n"
        "02/19/03 07:05:09 SMTP server said: 535 5.7.8 Authentication credentials invalid\n"
        "02/19/03 07:05:09 SendMimeMsg Error=Bad authentication response from mail server\n"
        "02/19/03 07:05:09 SMTP Error: SMTP Error, server does not like From: field.\n"
        "02/19/03 07:05:09 SMTP server said: 530 5.7.0 Authentication required\n"
        "02/19/03 07:05:09 SendMimeMsg Error=SMTP Error, server does not like From: field.\n",
        env.logFile());
}

TEST(SmtpDelivery, AServerThatWantsAFullyQualifiedGreetingNameTakesTheRobots) {
    SmtpServerFixture server({.user = "robot", .password = "s3cret", .fqdnHelo = true});
    ASSERT_TRUE(server.start()) << server.output();
    const struct {
        int smtpAuth;  // 0: HELO, 1: EHLO and AUTH
        const char* heloName;
        const char* said;  // the refusal the server gives; null: the reply is sent
    } rows[] = {
        {0, "", nullptr},
        {1, "", nullptr},
        {0, "mx.anmo.example", nullptr},
        {0, "vm", "504 5.5.2 <vm>: Helo command rejected: need fully-qualified hostname"},
        {1, "vm", "504 5.5.2 <vm>: Helo command rejected: need fully-qualified hostname"},
    };
    std::size_t sent = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.heloName) + (row.smtpAuth ? " EHLO" : " HELO"));
        TestMailContext env;
        env.settings.smtpServer = server.address();
        env.settings.smtpAuth = row.smtpAuth;
        env.settings.smtpUser = "robot";
        env.settings.smtpPassword = "s3cret";
        env.settings.fromUser = "ANMO Robot <robot@anmo.example.org>";
        env.settings.heloName = row.heloName;
        MailJob job = testJob();
        std::string error;
        EXPECT_EQ(row.said ? 0 : 1, sendMailJob(env.context, job, error))
            << error << " " << testing::PrintToString(env.log.entries());
        if (row.said) {
            EXPECT_EQ("SMTP server error", error);
            EXPECT_THAT(env.log.entries(),
                        Contains("02/19 07:05:09 SMTP server said: " + std::string(row.said)));
        } else {
            ++sent;
            EXPECT_THAT(server.messages(sent), SizeIs(sent));
        }
    }
}
