#include "requests/request_cycle.h"

#include <gtest/gtest.h>

#include "mail/new_mail_watch.h"
#include "settings/text_routines.h"
#include "testing/station_fixture.h"

using Entries = std::vector<std::string>;

namespace {

class RequestCycleTest : public ::testing::Test, public StationFixture {};

}  // namespace

TEST_F(RequestCycleTest, StartUpChecksNoMailAndTheFirstCheckComesOneIntervalLater) {
    start();
    EXPECT_EQ(1, app->settings().popEnable);
    tick(1);  // the first idle tick only notes the time
    tick(119);
    EXPECT_EQ(0, transport.reads);
    tick(1);  // two whole minutes after the first tick
    EXPECT_EQ(1, transport.reads);
    // A quiet check that finds nothing leaves no entry.
    EXPECT_EQ(Entries{"Program Startup..."}, entries());
}

TEST_F(RequestCycleTest, CheckNowThatFindsNothingSaysSoAndEnablesTheButtonAgain) {
    start();
    app->requestCheckNow();
    EXPECT_FALSE(checkNow.enabled);
    tick();
    EXPECT_EQ((Entries{"Checking for new email messages...", "No new email messages"}), entries(1));
    EXPECT_TRUE(checkNow.enabled);
    EXPECT_EQ(1, app->statistics().popLoginAttempts);
    EXPECT_EQ(1, app->statistics().goodPopLogins);
}

TEST_F(RequestCycleTest, AFailedReadStillDispatchesTheLinesItCollected) {
    start();
    transport.mailbox = {"stationinfo=a@b.example", "stationinfo=c@d.example"};
    transport.readResult = 0;
    transport.readError = "Bad RETR OK in getMessage";
    app->requestCheckNow();
    tick();
    EXPECT_EQ(1, app->statistics().badPopLogins);
    EXPECT_EQ(2, app->statistics().requestFiles);
    EXPECT_EQ((Entries{"Checking for new email messages...", "POP Error: Bad RETR OK in getMessage",
                       "New messages: 2"}),
              entries(1));
    EXPECT_FALSE(checkNow.enabled);
    tick();
    EXPECT_EQ(1u, transport.sent.size());
    EXPECT_FALSE(checkNow.enabled);
    tick();
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_EQ("c@d.example", transport.sent[1].to);
    EXPECT_TRUE(checkNow.enabled);
    EXPECT_EQ(1, app->exitCode());
}

TEST_F(RequestCycleTest, ServesOneLineToItsEndBeforeTheNext) {
    start();
    transport.mailbox = {fileRequestLine("bhz,bhn"), "stationinfo=a@b.example",
                         fileRequestLine("bhe")};
    app->requestCheckNow();
    tick();  // check
    tick();  // first line: request file written, the wait starts
    EXPECT_EQ(readFile(requestFile()),
              "REQ: 2 18 2003 14 30 5 5 bhz,bhn " + tempDir() + "0302181430\n");
    EXPECT_EQ(90, app->cycle().responseCountdown());
    tick(10);
    EXPECT_EQ(2, app->cycle().linesPending());  // the station-information line still waits
    answer("ok", {"bhz", "bhn"});
    tick();  // the response is processed, the files mailed and deleted
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ("Your Event Files", transport.sent[0].subject);
    EXPECT_FALSE(fileExists(eventFile("bhz")));
    EXPECT_FALSE(fileExists(requestFile() + ".ack"));
    EXPECT_FALSE(checkNow.enabled);
    tick();  // station information
    EXPECT_EQ("Station Information", transport.sent[1].subject);
    tick();  // last line: another wait
    EXPECT_FALSE(checkNow.enabled);
    answer("ok", {"bhe"});
    tick();
    EXPECT_EQ("Your Event File", transport.sent[2].subject);
    EXPECT_TRUE(checkNow.enabled);
    EXPECT_EQ(3, app->statistics().eventFilesSent);
    EXPECT_EQ(3, app->statistics().requestFiles);
    EXPECT_EQ((Entries{"MORNAK Response: ok", "Info Req: a@b.example",
                       "File Req: 2 18 2003 14 30 5 20 bhe a@b.example", "MORNAK Response: ok"}),
              entries(entries().size() - 4));
}

TEST_F(RequestCycleTest, CheckNowDuringAWaitRunsOnceTheWaitAndTheLinesHaveEnded) {
    start();
    transport.mailbox = {fileRequestLine("bhz")};
    app->requestCheckNow();
    tick(2);
    app->requestCheckNow();
    tick(5);
    EXPECT_EQ(1, transport.reads);
    answer("ok", {"bhz"});
    tick();  // response processed
    EXPECT_EQ(1, transport.reads);
    tick();  // now the check runs
    EXPECT_EQ(2, transport.reads);
    EXPECT_EQ("No new email messages", entries().back());
}

TEST_F(RequestCycleTest, NoResponseWithin90TicksIsReportedAndTheRequestFileDeleted) {
    start();
    transport.mailbox = {fileRequestLine("bhz")};
    app->requestCheckNow();
    tick(2);
    ASSERT_TRUE(fileExists(requestFile()));
    tick(89);
    EXPECT_TRUE(transport.sent.empty());
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ("Event File Request Error", transport.sent[0].subject);
    EXPECT_NE(std::string::npos,
              transport.sent[0].body.view().find("Error: No response from datalogger\r\n"));
    EXPECT_FALSE(fileExists(requestFile()));
    EXPECT_TRUE(checkNow.enabled);
    EXPECT_EQ("No response from datalogger", fileEntries().back());
    // A response that comes later is not looked for again.
    answer("ok", {"bhz"});
    tick(5);
    EXPECT_EQ(1u, transport.sent.size());
    EXPECT_TRUE(fileExists(eventFile("bhz")));
}

TEST_F(RequestCycleTest, CheckNowWithPollingOffLogsAndLeavesTheButtonDisabled) {
    start("PopServer=\n");
    EXPECT_EQ(0, app->settings().popEnable);
    app->requestCheckNow();
    tick();
    EXPECT_EQ("POP Enable Error", fileEntries().back());
    EXPECT_FALSE(checkNow.enabled);
    EXPECT_EQ(0, transport.reads);
    EXPECT_EQ(0, app->statistics().popLoginAttempts);
}

TEST_F(RequestCycleTest, ACheckIntervalOfZeroChecksAtEveryIdleTick) {
    start();
    app->settings().popCheckTime = 0;
    tick(4);
    EXPECT_EQ(3, transport.reads);
}

TEST_F(RequestCycleTest, NewMailAnnouncedByTheWatchIsCheckedAtTheNextIdleTick) {
    struct Announcer final : NewMailWatch {
        bool takeNewMail() override { return std::exchange(announced, false); }
        bool announced = false;
    } watch;
    start();
    app->cycle().setNewMailWatch(&watch);
    tick(10);
    EXPECT_EQ(0, transport.reads);
    CollectedLine info("stationinfo=a@b.example");
    info.arrival = 1'000'000'003;  // its mail's INTERNALDATE
    transport.mailbox = {info};
    watch.announced = true;
    tick();
    EXPECT_EQ(1, transport.reads);
    EXPECT_TRUE(app->nextTickNow());  // the requester waits: the next tick may come at once
    tick();  // served: the reply carries the mail's arrival, for the reply delay metric
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ(1'000'000'003, transport.sent[0].arrival);
    EXPECT_FALSE(app->nextTickNow());
    tick(59);  // the interval now runs from that check
    EXPECT_EQ(1, transport.reads);
    tick(60);
    EXPECT_EQ(2, transport.reads);
}

TEST_F(RequestCycleTest, NoPeriodicCheckWhileTheClockIsBehindTheLastCheck) {
    start();
    tick();  // notes the time T
    clock.seconds -= 3600;
    tick(120);
    EXPECT_EQ(0, transport.reads);
    clock.seconds += 3600;
    tick();
    EXPECT_EQ(1, transport.reads);
}

TEST_F(RequestCycleTest, OtherLinesAreSkippedSilentlyAndLongOnesRefusedAsBad) {
    start();
    transport.mailbox = {"stationinfox=nothing", fileRequestLine(std::string(300, 'c'))};
    app->requestCheckNow();
    tick(2);
    EXPECT_EQ(1, app->cycle().linesPending());
    EXPECT_EQ("New messages: 2", entries().back());
    tick();
    EXPECT_EQ(0, app->cycle().linesPending());
    EXPECT_EQ(0u, fileEntries().back().find("Bad Request Line = 2 18 2003 14 30 5 20 ccc"));
    EXPECT_TRUE(transport.attempts.empty());
    EXPECT_TRUE(checkNow.enabled);
}

TEST_F(RequestCycleTest, RefusedRequestsGetAnErrorReportAndBadLinesNone) {
    start();
    transport.mailbox = {fileRequestLine("xyz"),
                         "eventfilerequest=2 18 2003 14 30 0 20 bhz a@b.example",
                         "eventfilerequest=2 18 2003", fileRequestLine(",,,")};
    app->requestCheckNow();
    tick(5);
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_NE(std::string::npos, transport.sent[0].body.view().find(
                                     "Error: No channel IDs found at this station\r\n"));
    EXPECT_NE(std::string::npos,
              transport.sent[1].body.view().find("Error: Invalid time length or sample rate\r\n"));
    Entries file = fileEntries();
    EXPECT_EQ((Entries{"No channel IDs found at this station", "Invalid time length or sample rate",
                       "Bad Request Line = 2 18 2003"}),
              Entries(file.end() - 3, file.end()));
}

// A mail's refused lines are answered together to its sender, threaded under it, once the
// mail's last line is taken; a mail without a sender gets no such reply.
TEST_F(RequestCycleTest, RefusedLinesAreAnsweredOncePerMailToItsSender) {
    start();
    auto line = [](const char* text, int mail, const char* sender) {
        CollectedLine collected(text);
        collected.mail = mail;
        collected.sender = sender;
        collected.messageId = "m" + std::to_string(mail) + "@uni.example";
        return collected;
    };
    transport.mailbox = {line("eventfilerequest=2 18", 1, "ann@uni.example"),
                         line("stationinfo=ann@uni.example", 1, "ann@uni.example"),
                         line("stationinfo=", 1, "ann@uni.example"), line("stationinfo=", 2, ""),
                         line("eventfilerequest=x", 3, "bob@obs.example")};
    app->requestCheckNow();
    tick(6);
    ASSERT_EQ(3u, transport.sent.size());
    EXPECT_EQ("Station Information", transport.sent[0].subject);
    EXPECT_EQ("m1@uni.example", transport.sent[0].inReplyTo);
    const MailJob& ann = transport.sent[1];
    EXPECT_EQ("ann@uni.example", ann.to);
    EXPECT_EQ("m1@uni.example", ann.inReplyTo);
    EXPECT_EQ("Event File Request Error", ann.subject);
    EXPECT_EQ(
        "Station ANMO:\r\nThere was an error processing your event file request.\r\n\r\n"
        "Error: Bad Request Line = eventfilerequest=2 18\r\n"
        "Error: Bad Request Line = stationinfo=\r\n",
        ann.body);
    EXPECT_EQ("bob@obs.example", transport.sent[2].to);
    EXPECT_EQ("m3@uni.example", transport.sent[2].inReplyTo);
}

// A mail whose request key gave no line is answered once, saying why; a line whose address
// ran into a glued signature is refused and answered, never mailed to that address. Only the
// request lines count as new messages, and a check that read mails says no "No new email
// messages": each mail has its own entry.
TEST_F(RequestCycleTest, AMailWithAnUnservedKeyAndAGluedAddressAreAnsweredToTheirSenders) {
    start();
    CollectedLine unserved(std::string(kUnservedMailMark) +
                           "A request key stands only in quoted "
                           "text, which is not read: no request was served");
    unserved.mail = 1;
    unserved.sender = "ann@uni.example";
    unserved.messageId = "m1@uni.example";
    CollectedLine glued("stationinfo=sam.lee@gmail.comsent from my galaxy");
    glued.mail = 2;
    glued.sender = "sam.lee@gmail.com";
    transport.mailbox = {unserved, glued};
    transport.mailsInMailbox = 3;
    app->requestCheckNow();
    tick(3);
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_EQ("ann@uni.example", transport.sent[0].to);
    EXPECT_EQ("m1@uni.example", transport.sent[0].inReplyTo);
    EXPECT_EQ("Event File Request Error", transport.sent[0].subject);
    EXPECT_EQ(
        "Station ANMO:\r\nThere was an error processing your event file request.\r\n\r\n"
        "Error: A request key stands only in quoted text, which is not read: no request was "
        "served\r\n",
        transport.sent[0].body);
    EXPECT_EQ("sam.lee@gmail.com", transport.sent[1].to);
    EXPECT_NE(std::string::npos,
              transport.sent[1].body.view().find(
                  "Error: Bad Request Line = stationinfo=sam.lee@gmail.comsent from my galaxy"));
    EXPECT_EQ((Entries{"Checking for new email messages...", "New messages: 1",
                       "Info Req: sam.lee@gmail.comsent from my galaxy",
                       "Bad Request Line = sam.lee@gmail.comsent from my galaxy"}),
              entries(1));
    EXPECT_EQ(1, app->statistics().requestFiles);
    EXPECT_TRUE(app->finished());
}

TEST_F(RequestCycleTest, HundredsOfLinesAreServedOnePerTick) {
    start();
    for (int i = 0; i < 300; ++i)
        transport.mailbox.push_back("stationinfo=r" + std::to_string(i) + "@x");
    app->requestCheckNow();
    tick();
    tick(299);
    EXPECT_EQ(1, app->cycle().linesPending());
    EXPECT_EQ(299u, transport.sent.size());
    tick();
    EXPECT_EQ(300u, transport.sent.size());
    EXPECT_TRUE(app->finished());
}

TEST_F(RequestCycleTest, ASingleRunChecksOnceWhileItRetriesAQueuedReply) {
    start();  // a check every two minutes in a normal run
    app->startSingleRun();
    transport.failSends = true;
    transport.mailbox = {"stationinfo=a@b.example"};
    tick();  // the one check
    tick();  // the reply fails and is queued
    transport.mailbox = {"stationinfo=late@b.example"};
    // The queued reply is tried at four opportunities 300 ticks apart and given up at the
    // fifth; no periodic check comes in between, so the late line stays in the mailbox.
    for (int i = 0; i < 2000 && !app->finished(); ++i) tick();
    EXPECT_TRUE(app->finished());
    EXPECT_EQ(1, transport.reads);
    EXPECT_EQ(5u, transport.attempts.size());
    EXPECT_EQ("Can't resend event files", fileEntries().back());
    EXPECT_EQ(2, app->exitCode());
}

TEST_F(RequestCycleTest, AGivenUpReplyOutweighsAFailedCheckInTheExitCode) {
    start();
    app->startSingleRun();
    transport.readResult = 0;  // the read fails after collecting the line
    transport.failSends = true;
    transport.mailbox = {"stationinfo=a@b.example"};
    for (int i = 0; i < 2000 && !app->finished(); ++i) tick();
    EXPECT_TRUE(app->finished());
    EXPECT_TRUE(app->cycle().mailCheckFailed());
    EXPECT_EQ(1, app->cycle().droppedReplies());
    EXPECT_EQ(2, app->exitCode());
}
