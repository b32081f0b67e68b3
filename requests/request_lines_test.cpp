#include "requests/request_lines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "requests/request_test_support.h"

namespace {

class RequestLinesTest : public RequestTest {
  protected:
    void SetUp() override {
        ::mkdir(firstReq().c_str(), 0755);
        ::mkdir(secondReq().c_str(), 0755);
        settings.mornakReq = firstReq();
        settings.mornak2Req = secondReq();
        settings.tempDir = dir.file("temp/");
        clock.local = LocalTime{2003, 2, 3, 19, 9, 5, 7, 42};
        RecorderSystem& a = settings.firstSystem;
        a.samplesPerSecond = 100;
        a.systemNumber = 1;
        a.numberChannels = 4;
        a.channels[0].id = "BHZ";
        a.channels[1].id = "BHN";
        a.channels[2].id = "A/B";
        a.channels[3].id = "BHE";
        a.volumes[0].name = "VX";  // disabled: the name is served, the members one by one
        a.volumes[1].enabled = 1;
        a.volumes[1].name = "V..";
        a.volumes[1].memberChannels[0] = "BHE";
        RecorderSystem& b = settings.secondSystem;
        b.samplesPerSecond = 20;
        b.systemNumber = 2;
        b.numberChannels = 3;
        b.channels[0].id = "BHE";
        b.channels[1].id = "VX";
        b.channels[2].id = "LHZ";
    }
    std::string firstReq() const { return dir.file("req1/"); }
    std::string secondReq() const { return dir.file("req2/"); }
    // Parses the line and submits it; returns submitFileRequest's result.
    int submit(const std::string& text) {
        EXPECT_EQ(1, parseFileRequest(text, request, log)) << text;
        return submitFileRequest(ctx, request, bothSystems, error);
    }

    EventFileRequest request;
    int bothSystems = -1;
    std::string error;
};

}  // namespace

TEST_F(RequestLinesTest, ParsesTheNineItems) {
    request.requestFile = "left over";
    ASSERT_EQ(1,
              parseFileRequest("2 18 2003 14 30 5 20 bhz,bhn someone@example.org", request, log));
    EXPECT_EQ(2, request.month);
    EXPECT_EQ(18, request.day);
    EXPECT_EQ(2003, request.year);
    EXPECT_EQ(14, request.hour);
    EXPECT_EQ(30, request.minute);
    EXPECT_EQ(5, request.length);
    EXPECT_EQ(20, request.rate);
    EXPECT_EQ(2, request.channelCount);
    EXPECT_EQ("bhz", request.channels[0]);
    EXPECT_EQ("bhn", request.channels[1]);
    EXPECT_EQ("someone@example.org", request.replyTo);
    EXPECT_EQ("", request.requestFile);
    EXPECT_TRUE(entries().empty());
}

// A blank after a comma ends the channel list, so "bhn" would be the reply address: the words
// after it show that it is not, and the line is refused rather than mailed to "bhn".
TEST_F(RequestLinesTest, WordsAfterTheReplyAddressRefuseTheLine) {
    for (const char* line : {"2 18 2003 14 30 5 20 bhz, bhn someone@example.org",
                             "2 18 2003 14 30 5 20 bhz name@gmail.comsent from my galaxy"}) {
        EXPECT_EQ(ParseOutcome::kBadLine, parseFileRequestLine(line, request, log)) << line;
        EXPECT_EQ("", request.replyTo);
    }
    EXPECT_EQ(
        1, parseFileRequest("2 18 2003 14 30 5 20 bhz,bhn someone@example.org \r\n", request, log));
    EXPECT_EQ("someone@example.org", request.replyTo);
    EXPECT_EQ(2u, entries().size());
}

TEST_F(RequestLinesTest, ChannelListSkipsEmptyPiecesAndOnlyCommasIsDroppedSilently) {
    ASSERT_EQ(1, parseFileRequest("1 1 2003 0 0 5 20 ,,bhz,,bhn, a@b", request, log));
    EXPECT_EQ(2, request.channelCount);
    EXPECT_EQ("bhn", request.channels[1]);

    EXPECT_EQ(0, parseFileRequest("1 1 2003 0 0 5 20 ,,, a@b", request, log));
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ("", logFile());
}

TEST_F(RequestLinesTest, BadLinesAreLoggedToTheFile) {
    EXPECT_EQ(0, parseFileRequest("2 18 2003 14 30 5 20 bhz", request, log));
    EXPECT_EQ(0, parseFileRequest("2 18 x", request, log));
    EXPECT_EQ(0, parseInfoRequest("  \t", request, log));
    EXPECT_EQ(
        "02/19/03 09:05:07 Bad Request Line = 2 18 2003 14 30 5 20 bhz\n"
        "02/19/03 09:05:07 Bad Request Line = 2 18 x\n"
        "02/19/03 09:05:07 Bad Request Line =   \t\n",
        logFile());
    EXPECT_EQ("02/19 09:05:07 Bad Request Line = 2 18 x", entries()[1]);
}

TEST_F(RequestLinesTest, WhatDoesNotFitTheRecordIsRefusedAsABadLine) {
    std::string sixteen = "c1";
    for (int i = 2; i <= 16; ++i) sixteen += ",c" + std::to_string(i);
    ASSERT_EQ(1, parseFileRequest("1 1 2003 0 0 5 20 " + sixteen + " a@b", request, log));
    EXPECT_EQ(16, request.channelCount);
    EXPECT_EQ("c16", request.channels[15]);

    std::string seventeen = "1 1 2003 0 0 5 20 " + sixteen + ",c17 a@b";
    EXPECT_EQ(0, parseFileRequest(seventeen, request, log));
    EXPECT_EQ(0, request.channelCount);

    ASSERT_EQ(1, parseFileRequest("1 1 2003 0 0 5 20 fifteen-chars-x a@b", request, log));
    EXPECT_EQ("fifteen-chars-x", request.channels[0]);
    std::string longId = "1 1 2003 0 0 5 20 bhz,sixteen-chars-xx a@b";
    EXPECT_EQ(0, parseFileRequest(longId, request, log));

    // A line of 255 characters, prefix included, is taken; one more is refused.
    std::string head = "1 1 2003 0 0 5 20 bhz ";
    std::string fits = head + std::string(255 - 17 - head.size(), 'a');
    EXPECT_EQ(1, parseFileRequest(fits + "\r\n", request, log));
    EXPECT_EQ(0, parseFileRequest(fits + "a", request, log));
    std::string info(255 - 12, 'a');
    EXPECT_EQ(1, parseInfoRequest(info, request, log));
    EXPECT_EQ(0, parseInfoRequest(info + "a", request, log));

    EXPECT_EQ("02/19/03 09:05:07 Bad Request Line = " + seventeen + "\n" +
                  "02/19/03 09:05:07 Bad Request Line = " + longId + "\n" +
                  "02/19/03 09:05:07 Bad Request Line = " + fits + "a\n" +
                  "02/19/03 09:05:07 Bad Request Line = " + info + "a\n",
              logFile());
}

TEST_F(RequestLinesTest, InfoRequestTakesItsOneWord) {
    request.channelCount = 3;
    ASSERT_EQ(1, parseInfoRequest("  someone@example.org \t", request, log));
    EXPECT_EQ("someone@example.org", request.replyTo);
    EXPECT_EQ(0, request.channelCount);
    EXPECT_EQ(0, parseInfoRequest("  someone@example.orgsent from my galaxy", request, log));
    EXPECT_EQ("", request.replyTo);
}

TEST_F(RequestLinesTest, LengthAndRateLimits) {
    struct Case {
        int length, rate, ok;
    } cases[] = {{5, 200, 1}, {5, 201, 0}, {5, 1, 1},   {0, 20, 0},   {0, 0, 0},
                 {5, 0, 0},   {-5, 20, 0}, {5, -20, 0}, {1440, 1, 1}, {9999, 100, 1}};
    for (const Case& c : cases) {
        request.length = c.length;
        request.rate = c.rate;
        EXPECT_EQ(c.ok, checkLengthAndRate(request)) << c.length << " " << c.rate;
    }
}

TEST_F(RequestLinesTest, NoChannelOfThisStationIsRefusedBeforeTheRateIsChecked) {
    EXPECT_EQ(0, submit("2 18 2003 14 30 0 500 xyz,abc a@b"));
    EXPECT_EQ("No channel IDs found at this station", error);
    EXPECT_EQ(1, request.channelStatus[0]);
    EXPECT_EQ(1, request.channelStatus[1]);

    EXPECT_EQ(0, submit("2 18 2003 14 30 5 201 bhz a@b"));
    EXPECT_EQ("Invalid time length or sample rate", error);
    EXPECT_EQ(0, submit("2 18 2003 14 30 -5 20 bhz a@b"));
    EXPECT_EQ("Invalid time length or sample rate", error);
    EXPECT_TRUE(filesIn(firstReq()).empty());
    EXPECT_EQ(-1, bothSystems);
    EXPECT_EQ("", logFile());
}

TEST_F(RequestLinesTest, ChannelsGoToTheFirstSystemThatServesThem) {
    ASSERT_EQ(1, submit("13 18 2003 14 30 5 200 bhz,lhz,vx,bhe,xyz,BHN a@b"));
    EXPECT_EQ(1, bothSystems);
    // vx names a volume of the first system, even though the second has a channel VX; bhe is
    // a member of an enabled volume of the first, so the second serves it.
    EXPECT_EQ(std::vector<std::string>{"RQ090507042.sy1"}, filesIn(firstReq()));
    EXPECT_EQ(std::vector<std::string>{"RQ090507042.sy2"}, filesIn(secondReq()));
    std::string base = dir.file("temp/0313181430");
    EXPECT_EQ("REQ: 13 18 2003 14 30 5 1 bhz,vx,BHN " + base + "\n",
              readFile(firstReq() + "RQ090507042.sy1"));
    EXPECT_EQ("REQ: 13 18 2003 14 30 5 1 lhz,bhe " + base + "\n",
              readFile(secondReq() + "RQ090507042.sy2"));
    const int status[] = {0, 0, 0, 0, 1, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(status[i], request.channelStatus[i]) << i;
    EXPECT_EQ(secondReq() + "RQ090507042.sy2", request.requestFile);
    EXPECT_EQ(firstReq() + "RQ090507042.sy1.ack", request.responseFiles[0]);
    EXPECT_EQ(secondReq() + "RQ090507042.sy2.ack", request.responseFiles[1]);
}

TEST_F(RequestLinesTest, OnlyTheSecondSystemAskedIsNotBothSystems) {
    ASSERT_EQ(1, submit("2 18 2003 14 30 5 10 lhz a@b"));
    EXPECT_EQ(0, bothSystems);
    EXPECT_TRUE(filesIn(firstReq()).empty());
    EXPECT_EQ("", request.responseFiles[0]);
    EXPECT_EQ(secondReq() + "RQ090507042.sy2.ack", request.responseFiles[1]);
    EXPECT_EQ("REQ: 2 18 2003 14 30 5 2 lhz " + dir.file("temp/0302181430") + "\n",
              readFile(secondReq() + "RQ090507042.sy2"));
}

TEST_F(RequestLinesTest, ChannelIdsThatCouldLeaveADirectoryAreNeverAssigned) {
    // The first system's configuration names a channel A/B and a volume V..; still neither
    // becomes part of a request file or a path.
    EXPECT_EQ(0, submit("2 18 2003 14 30 5 20 a/b,v..,..,x\\y a@b"));
    EXPECT_EQ("No channel IDs found at this station", error);
    ASSERT_EQ(1, submit("2 18 2003 14 30 5 20 a/b,bhz a@b"));
    EXPECT_EQ(1, request.channelStatus[0]);
    EXPECT_EQ(0, request.channelStatus[1]);
    EXPECT_EQ("REQ: 2 18 2003 14 30 5 5 bhz " + dir.file("temp/0302181430") + "\n",
              readFile(firstReq() + "RQ090507042.sy1"));
    EXPECT_TRUE(isSafeChannelId("bhz.x"));
    EXPECT_FALSE(isSafeChannelId(".."));
}
