#include "platform/paths.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

TEST(DirOfPath, KeepsEverythingUpToTheLastSeparator) {
    EXPECT_EQ("/opt/tarnwick/", dirOfPath("/opt/tarnwick/tarnwick"));
    EXPECT_EQ("c:", dirOfPath("c:tarnwick"));
    EXPECT_EQ("", dirOfPath("tarnwick"));
    EXPECT_EQ("", dirOfPath("/"));
    // A separator in the first place alone does not count.
    EXPECT_EQ("", dirOfPath("/tarnwick"));
}

TEST(ExecutableDir, EndsInASlashAndHoldsThisProgram) {
    std::string dir = executableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ('/', dir.back());
}

TEST(DefaultConfigDir, AnInstalledProgramKeepsItsFilesInTheUsersFolder) {
    struct Row {
        const char* exeDir;
        const char* xdgConfigHome;
        const char* home;
        const char* expected;
    };
    const Row rows[] = {
        {"/usr/bin/", "", "/home/ann", "/home/ann/.config/tarnwick/"},
        {"/usr/bin/", "/home/ann/conf", "/home/ann", "/home/ann/conf/tarnwick/"},
        {"/usr/libexec/tarnwick/", "/x/", "/home/ann", "/x/tarnwick/"},
        {"/usr/local/bin/", "", "/root/", "/root/.config/tarnwick/"},
        // A relative XDG_CONFIG_HOME counts as unset.
        {"/usr/bin/", "conf", "/home/ann", "/home/ann/.config/tarnwick/"},
        // No home folder known: no folder at all, never /usr/bin.
        {"/usr/bin/", "", "", ""},
        // A copy run from its build folder keeps its files beside itself.
        {"/home/ann/tarnwick/build/app/", "/home/ann/conf", "/home/ann",
         "/home/ann/tarnwick/build/app/"},
        {"/usrlocal/bin/", "", "/home/ann", "/usrlocal/bin/"},
        {"/opt/tarnwick/", "", "/home/ann", "/opt/tarnwick/"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.expected, defaultConfigDir(row.exeDir, row.xdgConfigHome, row.home))
            << row.exeDir << " " << row.xdgConfigHome << " " << row.home;
}

TEST(MakePrivateDirs, CreatesEveryMissingFolderForItsOwnerAlone) {
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("paths_test_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directory(root);
    std::string error;
    std::string dir = (root / ".config/tarnwick/").string();
    ASSERT_TRUE(makePrivateDirs(dir, error)) << error;
    for (const char* part : {".config", ".config/tarnwick"}) {
        struct stat st {};
        ASSERT_EQ(0, stat((root / part).c_str(), &st));
        EXPECT_EQ(0700u, st.st_mode & 0777) << part;
    }
    EXPECT_TRUE(makePrivateDirs(dir, error)) << "an existing folder is fine";
    fs::path file = root / "file";
    { std::FILE* f = std::fopen(file.c_str(), "w"); std::fclose(f); }
    EXPECT_FALSE(makePrivateDirs((file / "tarnwick").string(), error));
    EXPECT_EQ("cannot create " + file.string() + "/tarnwick: Not a directory", error);
    fs::remove_all(root);
}
