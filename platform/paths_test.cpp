#include "platform/paths.h"

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
