#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "app/folder_ownership.h"
#include "app/instance_lock.h"
#include "testing/temp_dir.h"

// What start-up checks before the robot runs: the lock of its config folder and the folder's
// ownership and modes.

namespace {

TEST(InstanceLock, ASecondRobotOnTheFolderIsToldWhoHoldsIt) {
    TempDir dir;
    std::string message;
    InstanceLock first;
    ASSERT_EQ(InstanceLock::Result::kTaken, first.take(dir.path(), message)) << message;
    EXPECT_EQ(std::to_string(getpid()) + "\n", readFile(dir.file(kLockFileName)));

    InstanceLock second;
    EXPECT_EQ(InstanceLock::Result::kHeld, second.take(dir.path(), message));
    std::string shown = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_EQ("Another Tarnwick (pid " + std::to_string(getpid()) + ") is using " + shown, message);

    TempDir other;
    ASSERT_EQ(0, symlink(dir.file("elsewhere").c_str(), other.file(kLockFileName).c_str()));
    InstanceLock linked;
    EXPECT_EQ(InstanceLock::Result::kFailed, linked.take(other.path(), message));
    EXPECT_FALSE(std::ifstream(dir.file("elsewhere")).good()) << "the link was followed";
}

TEST(InstanceLock, TheLockGoesWithTheRobotThatHeldIt) {
    TempDir dir;
    std::string message;
    { InstanceLock first; ASSERT_EQ(InstanceLock::Result::kTaken, first.take(dir.path(), message)); }
    InstanceLock next;
    EXPECT_EQ(InstanceLock::Result::kTaken, next.take(dir.path(), message)) << message;
}

TEST(ConfigFolder, MustBeTheRobotsOwnFolderWithASpoolOfRealPrivateFolders) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;  // given the folder, with its '/'
        std::string problem;                           // after the folder's path; "" for none
    } cases[] = {
        {"a fresh folder", [](const std::string&) {}, ""},
        {"a spool of private folders",
         [](const std::string& d) {
             mkdir((d + "spool").c_str(), 0700);
             mkdir((d + "spool/queue").c_str(), 0700);
             mkdir((d + "spool/queue/000000000001").c_str(), 0700);
         },
         ""},
        {"a folder its group may write", [](const std::string& d) { chmod(d.c_str(), 0770); },
         ": is writable by its group (mode 0770); chmod go-w "},
        {"a spool that is a link",
         [](const std::string& d) { symlink("/tmp", (d + "spool").c_str()); },
         "spool: is a symbolic link, not a folder"},
        {"a queue others may write",
         [](const std::string& d) {
             mkdir((d + "spool").c_str(), 0700);
             mkdir((d + "spool/queue").c_str(), 0700);
             chmod((d + "spool/queue").c_str(), 0703);
         },
         "spool/queue: is writable by others (mode 0703); chmod go-w "},
        {"a queued reply's folder swapped for a link",
         [](const std::string& d) {
             mkdir((d + "spool").c_str(), 0700);
             mkdir((d + "spool/queue").c_str(), 0700);
             symlink(d.c_str(), (d + "spool/queue/000000000001").c_str());
         },
         "spool/queue/000000000001: is a symbolic link, not a folder"},
        {"a file for the spool", [](const std::string& d) { writeFile(d + "spool", "x"); },
         "spool: is not a folder"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        c.make(dir.path());
        std::string problem;
        bool ok = checkConfigFolder(dir.path(), problem);
        EXPECT_EQ(c.problem.empty(), ok) << c.name << ": " << problem;
        if (!c.problem.empty()) {
            std::string folder = dir.path().substr(0, dir.path().size() - 1);
            EXPECT_EQ(0u, problem.find(c.problem[0] == ':' ? folder + c.problem
                                                            : folder + "/" + c.problem))
                << c.name << ": " << problem;
        }
    }
}

}  // namespace
