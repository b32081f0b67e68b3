#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/mail_context.h"
#include "mail/pop3_reader.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"
#include "spool/spool.h"
#include "testing/dovecot_fixture.h"
#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

// The mailbox reader against a real Dovecot POP3 server of the test's own.

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class Pop3ReaderDovecotTest : public ::testing::Test {
  protected:
    Pop3ReaderDovecotTest() : log(clock, "") { resetSettings(settings); }

    void SetUp() override {
        if (DovecotServer::programPath().empty())
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d)";
        std::string why;
        ASSERT_TRUE(dovecot.start(&why)) << why;
        settings.popServer = dovecot.address();
        settings.popUser = dovecot.user();
        settings.popPassword = dovecot.password();
    }

    FakeClock clock;
    ActivityLog log;  // list only
    Statistics statistics;
    MailerSettings settings;
    MailContext context{settings, log, statistics, clock};
    DovecotServer dovecot{"station", "s3cret"};
    std::vector<std::string> lines;
    std::string error;
};

TEST_F(Pop3ReaderDovecotTest, EveryMessageIsReadItsRequestLinesKeptAndItIsDeleted) {
    dovecot.deliver(
        "From: Ann <ann@example.org>\r\n"
        "To: station@example.org\r\n"
        "Subject: data\r\n"
        "\r\n"
        "EventFileRequest=2003/02/19,07:05:00,60,CH1,ann@example.org\r\n"
        ".eventfilerequest=a line that begins with a dot\r\n"
        "thanks\r\n");
    dovecot.deliver("From: bob@example.org\nSubject: nothing\n\njust text\n");
    dovecot.deliver("From: cy@example.org\nSubject: info\n\nstationinfo=cy@example.org\n");
    ASSERT_EQ(3, dovecot.messageCount());

    EXPECT_EQ(1, readMailbox(context, lines, error));
    EXPECT_EQ("", error);
    // Dovecot dot-stuffs the line that begins with a dot; it is not unstuffed, so not kept.
    EXPECT_THAT(lines, ElementsAre("eventfilerequest=2003/02/19,07:05:00,60,ch1,ann@example.org",
                                   "stationinfo=cy@example.org"));
    EXPECT_EQ(0, dovecot.messageCount());
    EXPECT_THAT(log.entries(),
                ElementsAre(HasSubstr("Mail from bob@example.org: no request lines")));
    EXPECT_GT(statistics.bytesSent, 0);

    EXPECT_EQ(1, readMailbox(context, lines, error));  // an empty mailbox next time
    EXPECT_THAT(lines, IsEmpty());
}

TEST_F(Pop3ReaderDovecotTest, AWrongPasswordLeavesTheMailboxAlone) {
    dovecot.deliver("Subject: x\n\nstationinfo=ann@example.org\n");
    settings.popPassword = "wrong";
    EXPECT_EQ(0, readMailbox(context, lines, error));
    EXPECT_EQ("User Login Password Error", error);
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_EQ(1, dovecot.messageCount());
    EXPECT_THAT(log.entries(), IsEmpty());
}

// The lines are kept before QUIT commits the deletions; lines that cannot be kept leave their
// mail on the server.
TEST_F(Pop3ReaderDovecotTest, LinesAreKeptBeforeTheMailboxLetsTheirMailGo) {
    struct Keeper : LineKeeper {
        bool keepLines(std::vector<CollectedLine>& kept) override {
            seenOnServer = dovecot->messageCount();
            for (CollectedLine& line : kept) line.spoolId = "kept";
            return works;
        }
        DovecotServer* dovecot = nullptr;
        bool works = false;
        int seenOnServer = -1;
    } keeper;
    keeper.dovecot = &dovecot;
    dovecot.deliver("From: ann@example.org\n\nstationinfo=ann@example.org\n");
    std::vector<CollectedLine> collected;
    EXPECT_EQ(0, readMailbox(context, collected, error, nullptr, &keeper));
    EXPECT_EQ("Spool Error: the request lines could not be kept; the mail stays on the server",
              error);
    EXPECT_THAT(collected, IsEmpty());
    EXPECT_EQ(1, dovecot.messageCount());

    keeper.works = true;
    EXPECT_EQ(1, readMailbox(context, collected, error, nullptr, &keeper));
    EXPECT_EQ(1, keeper.seenOnServer);  // still there while the lines were kept
    ASSERT_EQ(1u, collected.size());
    EXPECT_EQ("kept", collected[0].spoolId);
    EXPECT_EQ(0, dovecot.messageCount());
}

// A mail whose lines an earlier session kept (it stopped before the server deleted the mail)
// is deleted without its lines taken again; the keeper hears when the mailbox committed.
TEST_F(Pop3ReaderDovecotTest, AMailTakenBeforeAStopIsDeletedWithoutItsLines) {
    struct Keeper : LineKeeper {
        bool keepLines(std::vector<CollectedLine>&) override { return true; }
        bool wasTaken(const std::string& key) override {
            return key.rfind("one@a.example ", 0) == 0;
        }
        void mailboxCommitted() override { ++commits; }
        int commits = 0;
    } keeper;
    dovecot.deliver("From: ann@example.org\nMessage-ID: <one@a.example>\n\n"
                    "stationinfo=ann@example.org\n");
    dovecot.deliver("From: bob@example.org\nMessage-ID: <two@a.example>\n\n"
                    "stationinfo=bob@example.org\n");
    std::vector<CollectedLine> collected;
    EXPECT_EQ(1, readMailbox(context, collected, error, nullptr, &keeper)) << error;
    ASSERT_EQ(1u, collected.size());
    EXPECT_EQ("stationinfo=bob@example.org", collected[0].text);
    EXPECT_EQ(0, dovecot.messageCount());
    EXPECT_EQ(1, keeper.commits);
    EXPECT_THAT(log.entries(),
                Contains(HasSubstr("Mail <one@a.example> was read before: its requests are "
                                   "already kept")));
}

// A mail is known by its Message-ID and its content: after a stop between keeping a mail's
// lines and its deletion, the mail is not served again, but another mail that reuses its
// Message-ID is.
TEST_F(Pop3ReaderDovecotTest, AnotherMailReusingATakenMessageIdIsServed) {
    TempDir dir;
    // Keeps the lines in the spool, then stops the session before QUIT, as a kill would.
    struct StoppingKeeper : LineKeeper {
        explicit StoppingKeeper(Spool& spool) : spool(spool) {}
        bool keepLines(std::vector<CollectedLine>& kept) override {
            spool.keepLines(kept);
            return false;
        }
        Spool& spool;
    };
    dovecot.deliver("From: ann@example.org\nMessage-ID: <same@a.example>\n\n"
                    "stationinfo=ann@example.org\n");
    std::vector<CollectedLine> collected;
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        StoppingKeeper stopping(spool);
        readMailbox(context, collected, error, nullptr, &stopping);
    }
    dovecot.deliver("From: bob@example.org\nMessage-ID: <same@a.example>\n\n"
                    "stationinfo=bob@example.org\n");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    std::vector<CollectedLine> left = spool.loadLines();
    ASSERT_EQ(1u, left.size());  // ann's line, from the stopped session
    spool.removeLine(left[0].spoolId);  // served: her mail is written down as taken
    ASSERT_TRUE(fileExists(dir.file("spool/taken")));
    collected.clear();
    EXPECT_EQ(1, readMailbox(context, collected, error, nullptr, &spool)) << error;
    ASSERT_EQ(1u, collected.size());
    EXPECT_EQ("stationinfo=bob@example.org", collected[0].text);
    EXPECT_EQ(0, dovecot.messageCount());
    // QUIT was answered after a check that kept a line: the taken mails are forgotten, on the
    // disk too.
    EXPECT_FALSE(fileExists(dir.file("spool/taken")));
}

// A bare CR before a dot is no end of the message: the mail that holds it cannot take over the
// dialogue, and the mail after it is read as it is.
TEST_F(Pop3ReaderDovecotTest, ABareCarriageReturnAndDotDoNotEndTheMessage) {
    dovecot.deliver("From: mallory@example.org\r\n\r\n\r.\r\n+OK 99 octets\r\n"
                    "stationinfo=mallory@example.org\r\n.\r\n+OK\r\n");
    dovecot.deliver("From: ann@example.org\r\n\r\nstationinfo=ann@example.org\r\n");
    EXPECT_EQ(1, readMailbox(context, lines, error)) << error;
    EXPECT_THAT(lines,
                ElementsAre("stationinfo=mallory@example.org", "stationinfo=ann@example.org"));
    EXPECT_EQ(0, dovecot.messageCount());
}
