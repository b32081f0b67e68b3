#include <gtest/gtest.h>

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

}  // namespace
