#include "mail/pop3_reader.h"
#include "mail/mail_digest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/access_token.h"
#include "settings/base64.h"
#include "mail/dialogue_transcript.h"
#include "mail/mail_context.h"
#include "settings/mailer_settings.h"
#include "spool/spool.h"
#include "testing/fake_clock.h"
#include "testing/scripted_server.h"
#include "testing/temp_dir.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Pop3ReaderTest : public ::testing::Test {
  protected:
    Pop3ReaderTest() : log(clock, dir.file("tarnwick.log")) {
        resetSettings(settings);
        settings.popUser = "station";
        settings.popPassword = "secret";
    }

    // The greeting, USER and PASS of a good login; passReply answers PASS.
    static void login(ScriptedServer& server, const std::string& passReply) {
        server.sendLine("+OK POP3 ready")
            .expectLine("USER station")
            .sendLine("+OK")
            .expectLine("PASS secret")
            .sendLine(passReply);
    }

    // Starts the server and reads the mailbox from it.
    int readFrom(ScriptedServer& server) {
        server.start();
        settings.popServer = server.address();
        std::vector<CollectedLine> collected;
        int result = readMailbox(context(), collected, error, &serverSaid);
        lines.clear();
        for (CollectedLine& line : collected) lines.push_back(std::move(line.text));
        return result;
    }

    MailContext& context() {
        ctx =
            std::make_unique<MailContext>(MailContext{settings, log, statistics, clock, timeoutMs});
        return *ctx;
    }

    // The log file's text, "" when nothing was written to it.
    std::string logFile() {
        std::string path = dir.file("tarnwick.log");
        return std::filesystem::exists(path) ? readFile(path) : "";
    }

    TempDir dir;
    FakeClock clock;  // 02/19/2003 07:05:09
    ActivityLog log;
    Statistics statistics;
    MailerSettings settings;
    std::unique_ptr<MailContext> ctx;
    int timeoutMs = 5000;
    std::vector<std::string> lines{"left over from the last check"};
    std::string error = "old text";
    std::string serverSaid;
};

}  // namespace

// ---- the message count -------------------------------------------------------------------

TEST_F(Pop3ReaderTest, ACountOfZeroInThePassReplyEndsWithQuitAlone) {
    ScriptedServer server;
    login(server, "+OK station has 0 messages (0 octets)");
    server.expectLine("QUIT").sendLine("+OK bye");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_EQ("", error);
    EXPECT_THAT(log.entries(), IsEmpty());
    // USER station, PASS secret, QUIT, each with CR LF.
    EXPECT_EQ(14 + 13 + 6, statistics.bytesSent);
}

TEST_F(Pop3ReaderTest, ACountInThePassReplyIsUsedWithoutStat) {
    ScriptedServer server;
    login(server, "+OK station has 2 messages (320 octets)");
    server.expectLine("CAPA")
        .sendLine("-ERR unknown command")
        .expectLine("RETR 1")
        .sendLine("+OK 100 octets")
        .sendLine("Subject: data please")
        .sendLine("")
        .sendLine("stationinfo=ann@example.org")
        .sendLine(".")
        .expectLine("DELE 1")
        .sendLine("+OK")
        .expectLine("RETR 2")
        .sendLine("+OK 50 octets")
        .sendLine("Subject: no request here")
        .sendLine(".")
        .expectLine("DELE 2")
        .sendLine("+OK")
        .expectLine("QUIT")
        .sendLine("+OK bye");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, ElementsAre("stationinfo=ann@example.org"));
    EXPECT_EQ("", error);
    EXPECT_EQ(static_cast<std::int64_t>(server.received().size()), statistics.bytesSent);
}

TEST_F(Pop3ReaderTest, WithoutACountInThePassReplyStatGivesIt) {
    ScriptedServer server;
    login(server, "+OK Logged in.");
    server.expectLine("STAT").sendLine("+OK 3 480");
    server.expectLine("CAPA").sendLine("+OK").sendLine("USER").sendLine(".");
    for (int n = 1; n <= 3; ++n) {
        server.expectLine("RETR " + std::to_string(n))
            .sendLine("+OK")
            .sendLine("stationinfo=user" + std::to_string(n) + "@example.org")
            .sendLine(".")
            .expectLine("DELE " + std::to_string(n))
            .sendLine("+OK");
    }
    server.expectLine("QUIT").sendLine("+OK");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, ElementsAre("stationinfo=user1@example.org", "stationinfo=user2@example.org",
                                   "stationinfo=user3@example.org"));
}

// A negative or junk STAT answer is an error, never an empty mailbox.
TEST_F(Pop3ReaderTest, ANegativeOrJunkStatReplyIsAnError) {
    for (const char* answer : {"-ERR 5 not now", "+OK", "+OKjunk 3"}) {
        ScriptedServer server;
        login(server, "+OK Logged in.");
        server.expectLine("STAT").sendLine(answer).expectLine("QUIT").sendLine("+OK");
        EXPECT_EQ(0, readFrom(server)) << answer;
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("Bad STAT Reply", error);
        EXPECT_EQ("02/19 07:05:09 Bad STAT Reply = " + std::string(answer), log.entries().back());
    }
}

// The count is the number after the word "has"; without one the mailbox is asked with STAT.
TEST_F(Pop3ReaderTest, TheCountFollowsTheWordHas) {
    struct Case {
        const char* pass;
        const char* stat;  // nullptr: no STAT expected
    } cases[] = {{"+OK shasta has 0 visible messages", nullptr},
                 {"+OK has", "+OK 0 0"},
                 {"+OK hash has no count", "+OK 0 0"}};
    for (const Case& c : cases) {
        ScriptedServer server;
        login(server, c.pass);
        if (c.stat)
            server.expectLine("STAT").sendLine(c.stat);
        server.expectLine("QUIT").sendLine("+OK");
        EXPECT_EQ(1, readFrom(server)) << c.pass;
        EXPECT_THAT(server.failures(), IsEmpty()) << c.pass;
    }
}

TEST_F(Pop3ReaderTest, AHugeCountIsEndedByTheServerThatRunsOutOfMessages) {
    ScriptedServer server;
    login(server, "+OK station has 2000000000 messages");
    server.expectLine("CAPA")
        .sendLine("-ERR")
        .expectLine("RETR 1")
        .sendLine("+OK")
        .sendLine("stationinfo=first@example.org")
        .sendLine(".")
        .expectLine("DELE 1")
        .sendLine("+OK")
        .expectLine("RETR 2")
        .close();
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, ElementsAre("stationinfo=first@example.org"));
    EXPECT_EQ("POP Get Char Error", error);
    EXPECT_EQ("02/19/03 07:05:09 Bad GetMessage getPOP3Line After RETR Sent\n", logFile());
}

// ---- the message lines -------------------------------------------------------------------

TEST_F(Pop3ReaderTest, OnlyRequestLinesAreKeptAndLowerCased) {
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1")
        .sendLine("+OK")
        .sendLine("From: Ann <Ann@Example.ORG>")
        .sendLine("StationInfo: not a request")
        .sendLine("")
        .sendLine("EventFileRequest=2003/02/19,07:05:00,60,Ch1 Ch2,Ann@Example.ORG")
        .sendLine(" eventfilerequest=2003/02/19,07:05:00,60,ch1,ann@example.org")
        .sendLine("..")
        .sendLine(".eventfilerequest=dot-stuffed")
        .sendLine("stationinfo=\xC4Mail@X.org")
        .sendLine("x-stationinfo=no")
        .sendLine(".")
        .expectLine("DELE 1")
        .sendLine("+OK")
        .expectLine("QUIT")
        .sendLine("+OK");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines,
                ElementsAre("eventfilerequest=2003/02/19,07:05:00,60,ch1 ch2,ann@example.org",
                            "stationinfo=\xC4mail@x.org"));
}

TEST_F(Pop3ReaderTest, CarriageReturnsBareLineFeedsZeroBytesAndLongLinesAreHandled) {
    std::string longValue(5000, 'A');
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1")
        .sendLine("+OK")
        .send("stationinfo=a\rb@c\r\r\n")                   // every CR is dropped
        .send("stationinfo=bare@lf\n")                      // a bare LF ends a line too
        .send(std::string("stationinfo=zero\0junk\n", 22))  // a zero byte ends the text
        .send("\x01\xfe\xff\x80 binary junk\r\n")
        .sendLine("stationinfo=" + longValue)  // only 1023 characters are kept
        .sendLine("stationinfo=after@long")
        .send(".\n")
        .expectLine("DELE 1")
        .sendLine("+OK")
        .expectLine("QUIT")
        .sendLine("+OK");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    std::string cut = "stationinfo=" + std::string(1023 - 12, 'a');
    // Only the CR of a CR LF ends a line; a zero byte counts as a blank.
    EXPECT_THAT(lines, ElementsAre("stationinfo=a\rb@c\r", "stationinfo=bare@lf",
                                   "stationinfo=zero junk", cut, "stationinfo=after@long"));
}

TEST_F(Pop3ReaderTest, ALongReplyLineIsCutBeforeItIsLogged) {
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1")
        .sendLine("-ERR " + std::string(3000, 'e'))
        .expectLine("QUIT")
        .sendLine("+OK");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("Bad RETR OK in getMessage", error);
    std::string entry = "Bad RETR OK Get Message = -ERR " + std::string(3000, 'e');
    entry.resize(ActivityLog::maxEntryChars);
    EXPECT_EQ("02/19/03 07:05:09 " + entry + "\n", logFile());
}

// A server that takes commands in a row is asked for the next message before the DELE of the
// one read, and answers them in that order.
TEST_F(Pop3ReaderTest, ASecondMessageThatCannotBeRetrievedKeepsTheFirstOnesLines) {
    ScriptedServer server;
    login(server, "+OK has 2 messages");
    server.expectLine("CAPA")
        .sendLine("+OK Capability list follows")
        .sendLine("TOP")
        .sendLine("PIPELINING")
        .sendLine(".")
        .expectLine("RETR 1")
        .sendLine("+OK")
        .sendLine("stationinfo=first@example.org")
        .sendLine(".")
        .expectLine("RETR 2")
        .expectLine("DELE 1")
        .sendLine("-ERR no such message")
        .sendLine("+OK")
        .expectLine("QUIT")
        .sendLine("+OK");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, ElementsAre("stationinfo=first@example.org"));
    EXPECT_EQ("Bad RETR OK in getMessage", error);
    EXPECT_EQ("-ERR no such message", serverSaid);
    EXPECT_EQ("02/19/03 07:05:09 Bad RETR OK Get Message = -ERR no such message\n", logFile());
    EXPECT_THAT(log.entries(),
                ElementsAre("02/19 07:05:09 Bad RETR OK Get Message = -ERR no such message"));
}

TEST_F(Pop3ReaderTest, AFailedQuitReplyChangesTheTextButNotTheResult) {
    ScriptedServer server;
    login(server, "+OK has 0 messages");
    server.expectLine("QUIT").close();
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("POP Get Char Error", error);
}

// ---- failures during login: no QUIT ------------------------------------------------------
// The script ends where the client should stop: anything more it sends is a failure.

TEST_F(Pop3ReaderTest, AServerThatCannotBeReachedIsAConnectError) {
    RefusingPort refusing;
    settings.popServer = "127.0.0.1:" + std::to_string(refusing.port());
    EXPECT_EQ(0, readMailbox(context(), lines, error));
    EXPECT_EQ("POP Connect Error: 127.0.0.1: connection refused", error);
    EXPECT_THAT(lines, IsEmpty());
    settings.popServer = "no-such-host.invalid";
    EXPECT_EQ(0, readMailbox(context(), lines, error));
    EXPECT_EQ("POP Connect Error: no-such-host.invalid: name not known", error);
    EXPECT_THAT(log.entries(), IsEmpty());
    EXPECT_EQ(0, statistics.bytesSent);
}

TEST_F(Pop3ReaderTest, AGreetingThatDoesNotArriveIsALoginError) {
    timeoutMs = 200;
    ScriptedServer server;
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("Login Error", error);
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(Pop3ReaderTest, AGreetingCutOffByACloseIsALoginError) {
    ScriptedServer server;
    server.send("+OK POP3 re").close();
    EXPECT_EQ(0, readFrom(server));
    EXPECT_EQ("Login Error", error);
    EXPECT_EQ(0, statistics.bytesSent);  // nothing was sent, not even QUIT
}

TEST_F(Pop3ReaderTest, ANegativeGreetingIsRefused) {
    ScriptedServer server;
    server.sendLine("-ERR too busy");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("Bad First +OK Login Error", error);
}

TEST_F(Pop3ReaderTest, ASilentServerAfterUserOrPassIsAGetCharError) {
    timeoutMs = 200;
    {
        ScriptedServer server;
        server.sendLine("+OK ready").expectLine("USER station");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("POP Get Char Error", error);
    }
    {
        ScriptedServer server;
        server.sendLine("+OK ready")
            .expectLine("USER station")
            .sendLine("+OK")
            .expectLine("PASS secret");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("POP Get Char Error", error);
    }
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(Pop3ReaderTest, NegativeUserAndPassRepliesAreLoginErrors) {
    {
        ScriptedServer server;
        server.sendLine("+OK ready").expectLine("USER station").sendLine("-ERR who?");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("User Login Error", error);
    }
    {
        ScriptedServer server;
        login(server, "-ERR [AUTH] Authentication failed.");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("User Login Password Error", error);
    }
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(Pop3ReaderTest, CommandsTooLongForTheCommandLineAreRefusedNotCut) {
    {
        settings.popUser = std::string(248, 'u');  // "USER " + 248 = 253: still fits
        ScriptedServer server;
        server.sendLine("+OK ready").expectLine("USER " + std::string(248, 'u')).sendLine("-ERR");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("User Login Error", error);
    }
    {
        settings.popUser = std::string(249, 'u');
        ScriptedServer server;
        server.sendLine("+OK ready");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());  // no USER went out
        EXPECT_EQ("POP User Name Too Long", error);
    }
    {
        settings.popUser = "station";
        std::string password(255, 'p');
        settings.popPassword = password;
        ScriptedServer server;
        server.sendLine("+OK ready").expectLine("USER station").sendLine("+OK");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());  // no PASS went out
        EXPECT_EQ("POP Password Too Long", error);
    }
    EXPECT_THAT(log.entries(), IsEmpty());
}

// ---- failures in the transaction state: QUIT still goes out ------------------------------

TEST_F(Pop3ReaderTest, ASilentServerAfterStatEndsWithQuit) {
    timeoutMs = 200;
    ScriptedServer server;
    login(server, "+OK Logged in.");
    server.expectLine("STAT").expectLine("QUIT").sendLine("+OK");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("POP Get Char Error", error);
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(Pop3ReaderTest, ASilentServerAfterRetrIsLogged) {
    timeoutMs = 200;
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1").expectLine("QUIT").sendLine("+OK");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_EQ("POP Get Char Error", error);
    EXPECT_THAT(log.entries(),
                ElementsAre("02/19 07:05:09 Bad GetMessage getPOP3Line After RETR Sent"));
    EXPECT_EQ("02/19/03 07:05:09 Bad GetMessage getPOP3Line After RETR Sent\n", logFile());
}

TEST_F(Pop3ReaderTest, AMessageThatStopsInTheMiddleIsLoggedAndItsPartialLineDropped) {
    timeoutMs = 200;
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1")
        .sendLine("+OK")
        .sendLine("stationinfo=whole@line")
        .send("stationinfo=half")
        .expectLine("QUIT")
        .sendLine("+OK");
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, ElementsAre("stationinfo=whole@line"));
    EXPECT_EQ("POP Get Char Error", error);
    EXPECT_EQ("02/19/03 07:05:09 Bad getPop3Line return in getMessage\n", logFile());
}

TEST_F(Pop3ReaderTest, AServerThatClosesInTheMiddleOfAMessageLineFails) {
    ScriptedServer server;
    login(server, "+OK has 1 message");
    server.expectLine("RETR 1").sendLine("+OK").send("stationinfo=cut@of").close();
    EXPECT_EQ(0, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_EQ("POP Get Char Error", error);
    EXPECT_EQ("02/19/03 07:05:09 Bad getPop3Line return in getMessage\n", logFile());
}

TEST_F(Pop3ReaderTest, DeleteRepliesThatFailOrAreNegativeAreLogged) {
    {
        timeoutMs = 200;
        ScriptedServer server;
        login(server, "+OK has 1 message");
        server.expectLine("RETR 1")
            .sendLine("+OK")
            .sendLine(".")
            .expectLine("DELE 1")
            .expectLine("QUIT")
            .sendLine("+OK");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("POP Get Char Error", error);
    }
    {
        timeoutMs = 5000;
        ScriptedServer server;
        login(server, "+OK has 1 message");
        server.expectLine("RETR 1")
            .sendLine("+OK")
            .sendLine("stationinfo=kept@anyway")
            .sendLine(".")
            .expectLine("DELE 1")
            .sendLine("-ERR cannot")
            .expectLine("QUIT")
            .sendLine("+OK");
        EXPECT_EQ(0, readFrom(server));
        EXPECT_THAT(server.failures(), IsEmpty());
        EXPECT_EQ("Bad Delete Message +OK in Get Message", error);
        EXPECT_EQ("-ERR cannot", serverSaid);
        EXPECT_THAT(lines, ElementsAre("stationinfo=kept@anyway"));
    }
    EXPECT_EQ(
        "02/19/03 07:05:09 Bad DELE +OK in Get Message\n"
        "02/19/03 07:05:09 Bad Delete Message +OK in Get Message\n",
        logFile());
}

// A reply line must arrive whole within the time limit, however it trickles in.
TEST_F(Pop3ReaderTest, AGreetingThatTricklesInFailsWithinTheLimit) {
    timeoutMs = 300;
    ScriptedServer server;
    for (char c : std::string("+OK ready"))
        server.send(std::string(1, c)).silent(100);
    EXPECT_EQ(0, readFrom(server));
    EXPECT_EQ("Login Error", error);
}

// ---- a mail whose reading stopped the robot ------------------------------------------------

TEST_F(Pop3ReaderTest, AMailThatStoppedTwoRunsIsSetAsideDeletedAndTheNextOneRead) {
    const std::vector<std::string> poison = {"From: Eve <eve@x.example>", "Message-ID: <p1@x>",
                                             "", "stationinfo=eve@x.example"};
    std::string bytes;
    for (const std::string& line : poison) bytes += line + "\n";
    for (int run = 0; run < 2; ++run) {  // two runs stop while parsing it
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        ASSERT_EQ(LineKeeper::Reading::kParse, spool.startReading(bytes, mailDigest(bytes)));
    }
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    ScriptedServer server;
    login(server, "+OK station has 2 messages (320 octets)");
    server.expectLine("CAPA").sendLine("-ERR").expectLine("RETR 1").sendLine("+OK");
    for (const std::string& line : poison) server.sendLine(line);
    server.sendLine(".")
        .expectLine("DELE 1")
        .sendLine("+OK")
        .expectLine("RETR 2")
        .sendLine("+OK")
        .sendLine("")
        .sendLine("stationinfo=ann@example.org")
        .sendLine(".")
        .expectLine("DELE 2")
        .sendLine("+OK")
        .expectLine("QUIT")
        .sendLine("+OK bye");
    server.start();
    settings.popServer = server.address();
    std::vector<CollectedLine> collected;
    EXPECT_EQ(1, readMailbox(context(), collected, error, nullptr, &spool));
    EXPECT_THAT(server.failures(), IsEmpty());
    ASSERT_EQ(1u, collected.size());
    EXPECT_EQ("stationinfo=ann@example.org", collected[0].text);
    EXPECT_EQ("02/19 07:05:09 Mail <p1@x> from eve@x.example set aside: reading it stopped the "
              "robot twice",
              log.entries().back());
    std::vector<std::string> setAside;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("spool/set-aside")))
        setAside.push_back(readFile(entry.path()));
    EXPECT_THAT(setAside, ElementsAre(bytes));
}

TEST_F(Pop3ReaderTest, OnlyTheFirstThousandRequestLinesOfAMailAreRead) {
    ScriptedServer server;
    login(server, "+OK station has 1 messages (320 octets)");
    server.expectLine("RETR 1").sendLine("+OK").sendLine("Message-ID: <m1@x>").sendLine("");
    for (int i = 0; i < 1002; ++i) server.sendLine("stationinfo=a" + std::to_string(i) + "@x");
    server.sendLine(".").expectLine("DELE 1").sendLine("+OK").expectLine("QUIT").sendLine("+OK");
    EXPECT_EQ(1, readFrom(server));
    EXPECT_THAT(server.failures(), IsEmpty());
    ASSERT_EQ(1000u, lines.size());
    EXPECT_EQ("stationinfo=a999@x", lines.back());
    EXPECT_EQ("02/19 07:05:09 Mail <m1@x> from : only its first 1000 request lines are read",
              log.entries().back());
}

namespace {

// Hands out the one token it was given.
class OneToken final : public AccessTokenSource {
  public:
    explicit OneToken(std::string token) : token_(std::move(token)) {}
    bool accessToken(MailAccount, bool, std::string& token, std::string&) override {
        token = token_;
        return true;
    }

  private:
    std::string token_;
};

// The commands a dialogue shows as sent.
class SentLines final : public DialogueTranscript {
  public:
    void line(const char*, Kind kind, std::string_view text) override {
        if (kind == Kind::kSent)
            lines.emplace_back(text);
    }
    std::vector<std::string> lines;
};

std::string b64(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    return coder.encodedData();
}

TEST_F(Pop3ReaderTest, ALongOAuth2ResponseFollowsTheServersGoAhead) {
    // A first response that does not fit a 255-octet command line waits for "+ " (RFC 5034).
    std::string token(300, 't');
    OneToken tokens(token);
    settings.popAuthMethod = "oauth2";
    ScriptedServer server;
    server.sendLine("+OK POP3 ready").expectLine("CAPA");
    server.sendLine("+OK").sendLine("SASL PLAIN XOAUTH2").sendLine(".");
    server.expectLine("AUTH XOAUTH2").sendLine("+ ");
    server.expectLine(b64("user=station\x01" "auth=Bearer " + token + "\x01\x01"));
    server.sendLine("+OK Logged in.").expectLine("STAT").sendLine("+OK 0 0");
    server.expectLine("QUIT").sendLine("+OK");
    server.start();
    settings.popServer = server.address();
    MailContext& ctx = context();
    ctx.tokens = &tokens;
    SentLines sent;
    ctx.transcript = &sent;
    int messages = -1;
    std::string mechanism;
    EXPECT_EQ(1, checkMailbox(ctx, messages, error, nullptr, &mechanism)) << error;
    server.join();
    EXPECT_EQ("XOAUTH2", mechanism);
    EXPECT_THAT(server.failures(), IsEmpty());
    // The response alone is a secret: it is shown masked.
    EXPECT_THAT(sent.lines, ElementsAre("CAPA", "AUTH XOAUTH2", "****", "STAT", "QUIT"));
}

TEST_F(Pop3ReaderTest, AShortOAuth2ResponseIsShownMaskedAfterItsCommand) {
    OneToken tokens("tok");
    settings.popAuthMethod = "oauth2";
    ScriptedServer server;
    server.sendLine("+OK POP3 ready").expectLine("CAPA");
    server.sendLine("+OK").sendLine("SASL OAUTHBEARER").sendLine(".");
    server.expectLine("AUTH OAUTHBEARER " + b64("n,a=station,\x01" "auth=Bearer tok\x01\x01"));
    server.sendLine("+OK Logged in.").expectLine("STAT").sendLine("+OK 0 0");
    server.expectLine("QUIT").sendLine("+OK");
    server.start();
    settings.popServer = server.address();
    MailContext& ctx = context();
    ctx.tokens = &tokens;
    SentLines sent;
    ctx.transcript = &sent;
    int messages = -1;
    EXPECT_EQ(1, checkMailbox(ctx, messages, error, nullptr, nullptr)) << error;
    server.join();
    EXPECT_THAT(server.failures(), IsEmpty());
    EXPECT_THAT(sent.lines, ElementsAre("CAPA", "AUTH OAUTHBEARER ****", "STAT", "QUIT"));
}

}  // namespace
