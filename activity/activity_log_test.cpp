#include "activity/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

namespace {

class RecordingView final : public LogView {
public:
    void oldestRemoved() override { ++removed; }
    void entryAdded(const std::string& line) override { added.push_back(line); }
    int removed = 0;
    std::vector<std::string> added;
};

}  // namespace

TEST(ActivityLog, StampsListAndFileLinesInLocalTime) {
    TempDir dir;
    FakeClock clock;  // 02/19/2003 07:05:09
    ActivityLog log(clock, dir.file("tarnwick.log"));
    RecordingView view;
    log.setView(&view);
    log.logMsg(true, "New messages: %d", 3);
    log.logMsg(false, "Info Req: %s", "a@b");
    ASSERT_EQ(2u, view.added.size());
    EXPECT_EQ("02/19 07:05:09 New messages: 3", view.added[0]);
    EXPECT_EQ("02/19 07:05:09 Info Req: a@b", log.entries().back());
    EXPECT_EQ("02/19/03 07:05:09 New messages: 3\n", readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, ControlCharactersAreShownNeverObeyed) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(true, "Bad Request Line = %s", "x\x1b[2J\ry\x7f");
    EXPECT_EQ("02/19 07:05:09 Bad Request Line = x\\x1b[2J\\x0dy\\x7f", log.entries().back());
    EXPECT_EQ("02/19/03 07:05:09 Bad Request Line = x\\x1b[2J\\x0dy\\x7f\n",
              readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, FirstWriteOfARunEmptiesAnOldLog) {
    TempDir dir;
    writeFile(dir.file("tarnwick.log"), "old run\nold run\n");
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(true, "Program Startup...");
    EXPECT_EQ("02/19/03 07:05:09 Program Startup...\n", readFile(dir.file("tarnwick.log")));
    log.logMsg(true, "second");
    EXPECT_EQ("02/19/03 07:05:09 Program Startup...\n02/19/03 07:05:09 second\n",
              readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, AFailedFirstOpenEmptiesTheFileOnTheNextTry) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("sub/tarnwick.log"));
    log.logMsg(true, "lost for the file");
    EXPECT_EQ(1u, log.entries().size());  // the list still has it
    ASSERT_EQ(0, mkdir(dir.file("sub").c_str(), 0700));
    writeFile(dir.file("sub/tarnwick.log"), "stale\n");
    log.logMsg(true, "kept");
    EXPECT_EQ("02/19/03 07:05:09 kept\n", readFile(dir.file("sub/tarnwick.log")));
}

TEST(ActivityLog, KeepsThePercentSignOfAnArgument) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(true, "Bad Request Line = %s", "100% %s %d");
    EXPECT_EQ("02/19 07:05:09 Bad Request Line = 100% %s %d", log.entries().back());
    EXPECT_EQ("02/19/03 07:05:09 Bad Request Line = 100% %s %d\n",
              readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, OnlyFileEntriesReachTheFile) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(false, "list only");
    EXPECT_FALSE(std::ifstream(dir.file("tarnwick.log")).good());
}

TEST(ActivityLog, CutsEntriesAndListLinesTo511Characters) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(true, "%s", std::string(2000, 'x').c_str());
    EXPECT_EQ(511u, log.entries().back().size());
    EXPECT_EQ(std::string("02/19/03 07:05:09 ") + std::string(511, 'x') + "\n",
              readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, ListKeepsTheNewest1000) {
    FakeClock clock;
    ActivityLog log(clock, "");
    RecordingView view;
    log.setView(&view);
    for (int i = 1; i <= 1001; ++i)
        log.logMsg(false, "entry %d", i);
    ASSERT_EQ(1000u, log.entries().size());
    EXPECT_EQ("02/19 07:05:09 entry 2", log.entries().front());
    EXPECT_EQ("02/19 07:05:09 entry 1001", log.entries().back());
    EXPECT_EQ(1, view.removed);
    EXPECT_EQ(1001u, view.added.size());
}

TEST(ActivityLog, TellsAViewThatAsksForItTheEntrysPriority) {
    struct PriorityView final : LogView {
        void oldestRemoved() override {}
        void entryAdded(const std::string&) override { ADD_FAILURE() << "not the priority"; }
        void entryLogged(const std::string& line, LogPriority priority) override {
            seen.emplace_back(line, priority);
        }
        std::vector<std::pair<std::string, LogPriority>> seen;
    } view;
    FakeClock clock;
    TempDir dir;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.setView(&view);
    log.logMsg(true, "POP Error: %s", "POP Connect Error");
    log.logMsg(false, "No new email messages");
    log.logNotice("Resuming %d requests and %d unsent replies", 2, 0);
    log.logWarning("Mail checking is off: %s", "not set: PopServer");
    ASSERT_EQ(4u, view.seen.size());
    EXPECT_EQ(std::make_pair(std::string("02/19 07:05:09 POP Error: POP Connect Error"),
                             LogPriority::kFailure),
              view.seen[0]);
    EXPECT_EQ(LogPriority::kInfo, view.seen[1].second);
    EXPECT_EQ(std::make_pair(std::string("02/19 07:05:09 Resuming 2 requests and 0 unsent replies"),
                             LogPriority::kNotice),
              view.seen[2]);
    EXPECT_EQ(LogPriority::kWarning, view.seen[3].second);
    // A notice and a warning go to the file as a failure does.
    EXPECT_EQ("02/19/03 07:05:09 POP Error: POP Connect Error\n"
              "02/19/03 07:05:09 Resuming 2 requests and 0 unsent replies\n"
              "02/19/03 07:05:09 Mail checking is off: not set: PopServer\n",
              readFile(dir.file("tarnwick.log")));
}

TEST(ActivityLog, ALinkAtTheLogFilesNameIsNeverWrittenThrough) {
    TempDir dir;
    FakeClock clock;
    writeFile(dir.file("victim"), "kept");
    ASSERT_EQ(0, symlink(dir.file("victim").c_str(), dir.file("tarnwick.log").c_str()));
    ActivityLog log(clock, dir.file("tarnwick.log"));
    log.logMsg(true, "Program Startup...");
    EXPECT_EQ("kept", readFile(dir.file("victim")));
    EXPECT_EQ("02/19 07:05:09 Program Startup...", log.entries().back());
}
