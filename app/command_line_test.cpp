#include "app/command_line.h"

#include <gtest/gtest.h>

using Mode = CommandLine::Mode;

TEST(CommandLine, ReadsModesAndOptions) {
    EXPECT_EQ(Mode::Desktop, parseCommandLine({}).mode);
    CommandLine c = parseCommandLine({"--once", "--config-dir", "/etc/tw", "--tick-ms=20"});
    EXPECT_EQ(Mode::Once, c.mode);
    EXPECT_EQ("/etc/tw", c.configDir);
    EXPECT_EQ(20, c.tickMs);
    c = parseCommandLine({"--headless", "--config-dir=/x"});
    EXPECT_EQ(Mode::Headless, c.mode);
    EXPECT_EQ("/x", c.configDir);
    EXPECT_EQ(1000, c.tickMs);
    EXPECT_EQ(Mode::Help, parseCommandLine({"--once", "--help"}).mode);
    EXPECT_EQ(Mode::Version, parseCommandLine({"--version"}).mode);
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
    CommandLine c = parseCommandLine({"--fast"});
    EXPECT_EQ(Mode::Error, c.mode);
    EXPECT_EQ("unknown option '--fast'", c.error);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--tick-ms", "0"}).mode);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--tick-ms", "-5"}).mode);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--tick-ms", "99999999999"}).mode);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--tick-ms"}).mode);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--config-dir"}).mode);
}
