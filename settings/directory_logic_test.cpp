#include "settings/directory_logic.h"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include <gtest/gtest.h>

#include "settings/text_routines.h"
#include "testing/temp_dir.h"

namespace {

class FakeChooser final : public DirectoryChooser {
  public:
    bool chooseDirectory(const std::string& initial, std::string& chosen) override {
        start = initial;
        if (!answer)
            return false;
        chosen = *answer;
        return true;
    }
    std::optional<std::string> answer;
    std::string start;
};

// Runs the test inside another working directory.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string& dir) {
        char buf[4096];
        old_ = getcwd(buf, sizeof buf) ? buf : "/";
        EXPECT_EQ(0, chdir(dir.c_str()));
    }
    ~WorkingDirectory() { EXPECT_EQ(0, chdir(old_.c_str())); }

  private:
    std::string old_;
};

}  // namespace

TEST(PickDirectory, StoresTheChoiceWithSlashStartingAtTheSetting) {
    TempDir dir;
    FakeChooser chooser;
    FixedText<256> setting("/old/");
    std::string field = "/old/";
    chooser.answer = dir.path() + "events";
    ::mkdir((dir.path() + "events").c_str(), 0700);
    EXPECT_EQ(1, pickDirectory(chooser, setting, field));
    EXPECT_EQ("/old/", chooser.start);
    EXPECT_EQ(dir.path() + "events/", setting);
    EXPECT_EQ(dir.path() + "events/", field);

    chooser.answer.reset();
    EXPECT_EQ(0, pickDirectory(chooser, setting, field));
    EXPECT_EQ(dir.path() + "events/", setting);
}

// Relative paths inside the temp dir, whose own name has upper-case letters.
TEST(PickDirectory, LowersCaseOnlyWhereThatNamesTheSameDirectory) {
    TempDir dir;
    WorkingDirectory cwd(dir.path());
    ASSERT_EQ(0, ::mkdir("Events", 0700));
    EXPECT_EQ("Events/", storedDirectoryForm("Events"));
    ASSERT_EQ(0, ::symlink("Events", "events"));
    EXPECT_EQ("events/", storedDirectoryForm("Events/"));
    // A lower-case twin that is another directory does not count.
    ASSERT_EQ(0, ::mkdir("Other", 0700));
    ASSERT_EQ(0, ::mkdir("other", 0700));
    EXPECT_EQ("Other/", storedDirectoryForm("Other"));
}

TEST(NewDirectoryLogic, CreatesOneLevelUnderTheBase) {
    TempDir dir;
    std::string base = dir.path().substr(0, dir.path().size() - 1);  // without its '/'
    NewDirectoryLogic logic(base);
    EXPECT_EQ(dir.path(), logic.baseDir());
    std::string error = "stale";
    EXPECT_EQ(1, logic.accept("2003/", error));
    EXPECT_EQ(dir.file("2003"), logic.newPath());
    EXPECT_EQ("", error);
    EXPECT_TRUE(dirExists(dir.file("2003")));

    // The same name again: it exists, nothing to create, still OK.
    EXPECT_EQ(1, logic.accept("2003", error));
    EXPECT_EQ(dir.file("2003"), logic.newPath());
}

TEST(NewDirectoryLogic, EmptyNameReturnsTheBase) {
    TempDir dir;
    NewDirectoryLogic logic(dir.path());
    std::string error;
    EXPECT_EQ(1, logic.accept("", error));
    EXPECT_EQ(dir.path().substr(0, dir.path().size() - 1), logic.newPath());
}

TEST(NewDirectoryLogic, RefusesTwoLevelsAFileAndAnOverlongPath) {
    TempDir dir;
    NewDirectoryLogic logic(dir.path());
    std::string error;
    EXPECT_EQ(0, logic.accept("a/b", error));
    EXPECT_EQ("Error creating new directory", error);
    EXPECT_FALSE(dirExists(dir.file("a")));
    EXPECT_EQ("", logic.newPath());

    writeFile(dir.file("plain"), "x");
    error.clear();
    EXPECT_EQ(0, logic.accept("plain", error));
    EXPECT_EQ("Error creating new directory", error);

    std::string name(256 - dir.path().size(), 'n');  // base + name = 256 characters
    error.clear();
    EXPECT_EQ(0, logic.accept(name, error));
    EXPECT_EQ("Error creating new directory", error);
    EXPECT_FALSE(dirExists(dir.file(name)));
    name.pop_back();  // 255 characters: allowed
    EXPECT_EQ(1, logic.accept(name, error));
    EXPECT_TRUE(dirExists(dir.file(name)));
}

TEST(OfferedAsRecorderFolder, LeavesOutTheSystemsPseudoFileSystems) {
    const std::pair<const char*, bool> cases[] = {
        {"/", true},      {"/srv/mornak", true}, {"/devices", true}, {"/home/op/sys", true},
        {"/proc", false}, {"/proc/1", false},    {"/sys/", false},   {"/dev/shm/data", false},
    };
    for (const auto& [path, offered] : cases)
        EXPECT_EQ(offered, offeredAsRecorderFolder(path)) << path;
}

TEST(PickerStartDirectory, OpensAtTheNearestExistingOfferedDirectory) {
    TempDir dir;
    std::string d = dir.path().substr(0, dir.path().size() - 1);
    ASSERT_EQ(0, ::mkdir(dir.file("events").c_str(), 0700));
    WorkingDirectory cwd(dir.path());
    const std::pair<std::string, std::string> cases[] = {
        {d + "/events/", d + "/events"},
        {"events", d + "/events"},
        {d + "//events/./../events", d + "/events"},
        {d + "/gone/deeper/", d},
        {"/proc/self/", "/"},
        {"/dev/shm/data/", "/"},
        {"", "/home/op"},
    };
    for (const auto& [setting, start] : cases)
        EXPECT_EQ(start, pickerStartDirectory(setting, "/home/op")) << setting;
}
