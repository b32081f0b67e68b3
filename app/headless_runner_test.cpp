#include "app/headless_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/exit_codes.h"
#include "testing/process.h"
#include "testing/temp_dir.h"

using ::testing::ElementsAre;

TEST(NextTickDeadline, DoesNotMakeUpMissedTicks) {
    EXPECT_EQ(2000, nextTickDeadline(1000, 1200, 1000));
    // The tick ran 3.5 periods late: the next one is a full period from now.
    EXPECT_EQ(5500, nextTickDeadline(1000, 4500, 1000));
    EXPECT_EQ(3000, nextTickDeadline(1000, 2000, 1000));
}

TEST(TarnwickProcess, OnceOnAnEmptyDirWritesTheDefaultsAndFindsPollingOff) {
    TempDir dir;
    std::string out;
    int code = runCommand({builtProgram("app/tarnwick"), "--once", "--config-dir", dir.path(),
                           "--tick-ms", "10"},
                          10000, &out);
    // The defaults are incomplete, so polling is off and the one check cannot run.
    EXPECT_EQ(kExitSettingsError, code) << out;
    constexpr char defaults[] =
        "StationName=\nPopEnable=0\nPopServer=\nPopUser=\nPopKeyStr=\nPopCheckTime=2\n"
        "SmtpServer=\nSmtpAuth=0\nSmtpUser=\nSmtpKeyStr=\nFromUser=\nTempDir=\nMapDrive=\0\n"
        "MornakDir=\nMornakReq=\nMornak2Dir=\nMornak2Req=\n";
    EXPECT_EQ(std::string(defaults, sizeof defaults - 1), readFile(dir.file("tarnwick.ini")));
    // Each line of the log after its time stamp (18 characters).
    std::vector<std::string> log;
    std::istringstream file(readFile(dir.file("tarnwick.log")));
    for (std::string line; std::getline(file, line);) log.push_back(line.substr(18));
    EXPECT_THAT(log, ElementsAre("Program Startup...",
                                 "Mail checking is off: not set: StationName, PopServer, "
                                 "PopUser, PopKeyStr, SmtpServer, FromUser, TempDir, "
                                 "MornakDir, MornakReq",
                                 "POP Enable Error"));
    EXPECT_NE(std::string::npos, out.find(" Program Startup...\n"));
}

TEST(TarnwickProcess, HeadlessEndsOnSigtermWithExitCodeZero) {
    TempDir dir;
    ChildProcess child({builtProgram("app/tarnwick"), "--headless", "--config-dir", dir.path()},
                       dir.file("out"));
    // Wait until it has started (its log line is written) before signalling.
    for (int i = 0; i < 500 && !std::ifstream(dir.file("tarnwick.log")).good(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(child.signal(SIGTERM));
    // Generous: the limit only keeps a run that ignores the signal from hanging the test.
    EXPECT_EQ(0, child.wait(20000));
    EXPECT_EQ(std::string::npos, readFile(dir.file("tarnwick.ini")).find("PopEnable=1"));
}

TEST(TarnwickProcess, HeadlessTakesSigusr1AsCheckNow) {
    TempDir dir;
    ChildProcess child({builtProgram("app/tarnwick"), "--headless", "--config-dir", dir.path(),
                        "--tick-ms", "20"},
                       dir.file("out"));
    for (int i = 0; i < 500 && !std::ifstream(dir.file("tarnwick.log")).good(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(child.signal(SIGUSR1));
    // The defaults leave polling off, so the check that was asked for is refused in the log.
    bool refused = false;
    for (int i = 0; i < 500 && !refused; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        refused = readFile(dir.file("tarnwick.log")).find(" POP Enable Error\n") !=
                  std::string::npos;
    }
    EXPECT_TRUE(refused);
    ASSERT_TRUE(child.signal(SIGTERM));
    EXPECT_EQ(0, child.wait(20000));
}

TEST(TarnwickProcess, UnknownOptionGivesOneLineAndTheUsage) {
    std::string out;
    EXPECT_EQ(2, runCommand({builtProgram("app/tarnwick"), "--fast"}, 5000, &out));
    EXPECT_EQ(0u, out.find("tarnwick: unknown option '--fast'\nUsage: tarnwick"));
}
