#include "requests/replies.h"

#include <gtest/gtest.h>

#include "requests/recorder_system.h"
#include "settings/text_routines.h"
#include "testing/station_fixture.h"

namespace {

class RepliesTest : public ::testing::Test, public StationFixture {};

}  // namespace

TEST_F(RepliesTest, ErrorReportBodyByteForByte) {
    start();
    transport.mailbox = {"eventfilerequest=2 18 2003 14 30 5 0 bhz a@b.example"};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, transport.sent.size());
    const MailJob& job = transport.sent[0];
    EXPECT_EQ("a@b.example", job.to);
    EXPECT_EQ("ANMO Robot <robot@anmo>", job.from);
    EXPECT_EQ("Event File Request Error", job.subject);
    EXPECT_EQ(
        "Station ANMO:\r\nThere was an error processing your event file request.\r\n\r\n"
        "Error: Invalid time length or sample rate\r\n",
        job.body);
    EXPECT_EQ(0, job.attachmentCount);
}

TEST_F(RepliesTest, PartialEventFileReplyNamesTheMissingChannelsInCapitals) {
    start();
    transport.mailbox = {fileRequestLine("bhz,xyz,bhe")};
    app->requestCheckNow();
    tick(2);
    answer("done", {"bhz"});
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    const MailJob& job = transport.sent[0];
    EXPECT_EQ("Your Event File", job.subject);
    EXPECT_EQ(
        "Here is your event file from the ANMO station.\r\n\r\nErrors:\r\n"
        "Sensor channel XYZ not found\r\nSensor channel BHE not found\r\n",
        job.body);
    ASSERT_EQ(1, job.attachmentCount);
    EXPECT_EQ(eventFile("bhz"), job.attachments[0]);
    EXPECT_EQ(1, app->statistics().eventFilesSent);
}

TEST_F(RepliesTest, AFailedErrorReportIsShownInTheListOnlyAndQueued) {
    start();
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("xyz")};
    app->requestCheckNow();
    tick(2);
    EXPECT_EQ("Send Error Report Error = Can't connect to smtp.example", entries().back());
    EXPECT_EQ("No channel IDs found at this station", fileEntries().back());
    EXPECT_EQ(1u, app->cycle().resendQueue().size());
}

TEST_F(RepliesTest, FilesOfAFailedReplyGoWithItsQueuedJobAndCountAsSent) {
    start();
    transport.failSends = true;
    transport.mailbox = {fileRequestLine("bhz,bhn")};
    app->requestCheckNow();
    tick(2);
    answer("done", {"bhz", "bhn"});
    tick();
    const MailJob& queued = app->cycle().resendQueue().job(0);
    ASSERT_EQ(2, queued.attachmentCount);
    EXPECT_EQ(dir.file("spool/queue/000000000002/0302181430.bhz.mqx"), queued.attachments[0]);
    EXPECT_TRUE(fileExists(queued.attachments[0].str()));
    EXPECT_TRUE(fileExists(queued.attachments[1].str()));
    EXPECT_FALSE(fileExists(eventFile("bhz")));
    EXPECT_EQ(2, app->statistics().eventFilesSent);
    EXPECT_EQ("Send File Error = Can't connect to smtp.example", fileEntries().back());
}

TEST_F(RepliesTest, StationInformationListsVolumesAndChannelsByTheirRules) {
    start();
    RecorderSystem& first = app->settings().firstSystem;
    first.volumes[1].enabled = 1;
    first.volumes[1].name = "loud";
    first.volumes[1].memberChannels[1] = "BHN";
    first.volumes[1].memberChannels[2] = "BHE";
    first.channels[0].information = "STS-2";
    RecorderSystem& second = app->settings().secondSystem;
    second.samplesPerSecond = 20;
    second.numberChannels = 9;  // more than the slots: only the eight are read
    second.channels[0].id = "LHZ";
    second.channels[0].component = "Z";
    transport.mailbox = {"stationinfo=a@b.example"};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ("Station Information", transport.sent[0].subject);
    std::string expected =
        "Station Information: ANMO\r\n\r\n"
        "Dataset Volume: loud\r\n    Channels:  BHN BHE\r\n\r\n"
        "Channel ID: BHZ  Component: Z\r\n    Vault 1\r\n    STS-2\r\n\r\n"
        "Channel ID: LHZ  Component: Z\r\n    \r\n\r\n";
    for (int i = 1; i < 8; ++i) expected += "Channel ID:   Component: \r\n    \r\n\r\n";
    EXPECT_EQ(expected, transport.sent[0].body);
}

TEST_F(RepliesTest, AStationWithoutRecordersAnswersWithTheFirstLineAlone) {
    start();
    app->settings().firstSystem = RecorderSystem{};
    transport.mailbox = {"stationinfo=a@b.example"};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ("Station Information: ANMO\r\n\r\n", transport.sent[0].body);
}

TEST_F(RepliesTest, AnUnfilledSlotCountsAsAnEmptyMemberOfAnEnabledVolume) {
    start();
    RecorderSystem& first = app->settings().firstSystem;
    first.numberChannels = 4;  // slot 4 names no channel file
    first.volumes[0].enabled = 1;
    first.volumes[0].memberChannels[2] = "";  // "quiet" groups BHZ and BHN, its third place empty
    transport.mailbox = {"stationinfo=a@b.example"};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ(
        "Station Information: ANMO\r\n\r\n"
        "Dataset Volume: quiet\r\n    Channels: bhz bhn\r\n\r\n"
        "Channel ID: BHE  Component: E\r\n    Vault 1\r\n\r\n",
        transport.sent[0].body);
}
