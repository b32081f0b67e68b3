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

TEST(CommandLine, ReadsTheServiceOptions) {
    EXPECT_EQ(Mode::Check, parseCommandLine({"--check", "--config-dir", "/x"}).mode);
    CommandLine c =
        parseCommandLine({"--headless", "--metrics-file=/run/t.prom", "--level-prefix"});
    EXPECT_EQ(Mode::Headless, c.mode);
    EXPECT_EQ("/run/t.prom", c.metricsFile);
    EXPECT_TRUE(c.levelPrefix);
    EXPECT_FALSE(parseCommandLine({"--once"}).levelPrefix);
    EXPECT_EQ("option --metrics-file needs a file name",
              parseCommandLine({"--once", "--metrics-file"}).error);
    EXPECT_EQ("option --metrics-file needs --headless or --once",
              parseCommandLine({"--metrics-file", "/m"}).error);
    EXPECT_EQ("option --level-prefix needs --headless or --once",
              parseCommandLine({"--check", "--level-prefix"}).error);
}

TEST(CommandLine, ReadsTheLimitsOfOneMail) {
    CommandLine c = parseCommandLine({"--once", "--max-lines-per-mail=3", "--max-recipients", "1"});
    EXPECT_EQ(3, c.maxLinesPerMail);
    EXPECT_EQ(1, c.maxRecipients);
    c = parseCommandLine({"--headless"});
    EXPECT_EQ(20, c.maxLinesPerMail);
    EXPECT_EQ(5, c.maxRecipients);
    EXPECT_EQ(Mode::Error, parseCommandLine({"--max-recipients", "0"}).mode);
}

TEST(CommandLine, ReadsTheAccountCommands) {
    EXPECT_EQ(Mode::Authorize, parseCommandLine({"--authorize", "--config-dir", "/x"}).mode);
    CommandLine c = parseCommandLine({"--set-password", "oauth2-client-secret"});
    EXPECT_EQ(Mode::SetPassword, c.mode);
    EXPECT_EQ("oauth2-client-secret", c.secretName);
    EXPECT_EQ("smtp", parseCommandLine({"--set-password=smtp"}).secretName);
    EXPECT_EQ("option --set-password needs pop, smtp or oauth2-client-secret",
              parseCommandLine({"--set-password", "imap"}).error);
}

TEST(CommandLine, VerboseGoesWithTheModesThatTalkToTheServers) {
    struct Row {
        std::vector<std::string> args;
        bool verbose;
        const char* error;
    };
    const Row rows[] = {
        {{"--once", "--verbose"}, true, ""},
        {{"-v", "--headless"}, true, ""},
        {{"--check", "-v"}, true, ""},
        {{"--once"}, false, ""},
        {{"--verbose"}, false, "option --verbose needs --headless, --once or --check"},
        {{"--authorize", "--verbose"}, false,
         "option --verbose needs --headless, --once or --check"},
    };
    for (const Row& row : rows) {
        CommandLine c = parseCommandLine(row.args);
        EXPECT_EQ(row.error, c.error) << row.args[0];
        EXPECT_EQ(row.verbose, c.verbose) << row.args[0];
    }
}
