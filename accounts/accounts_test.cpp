#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>

#include "accounts/account_tokens.h"
#include "accounts/device_authorization.h"
#include "accounts/secrets.h"
#include "accounts/set_password.h"
#include "accounts/token_command.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"
#include "testing/fake_clock.h"
#include "testing/process.h"
#include "testing/temp_dir.h"
#include "testing/test_certificates.h"

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

namespace {

// The OAuth2 endpoint of testing/oauth2_endpoint.py over HTTPS with a CA of the test's own,
// which SSL_CERT_FILE makes the trusted one.
class OAuth2EndpointTest : public ::testing::Test {
  protected:
    void start(const std::vector<std::string>& options) {
        std::string why;
        ASSERT_TRUE(makeTestCertificates(dir.file("certs/"), &certs, &why)) << why;
        setenv("SSL_CERT_FILE", certs.caFile.c_str(), 1);
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         TARNWICK_SOURCE_DIR "/testing/oauth2_endpoint.py",
                                         "--cert",
                                         certs.serverCert,
                                         "--key",
                                         certs.serverKey,
                                         "--dir",
                                         dir.path()};
        argv.insert(argv.end(), options.begin(), options.end());
        endpoint = std::make_unique<ChildProcess>(argv, dir.file("endpoint.out"));
        for (int i = 0; i < 1000 && !fileExists(dir.file("ready")); ++i) usleep(10000);
        ASSERT_TRUE(fileExists(dir.file("ready"))) << readFile(dir.file("endpoint.out"));
        url = "https://127.0.0.1:" + std::to_string(std::stoi(readFile(dir.file("ready"))));
        resetSettings(settings);
        settings.oauth2TokenUrl = url + "/token";
        settings.oauth2DeviceUrl = url + "/device";
        settings.oauth2ClientId = "tarnwick-test";
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    std::string token(AccountTokens& tokens, bool fresh = false) {
        std::string token, error;
        EXPECT_TRUE(tokens.accessToken(MailAccount::kPop, fresh, token, error)) << error;
        return token;
    }

    TempDir dir;
    TestCertificates certs;
    std::unique_ptr<ChildProcess> endpoint;
    std::string url;
    MailerSettings settings;
    FakeClock clock;
};

TEST_F(OAuth2EndpointTest, ClientCredentialsTokenIsKeptUntilAMinuteBeforeItExpires) {
    start({"--expires-in", "600"});
    settings.oauth2Grant = "client_credentials";
    settings.oauth2ClientSecret = "client-secret";
    AccountTokens tokens(settings, clock, dir.path(), 20000);
    EXPECT_EQ("at-1", token(tokens));
    EXPECT_EQ(600, tokens.lastExpiresIn());
    clock.seconds += 539;
    EXPECT_EQ("at-1", token(tokens));
    clock.seconds += 1;
    EXPECT_EQ("at-2", token(tokens));
    EXPECT_EQ("at-3", token(tokens, true));  // refused by a mail server: fetched anew
    settings.oauth2ClientSecret = "wrong";
    std::string got, error;
    EXPECT_FALSE(tokens.accessToken(MailAccount::kSmtp, true, got, error));
    EXPECT_EQ(
        "OAuth2 token refused by 127.0.0.1: invalid_client (check OAuth2ClientId and "
        "OAuth2ClientSecretStr)",
        error);
}

TEST_F(OAuth2EndpointTest, ARotatedRefreshTokenIsKeptAndTheOldOneIsRefused) {
    start({"--rotate"});
    settings.oauth2Grant = "refresh_token";
    writeFile(dir.file("oauth2-refresh-token"), "rt-1\n");
    AccountTokens tokens(settings, clock, dir.path(), 20000);
    EXPECT_EQ("at-1", token(tokens));
    EXPECT_EQ("rt-2\n", readFile(dir.file("oauth2-refresh-token")));
    EXPECT_EQ("at-2", token(tokens, true));
    EXPECT_EQ("rt-3\n", readFile(dir.file("oauth2-refresh-token")));
    writeFile(dir.file("oauth2-refresh-token"), "rt-1");
    std::string got, error;
    EXPECT_FALSE(tokens.accessToken(MailAccount::kPop, true, got, error));
    EXPECT_EQ("OAuth2 token refused by 127.0.0.1: invalid_grant (run tarnwick --authorize)", error);
}

TEST_F(OAuth2EndpointTest, AnEndpointWithAnUntrustedCertificateIsNotAsked) {
    start({});
    setenv("SSL_CERT_FILE", certs.untrustedCaFile.c_str(), 1);
    settings.oauth2Grant = "client_credentials";
    AccountTokens tokens(settings, clock, dir.path(), 20000);
    std::string got, error;
    EXPECT_FALSE(tokens.accessToken(MailAccount::kPop, false, got, error));
    EXPECT_THAT(error, ::testing::StartsWith("OAuth2 token from 127.0.0.1: SSL certificate"));
}

TEST_F(OAuth2EndpointTest, DeviceSignInWaitsAtTheServersPaceAndKeepsTheRefreshToken) {
    start({"--device-answers", "pending,slow_down,pending"});
    std::ostringstream out;
    EXPECT_EQ(0, runAuthorize(settings, clock, dir.path(), out, 20000));
    EXPECT_EQ("To sign in, open " + url + "/device-login and enter the code WDJB-MJHT\n" +
                  "Signed in: the refresh token is kept in " + dir.path() +
                  "oauth2-refresh-token\n",
              out.str());
    EXPECT_EQ((std::vector<int>{1000, 1000, 6000, 6000}), clock.pauses);
    EXPECT_EQ("rt-1\n", readFile(dir.file("oauth2-refresh-token")));
}

TEST_F(OAuth2EndpointTest, DeviceSignInThatIsDeclinedOrExpiresKeepsNothing) {
    for (const char* answer : {"denied", "expired"}) {
        SCOPED_TRACE(answer);
        TempDir own;
        start({"--device-answers", std::string("pending,") + answer, "--port", "0"});
        std::ostringstream out;
        EXPECT_EQ(1, runAuthorize(settings, clock, own.path(), out, 20000));
        EXPECT_THAT(out.str(), ::testing::EndsWith(
                                   std::string("Not signed in: ") +
                                   (answer == std::string("denied")
                                        ? "the sign-in was declined\n"
                                        : "the code expired (run tarnwick --authorize again)\n")));
        EXPECT_FALSE(fileExists(own.file("oauth2-refresh-token")));
        endpoint.reset();
        ::unlink(dir.file("ready").c_str());
    }
}

}  // namespace

namespace {

// Runs --set-password with input on a pipe; returns its exit status, out holding what it said.
int setPassword(const std::string& dir, const std::string& which, const std::string& input,
                std::string& out) {
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    EXPECT_EQ(static_cast<ssize_t>(input.size()), write(fds[1], input.data(), input.size()));
    close(fds[1]);
    std::ostringstream said;
    int status = runSetPassword(dir, which, fds[0], said);
    close(fds[0]);
    out = said.str();
    return status;
}

TEST(SetPassword, WritesTheLineInHexadecimalAndKeepsEveryOtherSetting) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), "StationName=ANMO\nPopAuthMethod=oauth2\n");
    std::string out;
    EXPECT_EQ(0, setPassword(dir.path(), "smtp", "s3cret pw\r\nnext line\n", out));
    EXPECT_EQ("SmtpKeyStr written to " + dir.file("tarnwick.ini") + "\n", out);
    EXPECT_EQ(0, setPassword(dir.path(), "oauth2-client-secret", "c", out));
    MailerSettings s;
    resetSettings(s);
    loadSettings(s, dir.file("tarnwick.ini"));
    EXPECT_EQ("s3cret pw", s.smtpPassword);
    EXPECT_EQ("c", s.oauth2ClientSecret);
    EXPECT_EQ("ANMO", s.stationName);
    EXPECT_EQ("oauth2", s.popAuthMethod);
    EXPECT_NE(std::string::npos,
              readFile(dir.file("tarnwick.ini")).find("SmtpKeyStr=73336372657420707"));

    // Nothing is written from an empty line, nor over a value the file could not give.
    EXPECT_EQ(1, setPassword(dir.path(), "pop", "\n", out));
    EXPECT_EQ("Not written: no PopKeyStr was given on standard input\n", out);
    writeFile(dir.file("tarnwick.ini"), "TempDir=" + std::string(300, 'd') + "\n");
    EXPECT_EQ(1, setPassword(dir.path(), "pop", "pw\n", out));
    EXPECT_THAT(out, ::testing::StartsWith("Not written: " + dir.file("tarnwick.ini") +
                                           " has a value that cannot be read (TempDir is longer"));
    EXPECT_EQ("TempDir=" + std::string(300, 'd') + "\n", readFile(dir.file("tarnwick.ini")));
}

}  // namespace
