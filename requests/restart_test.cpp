#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "settings/text_routines.h"
#include "spool/spool.h"
#include "testing/station_fixture.h"

// What survives a restart: the spool beside the settings, taken up by a new run.

using Entries = std::vector<std::string>;

namespace {

class RestartTest : public ::testing::Test, public StationFixture {
  protected:
    ResendQueue& queue() { return app->cycle().resendQueue(); }

    // Ends the run and starts a new one on the same directory, as after a power cut.
    void restart() {
        app.reset();
        start("PopCheckTime=30\n");
    }

    std::size_t spooled(const std::string& folder) const {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("spool/" + folder)))
            n += entry.path().filename().string()[0] != '.';
        return n;
    }

    void tickUntilSent(std::size_t count) {
        for (int i = 0; i < 400 && transport.sent.size() < count; ++i) tick();
        ASSERT_EQ(count, transport.sent.size());
    }
};

TEST_F(RestartTest, AQueuedReplyGoesOutAfterARestartWithItsTriesCounted) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz")};
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    tick();
    ASSERT_EQ(1u, queue().size());
    for (int i = 0; i < 200 && queue().job(0).tries == 0; ++i) tick();  // one resend fails
    ASSERT_EQ(1, queue().job(0).tries);

    restart();
    EXPECT_EQ("Resuming 0 requests and 1 unsent replies", fileEntries().back());
    ASSERT_EQ(1u, queue().size());
    EXPECT_EQ(1, queue().job(0).tries);
    std::string attachment = queue().job(0).attachments[0].str();
    EXPECT_EQ("event data of bhz", readFile(attachment));
    transport.failSends = false;
    tickUntilSent(1);
    EXPECT_EQ("Your Event File", transport.sent[0].subject);
    EXPECT_EQ(attachment, transport.sent[0].attachments[0].str());
    EXPECT_FALSE(fileExists(attachment));
    EXPECT_TRUE(app->finished());
}

TEST_F(RestartTest, TwoRequestsForTheSameMinuteAndChannelKeepTheirOwnCuts) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz"),
                         "eventfilerequest=2 18 2003 14 30 5 20 bhz c@d.example"};
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    writeFile(eventFile("bhz"), "the cut for a");
    tick(2);  // the reply fails and is queued; the second request is written
    answer("ok", {"bhz"});
    writeFile(eventFile("bhz"), "the cut for c");
    tick();
    ASSERT_EQ(2u, queue().size());
    restart();
    EXPECT_EQ("the cut for a", readFile(queue().job(0).attachments[0].str()));
    EXPECT_EQ("the cut for c", readFile(queue().job(1).attachments[0].str()));
    transport.failSends = false;
    tickUntilSent(2);
    EXPECT_EQ("a@b.example", transport.sent[0].to);
    EXPECT_EQ("c@d.example", transport.sent[1].to);
    EXPECT_FALSE(fileExists(eventFile("bhz")));
}

TEST_F(RestartTest, LinesLeftInTheSpoolAreServedFirstAndUnreadableEntriesSetAside) {
    {
        ActivityLog log(clock, "");
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        std::vector<CollectedLine> lines = {"stationinfo=early@b.example"};
        ASSERT_TRUE(spool.keepLines(lines));
    }
    writeFile(dir.file("spool/lines/000000000007"), "written by hand\n");
    transport.mailbox = {"stationinfo=late@b.example"};
    start("PopCheckTime=30\n");
    Entries file = fileEntries();
    EXPECT_EQ("Spool entry " + dir.file("spool/lines/000000000007") + " cannot be read: moved to " +
                  dir.file("spool/bad/line-000000000007"),
              file[file.size() - 2]);
    EXPECT_EQ("Resuming 1 requests and 0 unsent replies", file.back());
    app->requestCheckNow();
    tick(3);
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_EQ("early@b.example", transport.sent[0].to);
    EXPECT_EQ("late@b.example", transport.sent[1].to);
    EXPECT_TRUE(fileExists(dir.file("spool/bad/line-000000000007")));
    ActivityLog log(clock, "");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    EXPECT_TRUE(spool.loadLines().empty());
}

// With the queue's folder unusable (here a file stands in its place), a reply that cannot be
// sent cannot be kept either: its line stays in the spool, the run ends with 1, and the line is
// served again at a resend opportunity once the spool works again.
TEST_F(RestartTest, ARequestWhoseReplyCannotBeKeptStaysAndIsServedAgain) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz"), "stationinfo=c@d.example"};
    ASSERT_EQ(0, rmdir(dir.file("spool/queue").c_str()));
    writeFile(dir.file("spool/queue"), "");
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    tick(2);
    EXPECT_EQ("Spool Error: cannot create " + dir.file("spool/queue/.000000000003/") +
                  ": Not a directory (the request is kept and will be served again)",
              fileEntries().back());
    EXPECT_TRUE(queue().empty());
    EXPECT_EQ(1u, spooled("lines"));  // the check's entry, both lines in it
    EXPECT_EQ(2u, app->cycle().heldLines());
    EXPECT_FALSE(fileExists(eventFile("bhz")));  // cut again when the request is served again
    EXPECT_TRUE(app->finished());
    EXPECT_TRUE(app->workLeft());
    EXPECT_EQ(1, app->exitCode());

    ASSERT_EQ(0, unlink(dir.file("spool/queue").c_str()));
    ASSERT_EQ(0, mkdir(dir.file("spool/queue").c_str(), 0700));
    transport.failSends = false;
    for (int i = 0; i < 200 && entries().back() != "Serving 2 kept requests again"; ++i) tick();
    ASSERT_EQ("Serving 2 kept requests again", entries().back());
    tick();  // the request is written again
    answer("ok", {"bhz"});
    tickUntilSent(2);
    EXPECT_EQ("Your Event File", transport.sent[0].subject);
    EXPECT_EQ("Station Information", transport.sent[1].subject);
    EXPECT_EQ(0u, spooled("lines"));
    EXPECT_FALSE(app->workLeft());
}

// A line entry that cannot be removed (here a folder stands in its place) is reported, and a
// single run ends with 1: the request may be served again by the next run.
TEST_F(RestartTest, ALineThatCannotBeRemovedIsReported) {
    start("PopCheckTime=30\n");
    transport.mailbox = {"stationinfo=c@d.example"};
    app->requestCheckNow();
    tick();
    std::string line = dir.file("spool/lines/000000000001");
    ASSERT_EQ(0, unlink(line.c_str()));
    ASSERT_EQ(0, mkdir(line.c_str(), 0700));
    writeFile(line + "/x", "");
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ("Spool Error: cannot remove " + line + ": Is a directory", fileEntries().back());
    EXPECT_EQ(1, app->exitCode());
}

// At most ten replies are queued at start-up too; the rest are given up as a full queue
// gives them up, their files set aside.
TEST_F(RestartTest, TheQueueLimitHoldsAtStartUp) {
    {
        ActivityLog log(clock, "");
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        for (int i = 0; i < 12; ++i) {
            writeFile(eventFile("bhz"), "cut " + std::to_string(i));
            MailJob job;
            job.to = "a@b.example";
            job.attachments[0] = eventFile("bhz");
            job.attachmentCount = 1;
            std::string error;
            ASSERT_FALSE(spool.keepJob(job, error).empty()) << error;
        }
    }
    start("PopCheckTime=30\n");
    EXPECT_EQ(10u, queue().size());
    EXPECT_EQ("cut 9", readFile(queue().job(9).attachments[0].str()));
    Entries file = fileEntries();
    EXPECT_EQ(2, std::count(file.begin(), file.end(), "Too many files queued"));
    EXPECT_EQ("Resuming 0 requests and 10 unsent replies", file.back());
    EXPECT_EQ("cut 11", readFile(dir.file("spool/undelivered/000000000012/0302181430.bhz.mqx")));
    EXPECT_EQ(10u, spooled("queue"));
    EXPECT_EQ(2, app->exitCode());
}

// The request and response files of a request an earlier run was waiting for are removed at
// start-up; other files in the request folder stay.
TEST_F(RestartTest, TheFilesOfAnAbandonedRequestAreRemovedAtStartUp) {
    std::vector<std::string> abandoned = {"RQ070509042.sy1", "RQ070509042.sy1.ack",
                                          ".RQ070510001.sy2.tmp"};
    for (const std::string& name : abandoned) writeFile(requestDir() + name, "REQ: 1\n");
    for (const char* name : {"RQ.sy1", "RQ0705090x2.sy1", "notes.txt"})
        writeFile(requestDir() + name, "");
    start("PopCheckTime=30\n");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(requestDir()))
        left.push_back(entry.path().filename().string());
    EXPECT_THAT(left, ::testing::UnorderedElementsAre("RQ.sy1", "RQ0705090x2.sy1", "notes.txt"));
}

}  // namespace
