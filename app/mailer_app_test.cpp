#include "app/mailer_app.h"

#include <gtest/gtest.h>

#include "testing/fake_clock.h"
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
    ASSERT_EQ(2u, app.log().entries().size());
    EXPECT_EQ("02/19 07:05:09 Spool Error: cannot use /proc/no-such-dir/spool/",
              app.log().entries()[1]);
}
