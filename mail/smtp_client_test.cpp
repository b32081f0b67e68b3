#include "mail/smtp_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "settings/base64.h"
#include "mail/greeting_name.h"
#include "mail/test_mail_context.h"
#include "testing/scripted_server.h"

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::StrEq;

namespace {

const char kText[] = "Subject: t\r\n\r\nline one\r\n";

// The greeting's name with the settings of a TestMailContext (no HeloName, no FromUser).
std::string localHost() {
    MailerSettings settings;
    resetSettings(settings);
    return greetingName(settings);
}

std::string b64(const std::string& text) {
    Base64Coder coder;
    coder.encode(text.c_str());
    return coder.encodedData();
}

// Greeting and HELO accepted.
ScriptedServer& greeted(ScriptedServer& server) {
    return server.sendLine("220 fake ready").expectLine("HELO " + localHost()).sendLine("250 fake");
}

// Greeting, HELO, MAIL and one RCPT for ann accepted.
ScriptedServer& addressed(ScriptedServer& server) {
    return greeted(server)
        .expectLine("MAIL From:<robot@anmo.example.org>")
        .sendLine("250 sender ok")
        .expectLine("RCPT To: <ann@example.org>")
        .sendLine("250 recipient ok");
}

// Everything up to DATA accepted, the text read as data.
ScriptedServer& dataTaken(ScriptedServer& server) {
    return addressed(server).expectLine("DATA").sendLine("354 go ahead").expectData();
}

// Starts the scripted server and sends the text of job to it.
int send(TestMailContext& env, ScriptedServer& server, MailJob job, std::string& error,
         const std::string& text = kText) {
    server.start();
    env.settings.smtpServer = server.address();
    int result = SendMimeMsg(env.context, job, text, error);
    server.join();
    return result;
}

// The log entries a failure through smtpFail leaves, list and file: the error, then the
// server's own words where it answered.
void expectSmtpError(TestMailContext& env, const std::string& message) {
    const auto& entries = env.log.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ("02/19 07:05:09 SMTP Error: " + message, entries[0]);
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_THAT(entries[i], StartsWith("02/19 07:05:09 SMTP server said: "));
    EXPECT_THAT(env.logFile(), StartsWith("02/19/03 07:05:09 SMTP Error: " + message + "\n"));
}

}  // namespace

TEST(SmtpDialogue, DeliversWithHeloAndQuitsWithoutWaiting) {
    TestMailContext env;
    ScriptedServer server;
    dataTaken(server).sendLine("250 queued").expectLine("QUIT");
    std::string error = "stale";
    EXPECT_EQ(1, send(env, server, testJob(), error));
    EXPECT_EQ("", error);
    EXPECT_THAT(server.failures(), IsEmpty());
    ASSERT_EQ(1u, server.dataBlocks().size());
    EXPECT_EQ(kText, server.dataBlocks()[0]);
    EXPECT_THAT(env.log.entries(), IsEmpty());
    EXPECT_EQ(static_cast<std::int64_t>(server.received().size()), env.statistics.bytesSent);
}

TEST(SmtpDialogue, AcceptsAMultiLineGreetingAndLongReplyLines) {
    TestMailContext env;
    ScriptedServer server;
    server.sendLine("220-first line")
        .sendLine("220-" + std::string(1500, 'x'))
        .sendLine("220 " + std::string(1500, 'y'));
    server.expectLine("HELO " + localHost()).sendLine("250 fake");
    server.expectLine("MAIL From:<robot@anmo.example.org>").sendLine("250 ok");
    server.expectLine("RCPT To: <ann@example.org>").sendLine("250 ok");
    server.expectLine("DATA").sendLine("354 go").expectData();
    server.sendLine("250-queued").sendLine("250 as 7").expectLine("QUIT");
    std::string error;
    EXPECT_EQ(1, send(env, server, testJob(), error));
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST(SmtpDialogue, EveryStepAcceptsExactlyOneCode) {
    struct Row {
        const char* step;
        std::function<ScriptedServer&(ScriptedServer&)> script;
        std::string error;
    };
    const std::string helo = "HELO " + localHost();
    std::vector<Row> rows = {
        {"greeting", [](ScriptedServer& s) -> ScriptedServer& { return s.sendLine("250 hi"); },
         "SMTP server error"},
        {"HELO",
         [&](ScriptedServer& s) -> ScriptedServer& {
             return s.sendLine("220 hi").expectLine(helo).sendLine("220 hello");
         },
         "SMTP server error"},
        {"MAIL",
         [](ScriptedServer& s) -> ScriptedServer& {
             return greeted(s).expectLine("MAIL From:<robot@anmo.example.org>").sendLine("251 ok");
         },
         "SMTP Error, server does not like From: field."},
        {"RCPT",
         [](ScriptedServer& s) -> ScriptedServer& {
             return greeted(s)
                 .expectLine("MAIL From:<robot@anmo.example.org>")
                 .sendLine("250 ok")
                 .expectLine("RCPT To: <ann@example.org>")
                 .sendLine("251 User not local; will forward");
         },
         "The mail server doesn't like the name ann@example.org"},
        {"DATA",
         [](ScriptedServer& s) -> ScriptedServer& {
             return addressed(s).expectLine("DATA").sendLine("250 ok");
         },
         "Mail server error accepting message data"},
        {"end of data",
         [](ScriptedServer& s) -> ScriptedServer& { return dataTaken(s).sendLine("251 ok"); },
         "Message not accepted by SMTP server"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        TestMailContext env;
        ScriptedServer server;
        row.script(server).expectLine("QUIT");
        std::string error;
        EXPECT_EQ(0, send(env, server, testJob(), error));
        EXPECT_EQ(row.error, error);
        EXPECT_THAT(server.failures(), IsEmpty());
        expectSmtpError(env, row.error);
    }
}

TEST(SmtpDialogue, EhloRefusedEndsTheDialogueWithoutHelo) {
    TestMailContext env;
    ScriptedServer server;
    server.sendLine("220 hi")
        .expectLine("EHLO " + localHost())
        .sendLine("500 no")
        .expectLine("QUIT");
    MailJob job = testJob();
    env.settings.smtpAuth = 1;
    std::string error;
    EXPECT_EQ(0, send(env, server, job, error));
    EXPECT_EQ("SMTP server error", error);
    EXPECT_THAT(server.failures(), IsEmpty());
    expectSmtpError(env, "SMTP server error");
}

TEST(SmtpAuthLogin, SkipsLeftOverEhloLinesAndAcceptsPromptsInAnyCase) {
    TestMailContext env;
    ScriptedServer server;
    server.sendLine("220 hi").expectLine("EHLO " + localHost());
    server.sendLine("250-fake").sendLine("250-AUTH LOGIN PLAIN").sendLine("250 HELP");
    server.expectLine("AUTH LOGIN").sendLine("250 left over");
    server.sendLine("334 " + b64("username:")).expectLine(b64("robot"));
    server.sendLine("334 " + b64("PASSWORD:")).expectLine(b64("s3cret pw"));
    server.sendLine("235 2.7.0 Authentication successful");
    server.expectLine("MAIL From:<robot@anmo.example.org>").sendLine("250 ok");
    server.expectLine("RCPT To: <ann@example.org>").sendLine("250 ok");
    server.expectLine("DATA").sendLine("354 go").expectData().sendLine("250 ok");
    server.expectLine("QUIT");
    MailJob job = testJob();
    env.settings.smtpAuth = 1;
    env.settings.smtpUser = "robot";
    env.settings.smtpPassword = "s3cret pw";
    std::string error;
    EXPECT_EQ(1, send(env, server, job, error));
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST(SmtpAuthLogin, WrongPromptOrRefusalFailsWithoutShowingThePassword) {
    struct Row {
        const char* userPrompt;
        const char* passwordPrompt;  // null: not reached
        const char* finalReply;      // null: not reached
    };
    for (const Row& row : {Row{"Login:", nullptr, nullptr}, Row{"Username:", "Passwort:", nullptr},
                           Row{"Username:", "Password:", "535 5.7.8 invalid"}}) {
        SCOPED_TRACE(row.userPrompt + std::string(" ") +
                     (row.passwordPrompt ? row.passwordPrompt : ""));
        TestMailContext env;
        ScriptedServer server;
        server.sendLine("220 hi").expectLine("EHLO " + localHost());
        server.sendLine("250-fake").sendLine("250 AUTH LOGIN");
        server.expectLine("AUTH LOGIN").sendLine("334 " + b64(row.userPrompt));
        if (row.passwordPrompt) {
            server.expectLine(b64("robot")).sendLine("334 " + b64(row.passwordPrompt));
            if (row.finalReply)
                server.expectLine(b64("s3cret")).sendLine(row.finalReply);
        }
        server.expectLine("QUIT");
        MailJob job = testJob();
        env.settings.smtpAuth = 1;
        env.settings.smtpUser = "robot";
        env.settings.smtpPassword = "s3cret";
        std::string error;
        EXPECT_EQ(0, send(env, server, job, error));
        EXPECT_EQ("Bad authentication response from mail server", error);
        EXPECT_THAT(server.failures(), IsEmpty());
        expectSmtpError(env, "Bad authentication response from mail server");
        EXPECT_THAT(env.logFile(), Not(HasSubstr("s3cret")));
        EXPECT_THAT(env.logFile(), Not(HasSubstr(b64("s3cret"))));
    }
}

TEST(SmtpEnvelope, SendsOneRcptPerNameWhateverTheSeparators) {
    for (const char* to : {"ann@example.org, bob@example.org", "ann@example.org, bob@example.org,",
                           " ann@example.org,\t\r\nbob@example.org ,, "}) {
        SCOPED_TRACE(to);
        TestMailContext env;
        ScriptedServer server;
        greeted(server).expectLine("MAIL From:<robot@anmo.example.org>").sendLine("250 ok");
        server.expectLine("RCPT To: <ann@example.org>").sendLine("250 ok");
        server.expectLine("RCPT To: <bob@example.org>").sendLine("250 ok");
        server.expectLine("DATA").sendLine("354 go").expectData().sendLine("250 ok");
        server.expectLine("QUIT");
        MailJob job = testJob();
        job.to = to;
        std::string error;
        EXPECT_EQ(1, send(env, server, job, error));
        EXPECT_THAT(server.failures(), IsEmpty());
    }
}

TEST(SmtpEnvelope, EmptyRecipientListSendsNoRcpt) {
    TestMailContext env;
    ScriptedServer server;
    greeted(server).expectLine("MAIL From:<robot@anmo.example.org>").sendLine("250 ok");
    server.expectLine("DATA").sendLine("354 go").expectData().sendLine("250 ok");
    server.expectLine("QUIT");
    MailJob job = testJob();
    job.to = " , ";
    std::string error;
    EXPECT_EQ(1, send(env, server, job, error));
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST(SmtpEnvelope, SenderWithoutAngleBracketsFailsBeforeConnecting) {
    TestMailContext env;
    IdlePort port;
    env.settings.smtpServer = port.address();
    MailJob job = testJob();
    std::string error;
    job.from = "robot@anmo.example.org";
    EXPECT_EQ(0, SendMimeMsg(env.context, job, kText, error));
    EXPECT_EQ("From Email Address - No < Found", error);
    job.from = "Robot <robot@anmo.example.org";
    EXPECT_EQ(0, SendMimeMsg(env.context, job, kText, error));
    EXPECT_EQ("From Email Address - No > Found", error);
    job.from = "Robot > <robot@anmo.example.org";
    EXPECT_EQ(0, SendMimeMsg(env.context, job, kText, error));
    EXPECT_EQ("From Email Address - No > Found", error);
    job.from = "Robot <robot@anmo.example.org\r\nRCPT To: <x@y>>";
    EXPECT_EQ(0, SendMimeMsg(env.context, job, kText, error));
    EXPECT_EQ("From Email Address - Bad Character", error);
    EXPECT_FALSE(port.connected());
    EXPECT_THAT(env.log.entries(), IsEmpty());
}

TEST(SmtpConnect, RefusedConnectionNamesTheServerCutTo255) {
    TestMailContext env;
    RefusingPort refusing;
    std::string server = "127.0.0.1:" + std::to_string(refusing.port());
    std::string error;
    env.settings.smtpServer = server;
    EXPECT_EQ(0, SendMimeMsg(env.context, testJob(), kText, error));
    EXPECT_EQ("Can't connect to " + server + ": connection refused", error);
    EXPECT_THAT(env.log.entries(), IsEmpty());

    std::string longName(240, 'h');
    longName += ".invalid:" + std::to_string(refusing.port());
    env.settings.smtpServer = longName;
    EXPECT_EQ(0, SendMimeMsg(env.context, testJob(), kText, error));
    EXPECT_EQ(("Can't connect to " + longName).substr(0, 255), error);
}

TEST(SmtpReadReply, SilentServerFailsTheStepAfterTheTimeLimit) {
    TestMailContext env;
    env.context.timeoutMs = 200;
    ScriptedServer server;
    server.silent(1000).expectLine("QUIT");
    std::string error;
    EXPECT_EQ(0, send(env, server, testJob(), error));
    EXPECT_EQ("SMTP server error", error);
    EXPECT_THAT(server.failures(), IsEmpty());
    expectSmtpError(env, "SMTP server error");
}

TEST(SmtpSendText, StuffsDotsDropsDoubledCarriageReturnsAndEndsTheData) {
    struct Row {
        std::string text;
        std::string wire;
    };
    std::vector<Row> rows = {
        {"a\r\n.b\r\n..c\r\n", "a\r\n..b\r\n...c\r\n.\r\n"},
        {"a\r\nb", "a\r\nb\r\n.\r\n"},
        {".x\n.y\r\r\nz", "..x\n..y\r\nz\r\n.\r\n"},
        {".\r\nQUIT\r\n", "..\r\nQUIT\r\n.\r\n"},
        {"a\r\r\r\nb.\r\n", "a\r\nb.\r\n.\r\n"},
        {"", "\r\n.\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        TestMailContext env;
        ScriptedServer server;
        addressed(server).expectLine("DATA").sendLine("354 go").expectBytes(row.wire);
        server.sendLine("250 ok").expectLine("QUIT");
        std::string error;
        EXPECT_EQ(1, send(env, server, testJob(), error, row.text));
        EXPECT_THAT(server.failures(), IsEmpty());
    }
}

TEST(SmtpSendText, LongTextGoesOutWhole) {
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text.append(i % 7 == 0 ? "." : "")
            .append(std::to_string(i))
            .append(" some words of the body\r\n");
    std::string stuffed;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t eol = text.find("\r\n", at) + 2;
        std::string line = text.substr(at, eol - at);
        if (line[0] == '.')
            stuffed += '.';
        stuffed += line;
        at = eol;
    }
    TestMailContext env;
    ScriptedServer server;
    dataTaken(server).sendLine("250 ok").expectLine("QUIT");
    std::string error;
    EXPECT_EQ(1, send(env, server, testJob(), error, text));
    EXPECT_THAT(server.failures(), IsEmpty());
    ASSERT_EQ(1u, server.dataBlocks().size());
    EXPECT_EQ(stuffed, server.dataBlocks()[0]);
}

namespace {

// The transmission rule applied byte by byte: a CR after a CR is dropped, a "." after a LF
// doubled, then the end of the data.
std::string wireOf(const std::string& text) {
    std::string wire;
    char previous = 'a';
    for (char c : text) {
        if (c == '.' && previous == '\n')
            wire += '.';
        if (!(c == '\r' && previous == '\r'))
            wire += c;
        previous = c;
    }
    return wire + (!text.empty() && text.back() == '\n' ? ".\r\n" : "\r\n.\r\n");
}

}  // namespace

TEST(SmtpSendText, ChangesEveryPairWhereverItStands) {
    // Pairs at every offset within and across sixteen-byte steps, and as the last two bytes.
    std::string text;
    for (int k = 0; k < 40; ++k)
        text += std::string(static_cast<std::size_t>(k), 'a') + (k % 2 ? "\r\r\n" : "\n.x");
    for (const std::string& row : {text + "z\n.", text + "z\r\r", text + "\r\r\r\n..\n"}) {
        SCOPED_TRACE(row.substr(row.size() - 4));
        TestMailContext env;
        ScriptedServer server;
        addressed(server).expectLine("DATA").sendLine("354 go").expectBytes(wireOf(row));
        server.sendLine("250 ok").expectLine("QUIT");
        std::string error;
        EXPECT_EQ(1, send(env, server, testJob(), error, row));
        EXPECT_THAT(server.failures(), IsEmpty());
    }
    EXPECT_EQ("a\r\n..b\r\n.\r\n", wireOf("a\r\r\n.b\r\n"));  // the rule itself
}

TEST(SmtpSendText, AServerGoneDuringTheDataLeavesTheSendErrorAndNoLogEntry) {
    TestMailContext env;
    ScriptedServer server;
    addressed(server).expectLine("DATA").sendLine("354 go ahead").close();
    std::string text(8 * 1024 * 1024, 'x');
    std::string error;
    EXPECT_EQ(0, send(env, server, testJob(), error, text));
    EXPECT_THAT(error, AnyOf(StrEq("put_data() unexpected error from send(): 104"),
                             StrEq("put_data() unexpected error from send(): 32")));
    EXPECT_THAT(env.log.entries(), IsEmpty());  // released without smtpFail
    EXPECT_THAT(server.failures(), IsEmpty());
}

TEST(BuildRecipientList, DropsBlanksCommentsAndQuotedText) {
    EXPECT_EQ("ann@x.org,bob@y.org", buildRecipientList("ann@x.org, bob@y.org"));
    EXPECT_EQ("ann@x.org,", buildRecipientList(" ann@x.org , "));
    EXPECT_EQ("ann@x.org", buildRecipientList("(Ann)ann@x.org"));
    EXPECT_EQ("ann@x.org", buildRecipientList("'Ann'ann@x.org"));
    EXPECT_EQ("\"A\"<ann@x.org>\t", buildRecipientList("\"A\" <ann@x.org>\t"));
    EXPECT_EQ("", buildRecipientList("(never closed"));
    EXPECT_EQ("", buildRecipientList(""));
}

// A 5xx about a recipient refuses the reply for good and a 4xx may pass; a refusal before the
// recipients (here of the sender) is the station's own side.
TEST(SmtpDialogue, TellsWhatAFailureMeansForTheReply) {
    struct Case {
        const char* mailAnswer;
        const char* rcptAnswer;  // nullptr: not asked
        SendFailure failure;
    } cases[] = {{"250 sender ok", "550 5.1.1 no such user", SendFailure::kRefusedForGood},
                 {"250 sender ok", "451 4.3.0 try again later", SendFailure::kTryAgain},
                 {"553 5.7.1 sender not allowed", nullptr, SendFailure::kStationSide},
                 {"250 sender ok",
                  "504 5.5.2 <vm>: Helo command rejected: need fully-qualified "
                  "hostname",
                  SendFailure::kStationSide}};
    for (const Case& c : cases) {
        TestMailContext env;
        ScriptedServer server;
        greeted(server).expectLine("MAIL From:<robot@anmo.example.org>").sendLine(c.mailAnswer);
        if (c.rcptAnswer)
            server.expectLine("RCPT To: <ann@example.org>").sendLine(c.rcptAnswer);
        server.expectLine("QUIT");
        server.start();
        env.settings.smtpServer = server.address();
        std::string error;
        SendFailure failure = SendFailure::kTryAgain;
        EXPECT_EQ(0, SendMimeMsg(env.context, testJob(), kText, error, &failure));
        server.join();
        EXPECT_EQ(c.failure, failure) << c.mailAnswer;
    }
}
