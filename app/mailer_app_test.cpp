#include "app/mailer_app.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "settings/text_routines.h"
#include "testing/fake_clock.h"
#include "testing/fake_transport.h"
#include "testing/station_fixture.h"
#include "testing/temp_dir.h"

namespace {

const char kComplete[] =
    "StationName=ANMO\nPopEnable=0\nPopServer=pop\nPopUser=u\nPopKeyStr=7077\n"
    "PopCheckTime=2\nSmtpServer=smtp\nFromUser=Robot <r@s>\nTempDir=/t/\nMornakDir=/m/\n"
    "MornakReq=/m/r/\n";

}  // namespace

TEST(MailerAppStartUp, ForcesPollingOnForCompleteSettings) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), kComplete);
    FakeClock clock;
    MailerApp app(clock, dir.path());
    app.statistics().bytesSent = 5;
    app.startUp();
    EXPECT_EQ(1, app.settings().popEnable);
    EXPECT_EQ("pw", app.settings().popPassword);
    EXPECT_EQ(0, app.statistics().bytesSent);
    EXPECT_EQ("02/19 07:05:09 Program Startup...", app.log().entries().front());
    // The recorder configuration is read after the start is logged; here there is none.
    EXPECT_EQ(
        "02/19/03 07:05:09 Program Startup...\n"
        "02/19/03 07:05:09 First MORNAK INI parse error\n",
        readFile(dir.file("tarnwick.log")));
}

TEST(MailerAppStartUp, NamesTheKeyOfAValueItCannotTakeAndTakesCredentials) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), std::string(kComplete) + "PopAuthMethod=token\n");
    ASSERT_EQ(0, mkdir(dir.file("creds").c_str(), 0700));
    writeFile(dir.file("creds/smtp-password"), "from systemd\n");
    setenv("CREDENTIALS_DIRECTORY", dir.file("creds").c_str(), 1);
    FakeClock clock;
    MailerApp app(clock, dir.path());
    app.startUp();
    unsetenv("CREDENTIALS_DIRECTORY");
    EXPECT_EQ("from systemd", app.settings().smtpPassword);
    EXPECT_EQ("", app.settings().popAuthMethod);
    EXPECT_EQ(
        "02/19/03 07:05:09 Program Startup...\n"
        "02/19/03 07:05:09 Settings Error: PopAuthMethod takes password/oauth2, not \"token\": "
        "the value was not taken\n"
        "02/19/03 07:05:09 First MORNAK INI parse error\n",
        readFile(dir.file("tarnwick.log")));
}

TEST(MailerAppStartUp, ForcesPollingOffForIncompleteSettings) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), std::string(kComplete) + "PopEnable=1\nPopServer=\n");
    FakeClock clock;
    MailerApp app(clock, dir.path());
    app.startUp();
    EXPECT_EQ(0, app.settings().popEnable);
}

TEST(MailerAppStartUp, GoesOnInADirectoryItCannotWrite) {
    FakeClock clock;
    MailerApp app(clock, "/proc/no-such-dir/");
    app.startUp();
    EXPECT_EQ(2, app.settings().popCheckTime);
    EXPECT_EQ(0, app.settings().popEnable);
    // Without a spool no mail would be deleted: the operator is told at once.
    ASSERT_EQ(3u, app.log().entries().size());
    EXPECT_EQ("02/19 07:05:09 Mail checking is off: not set: StationName, PopServer, PopUser, "
              "PopKeyStr, SmtpServer, FromUser, TempDir, MornakDir, MornakReq",
              app.log().entries()[1]);
    EXPECT_EQ("02/19 07:05:09 Spool Error: cannot use /proc/no-such-dir/spool/",
              app.log().entries()[2]);
}

namespace {

using Entries = std::vector<std::string>;

class MailerAppServiceTest : public ::testing::Test, public StationFixture {
  protected:
    // Takes one request line from the mailbox and dispatches it: its request file is written.
    void takeRequest(const std::string& line) {
        transport.mailbox = {line};
        app->requestCheckNow();
        tick(2);
    }
};

TEST_F(MailerAppServiceTest, AReloadReadsARecorderConfigurationWrittenAfterStartUp) {
    std::string ini = readFile(dir.file("m/mornak.ini"));
    ASSERT_EQ(0, ::unlink(dir.file("m/mornak.ini").c_str()));
    start("PopCheckTime=30\n");
    EXPECT_EQ("First MORNAK INI parse error", fileEntries().back());

    writeFile(dir.file("m/mornak.ini"), ini);
    writeFile(dir.file("tarnwick.ini"), readFile(dir.file("tarnwick.ini")) + "StationName=TUC\n");
    std::size_t before = app->log().entries().size();
    ASSERT_TRUE(app->mayReload());
    app->reload();
    EXPECT_EQ(Entries{"Settings reloaded: tarnwick.ini and the recorder configurations read again"},
              entries(before));
    EXPECT_EQ("TUC", app->settings().stationName);
    EXPECT_EQ(1, app->settings().popEnable);

    takeRequest(fileRequestLine("bhz"));
    EXPECT_EQ("REQ: 2 18 2003 14 30 5 5 bhz " + tempDir() + "0302181430\n",
              readFile(requestFile()));
}

TEST_F(MailerAppServiceTest, NoReloadWhileARequestWaitsForTheRecorder) {
    start("PopCheckTime=30\n");
    takeRequest(fileRequestLine("bhz"));
    EXPECT_FALSE(app->mayReload());
    answer("ok", {"bhz"});
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_TRUE(app->mayReload());
}

TEST_F(MailerAppServiceTest, OnlyAMailCheckThatReadTheMailboxCountsAsGood) {
    start("PopCheckTime=30\n");
    EXPECT_EQ(clock.seconds, app->startTime());
    EXPECT_EQ(0, app->lastGoodCheck());
    transport.readResult = 0;
    app->requestCheckNow();
    tick();
    EXPECT_EQ(0, app->lastGoodCheck());
    transport.readResult = 1;
    app->requestCheckNow();
    tick();
    EXPECT_EQ(clock.seconds, app->lastGoodCheck());
}

TEST_F(MailerAppServiceTest, AMapDriveLetterIsIgnoredAndSaidOnceTheFileKeepsIt) {
    start("PopCheckTime=30\nMapDrive=M\n");
    EXPECT_EQ((Entries{"Program Startup...", "MapDrive is set but has no effect on this system"}),
              fileEntries());
    app->reload();
    EXPECT_EQ(2u, fileEntries().size());
    EXPECT_NE(std::string::npos, readFile(dir.file("tarnwick.ini")).find("MapDrive=M\n"));

    // The event files are looked for where the recorder was told to cut them.
    takeRequest(fileRequestLine("bhz"));
    answer("ok", {"bhz"});
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ(eventFile("bhz"), transport.sent[0].attachments[0].str());
}

}  // namespace

TEST(MailerAppSecrets, APasswordEchoedByAServerInAnyFormReachesNoEntry) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), std::string(kComplete) + "SmtpUser=robot\n" +
                                            "SmtpKeyStr=" + encodeKeyStr("sm7p-pw") + "\n");
    FakeClock clock;
    FakeTransport transport;
    MailerApp app(clock, dir.path(), &transport);
    app.startUp();
    // The forms of "sm7p-pw": base64 of AUTH LOGIN, of AUTH PLAIN as robot, and hexadecimal.
    transport.readResult = 0;
    transport.readError = "-ERR c203cC1wdw== AHJvYm90AHNtN3AtcHc= 736d37702d7077";
    app.requestCheckNow();
    app.onTick();
    const auto& entries = app.log().entries();
    EXPECT_NE(entries.end(), std::find(entries.begin(), entries.end(),
                                       "02/19 07:05:09 POP Error: -ERR *** *** ***"));
    EXPECT_EQ(std::string::npos, readFile(dir.file("tarnwick.log")).find("c203cC1wdw"));
}
