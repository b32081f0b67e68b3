#include "requests/resend_queue.h"

#include <gtest/gtest.h>

#include "settings/text_routines.h"
#include "testing/station_fixture.h"

using Entries = std::vector<std::string>;

namespace {

class ResendQueueTest : public ::testing::Test, public StationFixture {
  protected:
    ResendQueue& queue() { return app->cycle().resendQueue(); }

    // Runs ticks until the queue is looked at (a send attempted or the countdown reset).
    void tickToOpportunity() {
        std::size_t attempts = transport.attempts.size();
        for (int i = 0; i < 400; ++i) {
            tick();
            if (transport.attempts.size() != attempts)
                return;
        }
        FAIL() << "no resend opportunity within 400 ticks";
    }
};

}  // namespace

TEST_F(ResendQueueTest, AFailingJobIsTriedFourMoreTimes300TicksApartThenGivenUp) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz")};
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    tick();
    ASSERT_EQ(1u, queue().size());
    EXPECT_EQ("Send File Error = Can't connect to smtp.example", fileEntries().back());

    tickToOpportunity();  // the countdown of 120 from start-up
    EXPECT_EQ("Resend Error = Can't connect to smtp.example", fileEntries().back());
    EXPECT_EQ(1, queue().job(0).tries);
    std::int64_t before = clock.seconds;
    tickToOpportunity();
    EXPECT_EQ(300, clock.seconds - before);
    tickToOpportunity();
    tickToOpportunity();
    EXPECT_EQ(4, queue().job(0).tries);
    EXPECT_EQ(5u, transport.attempts.size());  // the first send and four resends
    // The fifth opportunity gives the job up without sending; its file is set aside.
    for (int i = 0; i < 300 && !queue().empty(); ++i) tick();
    EXPECT_TRUE(queue().empty());
    EXPECT_EQ(5u, transport.attempts.size());
    Entries file = fileEntries();
    EXPECT_EQ("Can't resend event files", file[file.size() - 2]);
    std::string undelivered = dir.file("spool/undelivered/000000000002/");
    EXPECT_EQ("Reply to a@b.example not delivered: its files are in " + undelivered, file.back());
    EXPECT_TRUE(fileExists(undelivered + "0302181430.bhz.mqx"));
    EXPECT_FALSE(fileExists(eventFile("bhz")));
    EXPECT_EQ(2, app->exitCode());
}

TEST_F(ResendQueueTest, ASuccessfulResendDeletesTheFilesAndTheNextJobFollows30TicksLater) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz"), "stationinfo=x@y"};
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    tick(2);
    ASSERT_EQ(2u, queue().size());
    transport.failSends = false;
    tickToOpportunity();
    EXPECT_EQ("Your Event File", transport.sent.back().subject);
    EXPECT_FALSE(fileExists(eventFile("bhz")));
    std::int64_t before = clock.seconds;
    tickToOpportunity();
    EXPECT_EQ(30, clock.seconds - before);
    EXPECT_EQ("Station Information", transport.sent.back().subject);
    EXPECT_TRUE(app->finished());
    EXPECT_EQ(0, app->exitCode());
}

TEST_F(ResendQueueTest, NothingIsRetriedWhilePollingIsOff) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.mailbox = {"stationinfo=x@y"};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, queue().size());
    app->settings().popEnable = 0;
    std::size_t attempts = transport.attempts.size();
    tick(2000);
    EXPECT_EQ(attempts, transport.attempts.size());
    EXPECT_EQ(0, queue().job(0).tries);
}

TEST_F(ResendQueueTest, KeepsTenJobs) {
    start("PopCheckTime=30\n");
    for (int i = 0; i < 11; ++i) {
        MailJob job;
        job.subject = "job " + std::to_string(i);
        queue().queueReq(job);
    }
    EXPECT_EQ(10u, queue().size());
    EXPECT_EQ("Too many files queued", fileEntries().back());
    EXPECT_EQ("job 9", queue().job(9).subject);
    EXPECT_EQ(1, queue().resendNext());
    EXPECT_EQ("job 0", transport.sent.back().subject);
}

TEST_F(ResendQueueTest, AFailingHeadHoldsBackTheJobsBehindIt) {
    start("PopCheckTime=30\n");
    MailJob a, b;
    a.subject = "a";
    b.subject = "b";
    queue().queueReq(a);
    queue().queueReq(b);
    transport.sendResults = {0, 0, 1, 1};
    EXPECT_EQ(0, queue().resendNext());
    EXPECT_EQ(0, queue().resendNext());
    EXPECT_EQ(1, queue().resendNext());
    EXPECT_EQ(1, queue().resendNext());
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_EQ("a", transport.sent[0].subject);
    EXPECT_EQ("b", transport.sent[1].subject);
}
