#include "app/check_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "app/exit_codes.h"
#include "settings/base64.h"
#include "settings/mailer_settings.h"
#include "testing/dovecot_fixture.h"
#include "testing/fake_clock.h"
#include "testing/smtp_server_fixture.h"
#include "testing/temp_dir.h"

// "tarnwick --check" against a real Dovecot and a real aiosmtpd.

namespace {

class CheckCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (DovecotServer::programPath().empty())
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d)";
        std::string why;
        ASSERT_TRUE(dovecot.start(&why)) << why;
        ASSERT_TRUE(smtp.start()) << smtp.output();
        for (const char* sub : {"m", "req", "tmp"}) ::mkdir(dir.file(sub).c_str(), 0700);
        writeFile(dir.file("m/mornak.ini"),
                  "SYSTEMNUMBER=1\nNUMBERCHANNELS=2\nSAMPLESPERSECOND=100\n"
                  "CHANFILE1=z.chn\nCHANFILE2=n.chn\n");
        writeFile(dir.file("m/z.chn"), "FILEEXTENTION=BHZ\n");
        writeFile(dir.file("m/n.chn"), "FILEEXTENTION=BHN\n");
        dovecot.deliver("From: ann@example.org\nSubject: data\n\nstationinfo=ann@example.org\n");
    }

    // The settings of the station with these two passwords, readable by their owner alone;
    // more lines after the 17 when given.
    void writeSettings(const std::string& popPassword, const std::string& smtpPassword,
                       const std::string& more = "") {
        writeFile(dir.file("tarnwick.ini"),
                  "StationName=ANMO\nPopServer=" + dovecot.address() +
                      "\nPopUser=station\nPopKeyStr=" + encodeKeyStr(popPassword) +
                      "\nPopCheckTime=2\nSmtpServer=" + smtp.address() +
                      "\nSmtpAuth=1\nSmtpUser=robot\nSmtpKeyStr=" + encodeKeyStr(smtpPassword) +
                      "\nFromUser=ANMO Robot <robot@anmo.example>\nTempDir=" + dir.file("tmp/") +
                      "\nMornakDir=" + dir.file("m/") + "\nMornakReq=" + dir.file("req/") + "\n" +
                      more);
        ::chmod(dir.file("tarnwick.ini").c_str(), 0600);
    }

    // The settings in effect as --check shows them under its settings step, with more lines
    // after the 17 when given.
    std::string settingsLines(const std::string& more = "") const {
        return "      StationName=ANMO\n      PopEnable=0\n      PopServer=" + dovecot.address() +
               "\n      PopUser=station\n      PopKeyStr=***\n      PopCheckTime=2\n"
               "      SmtpServer=" + smtp.address() +
               "\n      SmtpAuth=1\n      SmtpUser=robot\n      SmtpKeyStr=***\n"
               "      FromUser=ANMO Robot <robot@anmo.example>\n      TempDir=" + dir.file("tmp/") +
               "\n      MapDrive=\n      MornakDir=" + dir.file("m/") +
               "\n      MornakReq=" + dir.file("req/") + "\n      Mornak2Dir=\n      Mornak2Req=\n" + more;
    }

    int check(std::string& out, std::string* dialogue = nullptr) {
        std::ostringstream text, shown;
        int code = runCheck(clock, dir.path(), text, 10000, dialogue ? &shown : nullptr);
        out = text.str();
        if (dialogue)
            *dialogue = shown.str();
        return code;
    }

    // The lines every run shows before the servers'.
    std::string localLines(const std::string& moreSettings = "") const {
        return "ok    settings " + dir.file("tarnwick.ini") + "\n" + settingsLines(moreSettings) +
               "ok    first recorder system " + dir.file("m/mornak.ini") +
               ": system 1, 100 samples/s, channels BHZ BHN\n" + "ok    first request folder " +
               dir.file("req/") + " writable\n" + "ok    temporary folder " + dir.file("tmp/") +
               " writable\n";
    }

    TempDir dir;
    FakeClock clock;
    DovecotServer dovecot{"station", "pop-secret"};
    SmtpServerFixture smtp{{"robot", "smtp-secret", true}};
};

TEST_F(CheckCommandTest, GoodPasswordsPassEveryStepWithNothingDeletedAndNothingSent) {
    writeSettings("pop-secret", "smtp-secret", "HeloName=station.anmo.example\n");
    std::string out;
    EXPECT_EQ(0, check(out)) << out;
    EXPECT_EQ(localLines("      HeloName=station.anmo.example\n") + "ok    POP3 " +
                  dovecot.address() +
                  ": logged in as station with USER/PASS, 1 message waiting, none retrieved\n" +
                  "ok    SMTP " + smtp.address() +
                  ": greeted as station.anmo.example, login as robot with LOGIN accepted, "
                  "nothing sent\n",
              out);
    EXPECT_EQ(1, dovecot.messageCount());
    EXPECT_TRUE(smtp.messages(0).empty());
    // Nothing of a run is written beside the settings.
    EXPECT_NE(0, ::access(dir.file("tarnwick.log").c_str(), F_OK));
    EXPECT_NE(0, ::access(dir.file("spool").c_str(), F_OK));
}

TEST_F(CheckCommandTest, WrongPasswordsFailTheirStepsWithTheServersWords) {
    writeSettings("pop-wrong", "smtp-wrong");
    std::string out;
    EXPECT_EQ(kExitLoginError, check(out)) << out;
    EXPECT_EQ(localLines() + "FAIL  POP3 " + dovecot.address() +
                  ": User Login Password Error; the server said: -ERR [AUTH] Authentication "
                  "failed.\n" +
                  "FAIL  SMTP " + smtp.address() +
                  ": Bad authentication response from mail server; the server said: 535 5.7.8 "
                  "Authentication credentials invalid\n",
              out);
    EXPECT_EQ(std::string::npos, out.find("wrong"));
    EXPECT_EQ(1, dovecot.messageCount());
}

TEST_F(CheckCommandTest, VerboseShowsBothDialoguesWithoutASecret) {
    writeSettings("pop-secret", "smtp-secret");
    std::string out, dialogue;
    EXPECT_EQ(0, check(out, &dialogue)) << out;
    std::string pop = dovecot.address(), port = pop.substr(pop.rfind(':') + 1);
    EXPECT_NE(std::string::npos,
              dialogue.find("POP3 - connected to 127.0.0.1 port " + port + "\n"
                            "POP3 < +OK Dovecot (Debian) ready.\n"
                            "POP3 > USER station\n"
                            "POP3 < +OK\n"
                            "POP3 > PASS ****\n"
                            "POP3 < +OK Logged in.\n"
                            "POP3 > STAT\n"))
        << dialogue;
    EXPECT_NE(std::string::npos, dialogue.find("POP3 > QUIT\nPOP3 < +OK Logging out"));
    // AUTH LOGIN: the user's base64 line is shown, the password's is not.
    EXPECT_NE(std::string::npos, dialogue.find("SMTP > AUTH LOGIN\n")) << dialogue;
    EXPECT_NE(std::string::npos, dialogue.find("SMTP > cm9ib3Q=\n")) << dialogue;
    EXPECT_NE(std::string::npos, dialogue.find("SMTP > ****\nSMTP < 235 ")) << dialogue;
    EXPECT_NE(std::string::npos, dialogue.find("SMTP > QUIT\nSMTP < 221 ")) << dialogue;
    for (const std::string secret : {"pop-secret", "smtp-secret"}) {
        Base64Coder coder;
        coder.encode(reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
        std::string base64(coder.encodedData(), coder.encodedLength());
        EXPECT_EQ(std::string::npos, dialogue.find(secret)) << dialogue;
        EXPECT_EQ(std::string::npos, dialogue.find(base64)) << dialogue;
        EXPECT_EQ(std::string::npos, dialogue.find(encodeKeyStr(secret))) << dialogue;
    }
    // The dialogue goes to its own stream only.
    EXPECT_EQ(std::string::npos, out.find("POP3 >"));
}

// An IMAP mailbox: the login, the folder (read-only) and the done folder, and the IMAP
// dialogue under --verbose, its password masked.
TEST_F(CheckCommandTest, AnImapMailboxIsCheckedWithItsFolderAndDoneFolder) {
    if (access("/usr/lib/dovecot/imap", X_OK) != 0)
        GTEST_SKIP() << "dovecot's imapd is not installed (Debian package dovecot-imapd)";
    DovecotServer imap{"station", "pop-secret"};
    imap.enableImap();
    std::string why;
    ASSERT_TRUE(imap.start(&why)) << why;
    imap.deliver("From: ann@example.org\n\nstationinfo=ann@example.org\n");
    writeSettings("pop-secret", "smtp-secret");
    std::string server = "imap://127.0.0.1:" + std::to_string(imap.imapPort());
    std::string text = readFile(dir.file("tarnwick.ini"));
    text.replace(text.find(dovecot.address()), dovecot.address().size(), server);
    writeFile(dir.file("tarnwick.ini"), text);

    std::string out, dialogue;
    EXPECT_EQ(0, check(out, &dialogue)) << out;
    EXPECT_NE(std::string::npos,
              out.find("ok    IMAP " + server +
                       ": logged in as station with AUTHENTICATE PLAIN, 1 message waiting, none "
                       "fetched; done folder Tarnwick/Done not there yet: created at the first "
                       "move (UID MOVE); IDLE offered\n"))
        << out;
    EXPECT_NE(std::string::npos, dialogue.find("IMAP > t1 AUTHENTICATE PLAIN ****\n")) << dialogue;
    EXPECT_NE(std::string::npos, dialogue.find("IMAP > t2 EXAMINE \"INBOX\"\n")) << dialogue;
    EXPECT_EQ(std::string::npos, dialogue.find("pop-secret")) << dialogue;
    EXPECT_EQ(1, imap.messageCount());

    imap.stop();  // a mailbox not reached is a connection error
    EXPECT_EQ(kExitConnectionError, check(out)) << out;
    EXPECT_NE(std::string::npos, out.find("FAIL  IMAP " + server + ": IMAP Connect Error")) << out;
}

TEST_F(CheckCommandTest, UnknownKeysAndAFileOthersCanReadAreWarnedOf) {
    writeSettings("pop-secret", "smtp-secret", "PopAuthMetod=oauth2\n");
    ::chmod(dir.file("tarnwick.ini").c_str(), 0644);
    std::string out;
    EXPECT_EQ(0, check(out)) << out;
    std::string path = dir.file("tarnwick.ini");
    EXPECT_EQ(0u, out.find("ok    settings " + path + "\n" + settingsLines() +
                           "warn  settings " + path + ": unknown key PopAuthMetod (ignored)\n"
                           "warn  settings " + path +
                           ": group or others can read it (mode 0644): chmod 600 " + path + "\n"
                           "ok    first recorder system "))
        << out;
}

TEST_F(CheckCommandTest, APasswordEndingInALineEndIsWarnedOf) {
    writeSettings("pop-secret\n", "smtp-secret");
    std::string out;
    EXPECT_NE(kExitOk, check(out)) << out;  // the server reads the line end as a command's end
    EXPECT_NE(std::string::npos,
              out.find("warn  settings " + dir.file("tarnwick.ini") +
                       ": PopKeyStr ends in a line end, which the server takes as part of the "
                       "password\n"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("SmtpKeyStr ends")) << out;
}

TEST_F(CheckCommandTest, AMissingSettingsFileFailsAndIsNotCreated) {
    std::string out;
    EXPECT_EQ(kExitSettingsError, check(out));
    EXPECT_EQ("FAIL  settings " + dir.file("tarnwick.ini") +
                  ": cannot be read: No such file or directory\n"
                  "FAIL  first recorder system: MornakDir is not set\n"
                  "FAIL  first request folder: MornakReq is not set\n"
                  "FAIL  temporary folder: TempDir is not set\n"
                  "FAIL  POP3: PopServer is not set\n"
                  "FAIL  SMTP: SmtpServer is not set\n",
              out);
    EXPECT_NE(0, ::access(dir.file("tarnwick.ini").c_str(), F_OK));
}

TEST_F(CheckCommandTest, AnUnusableFolderAndAMissingRecorderConfigurationFail) {
    writeSettings("pop-secret", "smtp-secret");
    ::unlink(dir.file("m/mornak.ini").c_str());
    ::rmdir(dir.file("req").c_str());
    std::string out;
    EXPECT_EQ(kExitSettingsError, check(out));
    EXPECT_NE(std::string::npos,
              out.find("FAIL  first recorder system " + dir.file("m/mornak.ini") +
                       ": cannot be read: No such file or directory\n"
                       "FAIL  first request folder " +
                       dir.file("req/") + ": not usable: No such file or directory\n"))
        << out;
}

}  // namespace
