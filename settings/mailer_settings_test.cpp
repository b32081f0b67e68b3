#include "settings/mailer_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kDefaultBytes[] =
    "StationName=\nPopEnable=0\nPopServer=\nPopUser=\nPopKeyStr=\nPopCheckTime=2\n"
    "SmtpServer=\nSmtpAuth=0\nSmtpUser=\nSmtpKeyStr=\nFromUser=\nTempDir=\nMapDrive=\0\n"
    "MornakDir=\nMornakReq=\nMornak2Dir=\nMornak2Req=\n";
const std::string kDefaultFile(kDefaultBytes, sizeof kDefaultBytes - 1);

MailerSettings loadFrom(const std::string& content, std::vector<std::string>* problems = nullptr) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"), content);
    MailerSettings s;
    resetSettings(s);
    loadSettings(s, dir.file("tarnwick.ini"), problems);
    return s;
}

MailerSettings completeSettings() {
    MailerSettings s;
    resetSettings(s);
    s.popServer = "pop";
    s.popUser = "user";
    s.popPassword = "pw";
    s.stationName = "ANMO";
    s.smtpServer = "smtp";
    s.tempDir = "/tmp/";
    s.fromUser = "Station <a@b>";
    s.mornakDir = "/m/";
    s.mornakReq = "/m/req/";
    return s;
}

}  // namespace

TEST(SaveSettings, WritesTheSeventeenDefaultLinesByteForByte) {
    TempDir dir;
    MailerSettings s;
    resetSettings(s);
    loadSettings(s, dir.file("tarnwick.ini"));  // missing: created from the defaults
    EXPECT_EQ(kDefaultFile, readFile(dir.file("tarnwick.ini")));
    EXPECT_EQ(2, s.popCheckTime);
}

TEST(SaveSettings, CreatesTheFileReadableByItsOwnerOnly) {
    TempDir dir;
    MailerSettings s;
    resetSettings(s);
    ASSERT_TRUE(saveSettings(s, dir.file("tarnwick.ini")));
    struct stat st {};
    ASSERT_EQ(0, stat(dir.file("tarnwick.ini").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST(SaveSettings, FailsQuietlyInAMissingDirectory) {
    TempDir dir;
    MailerSettings s;
    resetSettings(s);
    EXPECT_FALSE(saveSettings(s, dir.file("no/such/tarnwick.ini")));
}

TEST(SaveSettings, RoundTripsEveryField) {
    TempDir dir;
    MailerSettings s = completeSettings();
    s.popEnable = 1;
    s.popCheckTime = 45;
    s.smtpAuth = 1;
    s.smtpUser = "robot";
    s.smtpPassword = "s\xe9" "cret";
    s.mapDrive = 'Z';
    s.mornak2Dir = "/m2/";
    s.mornak2Req = "/m2/req/";
    s.popAuthMethod = "oauth2";
    s.oauth2ClientSecret = "c=s";
    s.imapDoneFolder = kNoDoneFolder;  // "ImapDoneFolder=": delete each handled mail
    ASSERT_TRUE(saveSettings(s, dir.file("tarnwick.ini")));
    std::string file = readFile(dir.file("tarnwick.ini"));
    EXPECT_NE(std::string::npos, file.find("SmtpKeyStr=73e963726574\n"));
    EXPECT_NE(std::string::npos, file.find("MapDrive=Z\n"));
    // The optional keys that are set follow the 17 lines, in their table's order.
    EXPECT_NE(std::string::npos,
              file.find("Mornak2Req=/m2/req/\nPopAuthMethod=oauth2\n"
                        "OAuth2ClientSecretStr=633d73\n"));
    EXPECT_TRUE(file.ends_with("\nImapDoneFolder=\n"));

    MailerSettings back;
    resetSettings(back);
    loadSettings(back, dir.file("tarnwick.ini"));
    // Field by field: the record has padding before its integers, which a byte comparison
    // would read.
    FixedText<256> MailerSettings::*texts[] = {
        &MailerSettings::popServer,  &MailerSettings::popUser,    &MailerSettings::smtpServer,
        &MailerSettings::mornakDir,  &MailerSettings::mornakReq,  &MailerSettings::mornak2Dir,
        &MailerSettings::mornak2Req, &MailerSettings::fromUser,   &MailerSettings::smtpUser,
        &MailerSettings::stationName};
    for (auto field : texts) EXPECT_EQ(s.*field, back.*field);
    EXPECT_EQ(s.popPassword, back.popPassword);
    EXPECT_EQ(s.smtpPassword, back.smtpPassword);
    EXPECT_EQ("oauth2", back.popAuthMethod);
    EXPECT_EQ("c=s", back.oauth2ClientSecret);
    EXPECT_EQ(kNoDoneFolder, back.imapDoneFolder);
    EXPECT_EQ(s.tempDir, back.tempDir);
    EXPECT_EQ(s.mapDrive, back.mapDrive);
    EXPECT_EQ(s.popCheckTime, back.popCheckTime);
    EXPECT_EQ(s.popEnable, back.popEnable);
    EXPECT_EQ(s.smtpAuth, back.smtpAuth);
    // And the file written from what was read is the same file.
    ASSERT_TRUE(saveSettings(back, dir.file("again.ini")));
    EXPECT_EQ(file, readFile(dir.file("again.ini")));
}

TEST(LoadSettings, MatchesKeysIgnoringCaseAndTakesTheLastOne) {
    MailerSettings s = loadFrom(
        "popcheckTIME=5\r\nPopServer=first\nPOPSERVER=second\n FromUser=skipped\n"
        "FromUser=a=b\nStationName= ANMO\ngarbage line\n");
    EXPECT_EQ(5, s.popCheckTime);
    EXPECT_EQ("second", s.popServer);
    EXPECT_EQ("a=b", s.fromUser);
    EXPECT_EQ(" ANMO", s.stationName);
}

TEST(LoadSettings, ConvertsNumbersWithoutRangeCheck) {
    EXPECT_EQ(0, loadFrom("PopCheckTime=abc\n").popCheckTime);
    EXPECT_EQ(45, loadFrom("PopCheckTime=45\n").popCheckTime);
    EXPECT_EQ(-3, loadFrom("PopCheckTime= -3\n").popCheckTime);
    EXPECT_EQ(5, loadFrom("SmtpAuth=5\n").smtpAuth);
}

TEST(LoadSettings, ReadsEveryLineWholeAndNamesTheKeyOfAValueItCannotTake) {
    std::string station(255, 's');
    std::string password(200, 'p');
    std::vector<std::string> problems;
    MailerSettings s = loadFrom("StationName=" + station + "\nPopKeyStr=" + encodeKeyStr(password) +
                                    "\nTempDir=/" + std::string(3999, 'd') +
                                    "\nSmtpAuthMethod=kerberos\nPopAuthMethod=OAuth2\n",
                                &problems);
    EXPECT_EQ(station, s.stationName);
    EXPECT_EQ(password, s.popPassword);
    EXPECT_EQ("", s.tempDir);
    EXPECT_EQ("", s.smtpAuthMethod);
    EXPECT_TRUE(popUsesOAuth2(s));
    EXPECT_EQ((std::vector<std::string>{
                  "TempDir is longer than 244 characters: the value was not taken",
                  "SmtpAuthMethod takes password/oauth2, not \"kerberos\": the value was not "
                  "taken"}),
              problems);
    // The rest of a long line is never a line of its own.
    std::string tricky = "StationName=" + std::string(87, 's') + "PopServer=smuggled\n";
    EXPECT_EQ("", loadFrom(tricky).popServer);
}

TEST(LoadSettings, SurvivesJunk) {
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 37) & 0xff);
    MailerSettings s = loadFrom(junk + "\nPopUser=u\n" + std::string(10 * 1024 * 1024, 'x') +
                                std::string("\nPopServer=p\0ignored\n", 21));
    EXPECT_EQ("u", s.popUser);
    EXPECT_EQ("p", s.popServer);
}

TEST(LoadSettings, CutsValuesToTheirFieldsAndReadsTheMapDrive) {
    TempDir dir;
    std::string longDir(300, 'd');
    // tempDir holds 244 characters: a saved longer value cannot come back longer.
    MailerSettings s;
    resetSettings(s);
    s.tempDir = longDir;
    EXPECT_EQ(244u, s.tempDir.size());
    EXPECT_EQ('x', loadFrom("MapDrive=xyz\n").mapDrive);
    EXPECT_EQ('\0', loadFrom(kDefaultFile).mapDrive);
}

TEST(LoadSettings, AFileThatIsADirectoryLeavesTheDefaults) {
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.file("tarnwick.ini").c_str(), 0700));
    MailerSettings s;
    resetSettings(s);
    loadSettings(s, dir.file("tarnwick.ini"));
    EXPECT_EQ(2, s.popCheckTime);
    EXPECT_TRUE(s.popServer.empty());
}

TEST(Passwords, SurviveARestartWhole) {
    TempDir dir;
    MailerSettings s;
    resetSettings(s);
    std::string long1023(1023, 'q');
    long1023[500] = '\xe9';
    s.popPassword = long1023;
    s.smtpPassword = std::string(1100, 'x');  // what the record takes: 1023 characters
    saveSettings(s, dir.file("tarnwick.ini"));
    MailerSettings back;
    resetSettings(back);
    std::vector<std::string> problems;
    loadSettings(back, dir.file("tarnwick.ini"), &problems);
    EXPECT_EQ(long1023, back.popPassword);
    EXPECT_EQ(std::string(1023, 'x'), back.smtpPassword);
    EXPECT_TRUE(problems.empty());
}

TEST(KeyStr, EncodesBytesAsLowerCaseHex) {
    EXPECT_EQ("616263", encodeKeyStr("abc"));
    EXPECT_EQ("", encodeKeyStr(""));
    EXPECT_EQ("e9", encodeKeyStr("\xe9"));
    EXPECT_EQ(400u, encodeKeyStr(std::string(200, 'p')).size());
}

TEST(KeyStr, DecodesPairsAndSkipsWhatIsNotHex) {
    EXPECT_EQ("a", decodeKeyStr("616"));
    EXPECT_EQ("\xe9", decodeKeyStr("E9"));
    EXPECT_EQ("a", decodeKeyStr("zz61"));     // a pair beginning with a non-hex char is skipped
    EXPECT_EQ("\x06", decodeKeyStr("6z"));    // one hex digit and another char: that digit
    EXPECT_EQ(300u, decodeKeyStr(std::string(600, 'a')).size());
}

TEST(SettingsComplete, NeedsEveryRequiredField) {
    EXPECT_TRUE(settingsComplete(completeSettings()));
    MailerSettings s = completeSettings();
    s.popCheckTime = 60;
    EXPECT_TRUE(settingsComplete(s));
    s.popCheckTime = 61;
    EXPECT_FALSE(settingsComplete(s));
    s.popCheckTime = 0;
    EXPECT_FALSE(settingsComplete(s));
    s.popCheckTime = -1;
    EXPECT_FALSE(settingsComplete(s));

    FixedText<256> MailerSettings::*required[] = {
        &MailerSettings::popServer,  &MailerSettings::popUser,  &MailerSettings::stationName,
        &MailerSettings::smtpServer, &MailerSettings::fromUser, &MailerSettings::mornakDir,
        &MailerSettings::mornakReq};
    for (auto field : required) {
        MailerSettings t = completeSettings();
        (t.*field).clear();
        EXPECT_FALSE(settingsComplete(t));
    }
    MailerSettings t = completeSettings();
    t.tempDir.clear();
    EXPECT_FALSE(settingsComplete(t));
    // Never required: the map drive, the second system, the SMTP account; nor the POP
    // password of an OAuth2 login.
    t = completeSettings();
    t.mornak2Dir.clear();
    t.smtpUser.clear();
    t.mapDrive = 0;
    EXPECT_TRUE(settingsComplete(t));
    t.popPassword.clear();
    EXPECT_FALSE(settingsComplete(t));
    t.popAuthMethod = "oauth2";
    EXPECT_TRUE(settingsComplete(t));
}

TEST(SettingsFile, ALinkAtTheSettingsNameIsNeitherReadNorWrittenThrough) {
    TempDir dir;
    writeFile(dir.file("other.ini"), "StationName=ELSEWHERE\n");
    ASSERT_EQ(0, symlink(dir.file("other.ini").c_str(), dir.file("tarnwick.ini").c_str()));
    MailerSettings s;
    resetSettings(s);
    s.stationName = "ANMO";
    std::vector<std::string> problems;
    EXPECT_FALSE(loadSettings(s, dir.file("tarnwick.ini"), &problems));
    EXPECT_EQ("ANMO", s.stationName.str());
    EXPECT_THAT(problems,
                ElementsAre(dir.file("tarnwick.ini") + " cannot be read: not a regular file"));
    EXPECT_FALSE(saveSettings(s, dir.file("tarnwick.ini")));
    EXPECT_EQ("StationName=ELSEWHERE\n", readFile(dir.file("other.ini")));
}

TEST(SettingsFile, KeysTheRecordDoesNotKnowAreIgnoredAndNamedAsWritten) {
    TempDir dir;
    writeFile(dir.file("tarnwick.ini"),
              "stationname=ANMO\nPopServr=mail\nsmtpauthmethod=oauth2\nColour=red\nno key\n");
    MailerSettings s;
    resetSettings(s);
    std::vector<std::string> problems, unknown;
    EXPECT_TRUE(loadSettings(s, dir.file("tarnwick.ini"), &problems, &unknown));
    EXPECT_EQ("ANMO", s.stationName.str());
    EXPECT_EQ("oauth2", s.smtpAuthMethod);
    EXPECT_THAT(problems, IsEmpty());
    EXPECT_THAT(unknown, ElementsAre("PopServr", "Colour"));
}
