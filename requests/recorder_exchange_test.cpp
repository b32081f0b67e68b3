#include "requests/recorder_exchange.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "requests/request_test_support.h"

namespace {

class RecorderExchangeTest : public RequestTest {
  protected:
    void SetUp() override {
        ::mkdir(dir.file("req").c_str(), 0755);
        ::mkdir(dir.file("req2").c_str(), 0755);
        ::mkdir(dir.file("temp").c_str(), 0755);
        settings.tempDir = dir.file("temp");  // no trailing '/' yet
        settings.fromUser = "Station <station@example.org>";
        settings.smtpServer = "smtp.example.org";
        settings.firstSystem.samplesPerSecond = 100;
        settings.firstSystem.systemNumber = 1;
        settings.secondSystem.samplesPerSecond = 100;
        settings.secondSystem.systemNumber = 2;
        clock.local = LocalTime{2026, 2, 4, 5, 9, 5, 7, 42};
        request.month = 2;
        request.day = 18;
        request.year = 2003;
        request.hour = 14;
        request.minute = 30;
        request.length = 5;
        request.rate = 20;
        request.replyTo = "someone@example.org";
        for (const char* id : {"bhz", "bhn", "bhe"}) request.channels[request.channelCount++] = id;
    }
    std::string eventFile(const std::string& id) const {
        return dir.file("temp/0302181430." + id + ".mqx");
    }
    // Gives the request the response file(s) of the named systems, with these first lines.
    void respond(int index, const std::string* line) {
        std::string name = dir.file(index == 0 ? "req/RQ1.sy1.ack" : "req2/RQ1.sy2.ack");
        request.responseFiles[index] = name;
        if (line)
            writeFile(name, *line);
    }
    void process(int bothSystems) { processResponses(ctx, request, bothSystems, job, replies); }

    EventFileRequest request;
    MailJob job;
};

}  // namespace

TEST_F(RecorderExchangeTest, WritesTheRequestFileWholeUnderItsTimedName) {
    clock.local = LocalTime{2003, 2, 3, 19, 9, 5, 7, 42};
    writeRequestFile(ctx, request, "bhz,bhn", dir.file("req"), 0);
    const std::string name = dir.file("req/RQ090507042.sy1");
    EXPECT_EQ(std::vector<std::string>{"RQ090507042.sy1"}, filesIn(dir.file("req")));
    EXPECT_EQ("REQ: 2 18 2003 14 30 5 5 bhz,bhn " + dir.file("temp/0302181430") + "\n",
              readFile(name));
    struct stat st {};
    ASSERT_EQ(0, ::stat(name.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777u);
    EXPECT_EQ(name, request.requestFile);
    EXPECT_EQ(name + ".ack", request.responseFiles[0]);
    EXPECT_EQ("", request.responseFiles[1]);
    EXPECT_EQ(dir.file("temp/"), settings.tempDir);
    EXPECT_TRUE(entries().empty());
}

TEST_F(RecorderExchangeTest, SecondSystemNamesItsFileWithItsOwnNumber) {
    settings.secondSystem.systemNumber = 7;
    settings.secondSystem.samplesPerSecond = 40;
    request.rate = 30;
    request.year = 1999;
    writeRequestFile(ctx, request, "lhz", dir.file("req2/"), 1);
    EXPECT_EQ(dir.file("req2/RQ090507042.sy7"), request.requestFile);
    EXPECT_EQ(dir.file("req2/RQ090507042.sy7.ack"), request.responseFiles[1]);
    EXPECT_EQ("REQ: 2 18 1999 14 30 5 1 lhz " + dir.file("temp/9902181430") + "\n",
              readFile(request.requestFile.str()));
}

TEST(DecimationFactor, RecorderRateOverRequestedRateWhenBelowIt) {
    EXPECT_EQ(5, decimationFactor(100, 20));
    EXPECT_EQ(3, decimationFactor(100, 30));
    EXPECT_EQ(100, decimationFactor(100, 1));
    EXPECT_EQ(1, decimationFactor(100, 100));
    EXPECT_EQ(1, decimationFactor(100, 200));
    EXPECT_EQ(1, decimationFactor(0, 20));
    EXPECT_EQ(1, decimationFactor(100, 0));
    EXPECT_EQ(1, decimationFactor(100, -5));
}

TEST(EventFileNames, JoinTheBaseAndTheChannel) {
    EXPECT_EQ("/t/0302181430.bhz.mqx", eventFileName("/t/0302181430", "bhz"));
}

TEST_F(RecorderExchangeTest, FailuresToCreateTheFileAreLoggedAndLeaveNoFile) {
    writeRequestFile(ctx, request, "bhz", dir.file("absent"), 0);
    EXPECT_EQ(dir.file("absent/RQ090507042.sy1"), request.requestFile);
    EXPECT_EQ(
        "02/05/26 09:05:07 Can't create request file " + dir.file("absent/RQ090507042.sy1") +
            ": No such file or directory\n",
        logFile());

    // A directory so long that the names would not fit the request record: nothing stored.
    request = EventFileRequest{};
    std::string deep = dir.path() + std::string(240, 'd');
    writeRequestFile(ctx, request, "bhz", deep, 0);
    EXPECT_EQ("", request.requestFile);
    EXPECT_EQ("", request.responseFiles[0]);
    EXPECT_EQ("02/05 09:05:07 Can't create request file " + deep +
                  "/RQ090507042.sy1: the name is too long",
              entries().back());
}

TEST_F(RecorderExchangeTest, GathersTheEventFilesOfAnAcceptedRequest) {
    std::string ok = "ok 2 files\r\n";
    respond(0, &ok);
    writeFile(eventFile("bhz"), "Z");
    writeFile(eventFile("bhe"), "E");
    request.channelStatus[2] = kChannelNotFound;  // looked for all the same
    process(0);
    ASSERT_EQ(1u, replies.sentJobs.size());
    const MailJob& sent = replies.sentJobs[0];
    EXPECT_EQ("someone@example.org", sent.to);
    EXPECT_EQ("Station <station@example.org>", sent.from);
    EXPECT_EQ(2, sent.attachmentCount);
    EXPECT_EQ(eventFile("bhz"), sent.attachments[0]);
    EXPECT_EQ(eventFile("bhe"), sent.attachments[1]);
    EXPECT_EQ(2, job.attachmentCount);  // the job handed over is the caller's own
    EXPECT_EQ(2, request.channelStatus[0]);
    EXPECT_EQ(0, request.channelStatus[1]);
    EXPECT_EQ(2, request.channelStatus[2]);
    EXPECT_TRUE(replies.errorReports.empty());
    EXPECT_FALSE(fileExistsHere(request.responseFiles[0].str()));  // read and deleted
    EXPECT_EQ(std::vector<std::string>{"02/05 09:05:07 MORNAK Response: ok 2 files"}, entries());
    EXPECT_EQ("", logFile());
    EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(RecorderExchangeTest, ARefusalIsEnteredAsReadAndReportedLowerCased) {
    std::string bad = "Bad: no data\n";
    respond(0, &bad);
    writeFile(eventFile("bhz"), "Z");
    process(0);
    EXPECT_EQ(std::vector<std::string>{"Mornak Response: bad: no data"}, replies.errorReports);
    EXPECT_TRUE(replies.sentJobs.empty());
    EXPECT_EQ(std::vector<std::string>{"02/05 09:05:07 MORNAK Response: Bad: no data"}, entries());
}

TEST_F(RecorderExchangeTest, OnlyALineBeginningWithBadRefuses) {
    struct Case {
        std::string line;
        std::string report;  // empty: the event file is sent
    } cases[] = {{"BAD", "Mornak Response: bad"},
                 {"badly formed\n", "Mornak Response: badly formed"},
                 {"OK\n", ""},
                 {"", ""},
                 {" bad\n", ""},
                 {std::string(100, 'x'), ""}};
    for (const Case& c : cases) {
        replies = RecordingReplies{};
        respond(0, &c.line);
        writeFile(eventFile("bhz"), "Z");
        process(0);
        if (c.report.empty()) {
            EXPECT_TRUE(replies.errorReports.empty()) << c.line;
            EXPECT_EQ(1u, replies.sentJobs.size()) << c.line;
        } else {
            EXPECT_EQ(std::vector<std::string>{c.report}, replies.errorReports);
            EXPECT_TRUE(replies.sentJobs.empty()) << c.line;
        }
    }
    // At most 79 characters of the line are read.
    EXPECT_EQ("02/05 09:05:07 MORNAK Response: " + std::string(79, 'x'), entries().back());
}

TEST_F(RecorderExchangeTest, NoEventFileFoundIsReported) {
    std::string ok = "ok 0 files\n";
    respond(0, &ok);
    process(0);
    EXPECT_EQ(std::vector<std::string>{"No files to send"}, replies.errorReports);
    EXPECT_TRUE(replies.sentJobs.empty());
    EXPECT_EQ(0, request.channelStatus[0]);
}

TEST_F(RecorderExchangeTest, AMissingResponseUsesThreeAttemptsAndEndsTheRequest) {
    respond(0, nullptr);
    writeFile(eventFile("bhz"), "Z");
    process(0);
    EXPECT_EQ((std::vector<int>{200, 200, 200}), clock.pauses);
    EXPECT_EQ(std::vector<std::string>{"Internal Process Error"}, replies.errorReports);
    EXPECT_TRUE(replies.sentJobs.empty());
    EXPECT_EQ("02/05/26 09:05:07 Can't open response file [" + dir.file("req/RQ1.sy1.ack") + "]\n",
              logFile());
}

TEST_F(RecorderExchangeTest, TheSecondResponseGetsWhatTheFirstLeftOfTheBudget) {
    std::string ok = "ok\n";
    respond(0, nullptr);
    respond(1, &ok);
    writeFile(eventFile("bhn"), "N");
    process(1);
    EXPECT_EQ((std::vector<int>{200, 200, 200}), clock.pauses);
    EXPECT_EQ((std::vector<std::string>{"Internal Process Error", "Internal Process Error"}),
              replies.errorReports);
    EXPECT_EQ("02/05/26 09:05:07 Can't open response file [" + dir.file("req/RQ1.sy1.ack") +
                  "]\n02/05/26 09:05:07 Can't open response file " + dir.file("req2/RQ1.sy2.ack") +
                  "\n",
              logFile());
    EXPECT_TRUE(fileExistsHere(dir.file("req2/RQ1.sy2.ack")));  // never opened, left alone
    ASSERT_EQ(1u, replies.sentJobs.size());  // both systems asked: the files still go out
    EXPECT_EQ(eventFile("bhn"), replies.sentJobs[0].attachments[0]);
}

TEST_F(RecorderExchangeTest, WithBothSystemsOneRefusalStillSendsTheOthersFiles) {
    std::string ok = "ok 1 files\n", bad = "bad channel busy\n";
    respond(0, &ok);
    respond(1, &bad);
    writeFile(eventFile("bhz"), "Z");
    process(1);
    EXPECT_EQ(std::vector<std::string>{"Mornak Response: bad channel busy"}, replies.errorReports);
    ASSERT_EQ(1u, replies.sentJobs.size());
    EXPECT_EQ(1, replies.sentJobs[0].attachmentCount);
    EXPECT_FALSE(fileExistsHere(dir.file("req/RQ1.sy1.ack")));
    EXPECT_FALSE(fileExistsHere(dir.file("req2/RQ1.sy2.ack")));
    EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(RecorderExchangeTest, OnlyTheSecondSystemAskedHasTheWholeBudget) {
    respond(1, nullptr);
    process(0);
    EXPECT_EQ((std::vector<int>{200, 200, 200}), clock.pauses);
    EXPECT_EQ("02/05/26 09:05:07 Can't open response file " + dir.file("req2/RQ1.sy2.ack") + "\n",
              logFile());
    EXPECT_EQ(std::vector<std::string>{"Internal Process Error"}, replies.errorReports);
}

TEST_F(RecorderExchangeTest, AChannelNoSystemServesIsAttachedWhenItsFileLiesThere) {
    std::string ok = "ok\n";
    respond(0, &ok);
    request.channelStatus[0] = kChannelNotFound;
    request.channelStatus[1] = kChannelNotFound;
    writeFile(eventFile("bhz"), "from an earlier request");
    process(0);
    ASSERT_EQ(1u, replies.sentJobs.size());
    EXPECT_EQ(eventFile("bhz"), replies.sentJobs[0].attachments[0]);
    EXPECT_EQ(2, request.channelStatus[0]);
    EXPECT_EQ(1, request.channelStatus[1]);
}

TEST_F(RecorderExchangeTest, AnUnsafeChannelIdIsNeverLookedUp) {
    std::string ok = "ok\n";
    respond(0, &ok);
    request.channels[0] = "../x";
    request.channelStatus[0] = kChannelNotFound;
    // The file that base + ".../x.mqx" would reach, were the ID joined to the base.
    ::mkdir(dir.file("temp/0302181430..").c_str(), 0755);
    writeFile(dir.file("temp/0302181430../x.mqx"), "outside");
    process(0);
    EXPECT_EQ(std::vector<std::string>{"No files to send"}, replies.errorReports);
    EXPECT_EQ(1, request.channelStatus[0]);
}

TEST_F(RecorderExchangeTest, MapDriveIsIgnoredTheFilesAreLookedForWhereTheRecorderWasTold) {
    settings.mapDrive = 'M';
    writeRequestFile(ctx, request, "bhz", dir.file("req"), 0);
    EXPECT_EQ("REQ: 2 18 2003 14 30 5 5 bhz " + dir.file("temp/0302181430") + "\n",
              readFile(request.requestFile.str()));
    writeFile(request.responseFiles[0].str(), "ok\n");
    writeFile(eventFile("bhz"), "Z");
    process(0);
    ASSERT_EQ(1u, replies.sentJobs.size());
    EXPECT_EQ(eventFile("bhz"), replies.sentJobs[0].attachments[0]);
    EXPECT_TRUE(replies.errorReports.empty());
}
