// recorder-sim run as its own process against the request files this system writes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "recorder-sim/event_content.h"
#include "requests/recorder_config.h"
#include "requests/recorder_exchange.h"
#include "requests/request_lines.h"
#include "requests/request_test_support.h"
#include "testing/process.h"

namespace {

const std::string kSim = builtProgram("recorder-sim/recorder-sim");
// Generous: the limit only keeps a broken sim from hanging the test run.
constexpr int kWaitMs = 20000;

class RecorderSimTest : public RequestTest {
  protected:
    void SetUp() override {
        ::mkdir(dir.file("req").c_str(), 0755);
        ::mkdir(dir.file("temp").c_str(), 0755);
        ASSERT_EQ(0, runCommand({kSim, "--config", dir.file("mornak"), "--init"}, kWaitMs));
        settings.mornakDir = dir.file("mornak");
        settings.mornakReq = dir.file("req");
        settings.tempDir = dir.file("temp");
        settings.fromUser = "station@example.org";
        loadRecorderSystems(settings, log);
        clock.local = LocalTime{2003, 2, 3, 19, 9, 5, 7, 42};
    }
    // Starts the sim with these options, submits the request line and waits for the sim to
    // have handled it (--once), then processes the response.
    void serve(const std::vector<std::string>& options, const std::string& line) {
        std::vector<std::string> argv = {kSim,         "--config",      dir.file("mornak"),
                                         "--requests", dir.file("req"), "--once"};
        argv.insert(argv.end(), options.begin(), options.end());
        ChildProcess sim(argv, dir.file("sim.out"));
        ASSERT_EQ(1, parseFileRequest(line, request, log));
        std::string error;
        int both = -1;
        ASSERT_EQ(1, submitFileRequest(ctx, request, both, error)) << error;
        ASSERT_EQ(0, sim.wait(kWaitMs)) << readFile(dir.file("sim.out"));
        processResponses(ctx, request, both, job, replies);
    }
    std::string expectedBytes(const std::string& id, int decimation) const {
        return eventFileContent(id, 2, 18, 2003, 14, 30, 5, decimation);
    }
    std::string eventFile(const std::string& id) const {
        return dir.file("temp/0302181430." + id + ".mqx");
    }

    EventFileRequest request;
    MailJob job;
};

}  // namespace

TEST(RecorderSim, HelpAndBadArguments) {
    std::string out;
    EXPECT_EQ(0, runCommand({kSim, "--help"}, kWaitMs, &out));
    EXPECT_TRUE(out.starts_with("Usage: recorder-sim --config DIR [--init]")) << out;
    EXPECT_EQ(1, runCommand({kSim, "--config", "/tmp", "--bogus"}, kWaitMs, &out));
    EXPECT_TRUE(out.starts_with("recorder-sim: unknown option: --bogus\n")) << out;
    EXPECT_EQ(1, runCommand({kSim, "--requests", "/tmp"}, kWaitMs, &out));
    EXPECT_TRUE(out.starts_with("recorder-sim: --config DIR is required\n")) << out;
    EXPECT_EQ(1, runCommand({kSim, "--config", "/tmp", "--poll-ms", "5"}, kWaitMs, &out));
    EXPECT_TRUE(out.starts_with("recorder-sim: bad value for --poll-ms: 5\n")) << out;
    TempDir empty;
    EXPECT_EQ(
        2, runCommand({kSim, "--config", empty.path(), "--requests", empty.path()}, kWaitMs, &out));
    EXPECT_EQ("recorder-sim: cannot read " + empty.path() + "mornak.ini\n", out);
}

TEST_F(RecorderSimTest, InitWritesAConfigurationThisSystemReads) {
    const RecorderSystem& s = settings.firstSystem;
    EXPECT_EQ(1, s.systemNumber);
    EXPECT_EQ(100, s.samplesPerSecond);
    EXPECT_EQ(3, s.numberChannels);
    EXPECT_EQ("BHZ", s.channels[0].id);
    EXPECT_EQ("BHN", s.channels[1].id);
    EXPECT_EQ("BHE", s.channels[2].id);
    EXPECT_EQ("East", s.channels[2].component);
    EXPECT_EQ("Tarnwick vault, pier 1", s.channels[2].location);
    EXPECT_EQ("Broadband seismometer, east component", s.channels[2].information);
    EXPECT_EQ(0, s.volumes[0].enabled);
    EXPECT_EQ("ALL", s.volumes[0].name);
    EXPECT_EQ("BHE", s.volumes[0].memberChannels[2]);

    TempDir other;
    ASSERT_EQ(
        0, runCommand({kSim, "--config", other.file("sys2"), "--init", "--system", "2"}, kWaitMs));
    RecorderSystem second;
    ASSERT_EQ(1, readRecorderIni(other.file("sys2/"), second));
    EXPECT_EQ(2, second.systemNumber);
}

TEST_F(RecorderSimTest, AnswersARequestFileWithEventFilesAndAResponse) {
    serve({}, "2 18 2003 14 30 5 20 bhz,xyz,BHN,all someone@example.org");
    ASSERT_EQ(1u, replies.sentJobs.size()) << readFile(dir.file("sim.out"));
    const MailJob& sent = replies.sentJobs[0];
    EXPECT_EQ("someone@example.org", sent.to);
    ASSERT_EQ(3, sent.attachmentCount);
    EXPECT_EQ(eventFile("bhz"), sent.attachments[0]);
    EXPECT_EQ(eventFile("BHN"), sent.attachments[1]);  // named by the ID as requested
    EXPECT_EQ(eventFile("all"), sent.attachments[2]);
    EXPECT_EQ(expectedBytes("bhz", 5), readFile(eventFile("bhz")));
    EXPECT_EQ(expectedBytes("BHN", 5), readFile(eventFile("BHN")));
    EXPECT_EQ(expectedBytes("all", 5), readFile(eventFile("all")));
    const std::string header =
        "RECORDER-SIM EVENT FILE\nchannel=bhz\nstart=2/18/2003 14:30\nlength=5\ndecimation=5\n\n";
    EXPECT_EQ(header, readFile(eventFile("bhz")).substr(0, header.size()));
    EXPECT_EQ(header.size() + 4096, readFile(eventFile("bhz")).size());
    EXPECT_NE(expectedBytes("bhz", 5).substr(header.size()),
              expectedBytes("bhn", 5).substr(header.size()));
    const int status[] = {2, 1, 2, 2};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(status[i], request.channelStatus[i]) << i;
    EXPECT_TRUE(replies.errorReports.empty());
    EXPECT_EQ("02/19 09:05:07 MORNAK Response: ok 3 files", entries().back());
    EXPECT_EQ("recorder-sim: system 1, 3 channels, watching " + dir.file("req/") +
                  "\nRQ090507042.sy1: ok 3 files\n",
              readFile(dir.file("sim.out")));
    EXPECT_FALSE(fileExistsHere(request.requestFile.str()));  // the recorder took it away
}

TEST_F(RecorderSimTest, ARefusalReachesTheRequester) {
    serve({"--refuse", "No data"}, "2 18 2003 14 30 5 20 bhz a@b");
    EXPECT_EQ(std::vector<std::string>{"Mornak Response: bad no data"}, replies.errorReports);
    EXPECT_TRUE(replies.sentJobs.empty());
    EXPECT_FALSE(fileExistsHere(eventFile("bhz")));
    EXPECT_EQ("02/19 09:05:07 MORNAK Response: bad No data", entries().back());
}

TEST_F(RecorderSimTest, SomeChannelsOnlyAndACustomResponseLine) {
    serve({"--only", "BHE,bhz", "--response", "OK"}, "2 18 2003 14 30 5 50 bhz,bhn,bhe a@b");
    ASSERT_EQ(1u, replies.sentJobs.size());
    EXPECT_EQ(2, replies.sentJobs[0].attachmentCount);
    EXPECT_EQ(expectedBytes("bhe", 2), readFile(eventFile("bhe")));
    EXPECT_EQ(0, request.channelStatus[1]);
    EXPECT_EQ("02/19 09:05:07 MORNAK Response: OK", entries().back());
}

TEST_F(RecorderSimTest, ASimThatNeverAnswersLeavesTheRequestFile) {
    serve({"--never"}, "2 18 2003 14 30 5 20 bhz a@b");
    EXPECT_EQ((std::vector<int>{200, 200, 200}), clock.pauses);
    EXPECT_EQ(std::vector<std::string>{"Internal Process Error"}, replies.errorReports);
    EXPECT_TRUE(fileExistsHere(request.requestFile.str()));
    EXPECT_FALSE(fileExistsHere(request.responseFiles[0].str()));
}

TEST_F(RecorderSimTest, AWatchingSimAnswersARequestFileNameThatComesAgain) {
    // Request files are named by the time of day, so a later request may carry the name of
    // one answered (and removed) earlier.
    ChildProcess sim({kSim, "--config", dir.file("mornak"), "--requests", dir.file("req")},
                     dir.file("sim.out"));
    std::string error;
    int both = -1;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(1, parseFileRequest("2 18 2003 14 30 5 20 bhz a@b", request, log));
        ASSERT_EQ(1, submitFileRequest(ctx, request, both, error)) << error;
        const std::string ack = request.responseFiles[0].str();
        for (int i = 0; i < kWaitMs / 10 && !fileExistsHere(ack); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fileExistsHere(ack)) << "round " << round << "\n"
                                         << readFile(dir.file("sim.out"));
        processResponses(ctx, request, both, job, replies);
    }
    EXPECT_EQ(2u, replies.sentJobs.size());
    EXPECT_EQ("RQ090507042.sy1: ok 1 files\nRQ090507042.sy1: ok 1 files\n",
              readFile(dir.file("sim.out")).substr(readFile(dir.file("sim.out")).find('\n') + 1));
}
