#include "mail/mime_composer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>

#include "settings/base64.h"
#include "mail/test_mail_context.h"

namespace {

const char kSinglePart[] =
    "Date: Wed, 19 Feb 2003 07:05:09 +0000\r\n"
    "From: Station ANMO <robot@anmo.example.org>\r\n"
    "Subject: Your Event File\r\n"
    "To: ann@example.org\r\n"
    "Message-ID: <id>\r\n"
    "Auto-Submitted: auto-replied\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "X-Mailer: Tarnwick\r\n"
    "\r\n"
    "Hello.\r\n";

const char kTwoParts[] =
    "Date: Wed, 19 Feb 2003 07:05:09 +0000\r\n"
    "From: Station ANMO <robot@anmo.example.org>\r\n"
    "Subject: Your Event File\r\n"
    "To: ann@example.org\r\n"
    "Message-ID: <id>\r\n"
    "Auto-Submitted: auto-replied\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"=====================_133075==_\"\r\n"
    "X-Mailer: Tarnwick\r\n"
    "\r\n"
    "--=====================_133075==_\r\n"
    "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
    "\r\n"
    "Hello.\r\n"
    "\r\n\r\n"
    "--=====================_133075==_\r\n"
    "Content-Type: application/octet-stream; name=\"x.mqx\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"x.mqx\"\r\n"
    "\r\n"
    "YWJjZA==\r\n"
    "--=====================_133075==_\r\n"
    "Content-Type: application/octet-stream; name=\"y.mqx\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"y.mqx\"\r\n"
    "\r\n"
    "YWJjZGU=\r\n"
    "--=====================_133075==_--\r\n";

std::string compose(TestMailContext& env, const MailJob& job) {
    std::string text, error;
    EXPECT_EQ(1, MakeMimeMsg(env.clock, job, text, error));
    EXPECT_EQ("", error);
    return text;
}

}  // namespace

TEST(MimeDateLine, WritesTheLocalZoneWithItsOwnSign) {
    LocalTime december{2026, 12, 1, 7, 8, 43, 27, 0};
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 -0800\r\n", dateLine(december, -480));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 -0700\r\n", dateLine(december, -420));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 +0530\r\n", dateLine(december, 330));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 -0330\r\n", dateLine(december, -210));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 +0000\r\n", dateLine(december, 0));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 -0030\r\n", dateLine(december, -30));
    EXPECT_EQ("Date: Mon, 07 Dec 2026 08:43:27 +1345\r\n", dateLine(december, 825));
    LocalTime newYear{2000, 1, 6, 1, 0, 0, 0, 0};
    EXPECT_EQ("Date: Sat, 01 Jan 2000 00:00:00 +0100\r\n", dateLine(newYear, 60));
}

TEST(MimeBoundary, IsYearPlus65536TimesMonth) {
    EXPECT_EQ(133075, boundaryNumber(LocalTime{2003, 2, 3, 19, 7, 5, 9, 0}));
    EXPECT_EQ(788458, boundaryNumber(LocalTime{2026, 12, 1, 7, 8, 43, 27, 0}));
}

TEST(MimeAttachmentName, TakesWhatFollowsTheLastSeparator) {
    EXPECT_EQ("x.mqx", attachmentName("C:\\data\\x.mqx"));
    EXPECT_EQ("x.mqx", attachmentName("/tmp/events/x.mqx"));
    EXPECT_EQ("x.mqx", attachmentName("x.mqx"));
    EXPECT_EQ("c", attachmentName("a/b:c"));
    EXPECT_EQ("y", attachmentName("d:\\x/y"));
    EXPECT_EQ("\\x.mqx", attachmentName("\\x.mqx"));
    EXPECT_EQ("/x.mqx", attachmentName("/x.mqx"));
    EXPECT_EQ("", attachmentName("/tmp/"));
}

TEST(MakeMimeMsg, SinglePartMessageAtAFixedTime) {
    TestMailContext env;
    EXPECT_EQ(kSinglePart, withFixedMessageId(compose(env, testJob())));
}

TEST(MakeMimeMsg, DateLineFollowsTheClocksZone) {
    TestMailContext env;
    env.clock.offsetMinutes = -210;
    std::string text = compose(env, testJob("smtp"));
    EXPECT_EQ("Date: Wed, 19 Feb 2003 07:05:09 -0330\r\nFrom:", text.substr(0, 44));
}

TEST(MakeMimeMsg, TwoAttachmentsEndWithSeparatorThenClosingBoundary) {
    TestMailContext env;
    writeFile(env.dir.file("x.mqx"), "abcd");
    writeFile(env.dir.file("y.mqx"), "abcde");
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("x.mqx");
    job.attachments[1] = env.dir.file("y.mqx");
    job.attachmentCount = 2;
    EXPECT_EQ(kTwoParts, withFixedMessageId(compose(env, job)));
}

TEST(MakeMimeMsg, EmptyAttachmentGivesOneEmptyLine) {
    TestMailContext env;
    writeFile(env.dir.file("empty.mqx"), "");
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("empty.mqx");
    job.attachmentCount = 1;
    std::string text = compose(env, job);
    const std::string tail =
        "filename=\"empty.mqx\"\r\n\r\n\r\n--=====================_133075==_--\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
}

TEST(MakeMimeMsg, AttachmentIsWrittenInLinesOf76Characters) {
    TestMailContext env;
    std::string bytes(100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
    writeFile(env.dir.file("big.mqx"), bytes);
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("big.mqx");
    job.attachmentCount = 1;
    std::string text = compose(env, job);

    std::size_t begin = text.find("filename=\"big.mqx\"\r\n\r\n");
    ASSERT_NE(std::string::npos, begin);
    begin += 22;
    const std::string closing = "--=====================_133075==_--\r\n";
    std::size_t end = text.find(closing, begin);
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(end + closing.size(), text.size());
    std::string part = text.substr(begin, end - begin);
    EXPECT_EQ(encodedLinesSize(bytes.size()), part.size());
    // 1754 lines of 57 bytes and one of 22 bytes (32 characters).
    std::string joined;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < part.size(); ++lines) {
        std::size_t eol = part.find("\r\n", at);
        ASSERT_NE(std::string::npos, eol);
        std::size_t length = eol - at;
        EXPECT_EQ(lines < 1754 ? 76u : 32u, length) << "line " << lines;
        joined += part.substr(at, length);
        at = eol + 2;
    }
    EXPECT_EQ(1755u, lines);
    EXPECT_EQ(133336u, joined.size());
    Base64Coder coder;
    coder.decode(joined.data(), joined.size());
    // The last group is padded ("=="): it decodes to three bytes, the last two of them zero.
    ASSERT_EQ(bytes.size() + 2, coder.decodedLength());
    EXPECT_TRUE(
        bytes + std::string(2, '\0') ==
        std::string(reinterpret_cast<const char*>(coder.decodedData()), coder.decodedLength()));
}

TEST(MakeMimeMsg, AMultiMegabyteAttachmentIsEncodedWholeAcrossReadChunks) {
    TestMailContext env;
    std::string bytes(6000000, '\0');  // several read chunks; a text larger than 4 MB
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 5);
    writeFile(env.dir.file("huge.mqx"), bytes);
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("huge.mqx");
    job.attachments[1] = env.dir.file("huge.mqx");
    job.attachmentCount = 2;
    std::string text = compose(env, job);

    const std::string headers = "filename=\"huge.mqx\"\r\n\r\n";
    const std::string separator = "--=====================_133075==_\r\n";
    const std::string closing = "--=====================_133075==_--\r\n";
    std::size_t first = text.find(headers);
    ASSERT_NE(std::string::npos, first);
    std::size_t second = text.find(headers, first + headers.size());
    ASSERT_NE(std::string::npos, second);
    std::string expected;  // 6000000 is 105263 lines of 57 bytes and one of 9 bytes
    {
        Base64Coder coder;
        for (std::size_t at = 0; at < bytes.size(); at += 57) {
            coder.encode(bytes.data() + at, std::min<std::size_t>(57, bytes.size() - at));
            expected.append(coder.encodedData(), coder.encodedLength()).append("\r\n");
        }
    }
    ASSERT_EQ(encodedLinesSize(bytes.size()), expected.size());
    EXPECT_TRUE(text.compare(first + headers.size(), expected.size(), expected) == 0);
    EXPECT_EQ(separator, text.substr(first + headers.size() + expected.size(), separator.size()));
    EXPECT_TRUE(text.compare(second + headers.size(), expected.size(), expected) == 0);
    EXPECT_EQ(second + headers.size() + expected.size() + closing.size(), text.size());
    EXPECT_EQ(closing, text.substr(text.size() - closing.size()));
}

TEST(MakeMimeMsg, UnreadableAttachmentsFailWithTheirPath) {
    TestMailContext env;
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("missing.mqx");
    job.attachmentCount = 1;
    std::string text = "old", error;
    EXPECT_EQ(0, MakeMimeMsg(env.clock, job, text, error));
    EXPECT_EQ("Error Opening " + env.dir.file("missing.mqx") + " File", error);
    EXPECT_EQ("", text);

    job.attachments[0] = env.dir.path();  // a directory opens but cannot be read
    EXPECT_EQ(0, MakeMimeMsg(env.clock, job, text, error));
    EXPECT_EQ("error reading file " + env.dir.path(), error);
}

TEST(MakeMimeMsg, ErrorTextWithALongPathIsCutTo255) {
    TestMailContext env;
    MailJob job = testJob();
    std::string path = env.dir.path() + std::string(255, 'p');
    job.attachments[0] = path;  // cut to 255 characters on entry
    job.attachmentCount = 1;
    std::string text, error;
    EXPECT_EQ(0, MakeMimeMsg(env.clock, job, text, error));
    EXPECT_EQ(("Error Opening " + path).substr(0, 255), error);
}

TEST(SendMailJob, MissingAttachmentFailsTheJobWithoutConnecting) {
    TestMailContext env;
    IdlePort server;
    writeFile(env.dir.file("x.mqx"), "abcd");
    env.settings.smtpServer = server.address();
    MailJob job = testJob();
    job.attachments[0] = env.dir.file("x.mqx");
    job.attachments[1] = env.dir.file("gone.mqx");
    job.attachmentCount = 2;
    MailJob before = job;
    std::string error = "stale";
    EXPECT_EQ(0, sendMailJob(env.context, job, error));
    std::string expected = "Error Opening " + env.dir.file("gone.mqx") + " File";
    EXPECT_EQ(expected, error);
    EXPECT_FALSE(server.connected());
    ASSERT_EQ(1u, env.log.entries().size());
    EXPECT_EQ("02/19 07:05:09 MakeMimeMsg Error=" + expected, env.log.entries()[0]);
    EXPECT_EQ("02/19/03 07:05:09 MakeMimeMsg Error=" + expected + "\n", env.logFile());
    EXPECT_EQ(0, std::memcmp(&before, &job, sizeof job));
    EXPECT_EQ(0, env.statistics.bytesSent);
}

TEST(MakeMimeMsg, RepliesCarryTheirOwnMessageIdAndThreadUnderTheRequest) {
    TestMailContext env;
    env.settings.smtpServer = "smtp";
    MailJob job = testJob("Station Z\xc3\xbcrich\r\n");
    job.inReplyTo = "request-1@uni.example";
    std::string first = compose(env, job);
    std::string second = compose(env, job);
    const std::regex header(
        "To: ann@example.org\r\n"
        "Message-ID: (<[!-;=?-~]+@anmo\\.example\\.org>)\r\n"
        "Auto-Submitted: auto-replied\r\n"
        "In-Reply-To: <request-1@uni\\.example>\r\n"
        "References: <request-1@uni\\.example>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=\"utf-8\"\r\n"
        "Content-Transfer-Encoding: 8bit\r\n");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_search(first, a, header)) << first;
    ASSERT_TRUE(std::regex_search(second, b, header)) << second;
    EXPECT_NE(a[1].str(), b[1].str());

    // With attachments the text part says the same; a sender without a domain takes the host's.
    writeFile(env.dir.file("x.mqx"), "abcd");
    job.attachments[0] = env.dir.file("x.mqx");
    job.attachmentCount = 1;
    job.from = "robot";
    std::string parts = compose(env, job);
    EXPECT_NE(std::string::npos,
              parts.find("Content-Type: text/plain; charset=\"utf-8\"\r\n"
                         "Content-Transfer-Encoding: 8bit\r\n\r\nStation Z\xc3\xbcrich\r\n"));
    EXPECT_TRUE(std::regex_search(parts, std::regex("\r\nMessage-ID: <[^@ ]+@[-.a-zA-Z0-9]+>\r\n")));
}

TEST(MakeMimeMsg, ALongRequestMessageIdIsFoldedOntoALineOfItsOwn) {
    TestMailContext env;
    MailJob job = testJob("smtp");
    struct Case {
        std::string id;
        std::string lines;
    } cases[] = {
        {std::string(51, 'a') + "@uni.example",  // In-Reply-To fills 78 columns
         "In-Reply-To: <" + std::string(51, 'a') + "@uni.example>\r\nReferences: <" +
             std::string(51, 'a') + "@uni.example>\r\n"},
        {std::string(52, 'b') + "@uni.example",  // 79 and 78 columns
         "In-Reply-To:\r\n <" + std::string(52, 'b') + "@uni.example>\r\nReferences: <" +
             std::string(52, 'b') + "@uni.example>\r\n"},
        {std::string(188, 'c') + "@uni.example",  // the longest ID the mail reader keeps
         "In-Reply-To:\r\n <" + std::string(188, 'c') + "@uni.example>\r\nReferences:\r\n <" +
             std::string(188, 'c') + "@uni.example>\r\n"},
    };
    for (const Case& c : cases) {
        job.inReplyTo = c.id;
        std::string text = compose(env, job);
        EXPECT_NE(std::string::npos, text.find("auto-replied\r\n" + c.lines + "MIME-Version"))
            << text;
    }
}

TEST(MakeMimeMsg, EveryLineOfTheBodyEndsInCrLf) {
    FakeClock clock;
    MailJob job;
    job.to = "ann@example.org";
    job.from = "Station ANMO <robot@anmo.example.org>";
    job.body = "a\rb\nc\r\n\r.\rQUIT\r\r\n";
    std::string text, error;
    ASSERT_EQ(1, MakeMimeMsg(clock, job, text, error)) << error;
    EXPECT_EQ("a\r\nb\r\nc\r\n\r\n.\r\nQUIT\r\n\r\n", text.substr(text.find("\r\n\r\n") + 4));
}
