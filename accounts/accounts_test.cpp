#include <gtest/gtest.h>
#include <sys/stat.h>

#include "accounts/secrets.h"
#include "accounts/token_command.h"
#include "settings/mailer_settings.h"
#include "testing/temp_dir.h"

namespace {

TEST(TokenCommand, SplitsWordsAtBlanksKeepingQuotedOnesWhole) {
    EXPECT_EQ((std::vector<std::string>{"oauth2l", "fetch", "--scope", "a b", "it's"}),
              commandWords("oauth2l  fetch\t--scope 'a b' \"it's\""));
    EXPECT_EQ((std::vector<std::string>{"x", ""}), commandWords("x ''"));
}

TEST(TokenCommand, TakesTheFirstLineOrSaysWhyNot) {
    struct Row {
        const char* command;
        bool ok;
        const char* expected;  // the token, or the error
    };
    for (const Row& row : {
             Row{"printf 'tok-1\\r\\nsecond line\\n'", true, "tok-1"},
             Row{"sh -c 'echo \"$0\"' 'a;b'", true, "a;b"},  // no shell reads the command
             Row{"sh -c 'echo denied >&2; exit 3'", false,
                 "the token command sh ended with status 3: denied"},
             Row{"no-such-token-program-here", false,
                 "the token command no-such-token-program-here could not be started: No such "
                 "file or directory"},
             Row{"true", false, "the token command true printed no token"},
             Row{"sleep 600", false, "the token command sleep did not end within 2 s"},
         }) {
        SCOPED_TRACE(row.command);
        std::string token, error;
        int limitMs = std::string(row.command).rfind("sleep", 0) == 0 ? 2000 : 20000;
        EXPECT_EQ(row.ok, runTokenCommand(row.command, limitMs, token, error));
        EXPECT_EQ(row.expected, row.ok ? token : error);
    }
}

TEST(Secrets, CredentialsTakeThePlaceOfTheFilesOwn) {
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.file("creds").c_str(), 0700));
    writeFile(dir.file("creds/pop-password"), "pop secret\r\n");
    writeFile(dir.file("creds/oauth2-client-secret"), "client\nsecret\n");
    writeFile(dir.file("creds/oauth2-refresh-token"), "rt-cred");
    writeFile(dir.file("oauth2-refresh-token"), "rt-file\n");
    MailerSettings s;
    resetSettings(s);
    s.popPassword = "from the file";
    s.smtpPassword = "smtp from the file";
    applyCredentials(s, dir.file("creds/"));
    EXPECT_EQ("pop secret", s.popPassword);
    EXPECT_EQ("smtp from the file", s.smtpPassword);
    EXPECT_EQ("client\nsecret", s.oauth2ClientSecret);

    std::string token, error;
    EXPECT_TRUE(readRefreshToken(dir.path(), dir.file("creds/"), token, error));
    EXPECT_EQ("rt-cred", token);
    EXPECT_TRUE(readRefreshToken(dir.path(), "", token, error));
    EXPECT_EQ("rt-file", token);
    EXPECT_TRUE(saveRefreshToken(dir.path(), "rt-new", error));
    EXPECT_EQ("rt-new\n", readFile(dir.file("oauth2-refresh-token")));
    struct stat st {};
    ASSERT_EQ(0, stat(dir.file("oauth2-refresh-token").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    TempDir empty;
    EXPECT_FALSE(readRefreshToken(empty.path(), "", token, error));
    EXPECT_EQ("no OAuth2 refresh token in " + empty.path() +
                  "oauth2-refresh-token (run tarnwick --authorize)",
              error);
}

}  // namespace
