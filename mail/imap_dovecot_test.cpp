#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mail/dialogue_transcript.h"
#include "mail/imap_address.h"
#include "mail/imap_idle.h"
#include "mail/imap_reader.h"
#include "mail/test_mail_context.h"
#include "spool/spool.h"
#include "testing/dovecot_fixture.h"
#include "testing/temp_dir.h"
#include "testing/test_certificates.h"

// The IMAP check against a real Dovecot imapd of the test's own, over TLS.

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::vector<std::string> texts(const std::vector<CollectedLine>& lines) {
    std::vector<std::string> out;
    for (const CollectedLine& line : lines) out.push_back(line.text);
    return out;
}

TEST(ImapAddressTest, TheSettingNamesSchemePortAndFolder) {
    struct Case {
        const char* setting;
        bool imap;
        const char* host;
        const char* service;
        TlsMode tls;
        const char* folder;
    };
    const Case cases[] = {
        {"imaps://mail.example.org", true, "mail.example.org", "993", TlsMode::kImplicit, "INBOX"},
        {"IMAPS://mail.example.org:9993/Requests/Seismic", true, "mail.example.org", "9993",
         TlsMode::kImplicit, "Requests/Seismic"},
        {"imap+starttls://mail.example.org/", true, "mail.example.org", "143", TlsMode::kStartTls,
         "INBOX"},
        {"imap://127.0.0.1:1143/Station", true, "127.0.0.1", "1143", TlsMode::kPlain, "Station"},
        {"pop3s://mail.example.org", false, "", "", TlsMode::kPlain, "INBOX"},
        {"mail.example.org:110", false, "", "", TlsMode::kPlain, "INBOX"},
    };
    for (const Case& c : cases) {
        ImapAddress address;
        EXPECT_EQ(c.imap, isImapSetting(c.setting)) << c.setting;
        EXPECT_EQ(c.imap, parseImapSetting(c.setting, address)) << c.setting;
        EXPECT_EQ(c.host, address.server.host) << c.setting;
        EXPECT_EQ(c.service, address.server.service) << c.setting;
        EXPECT_EQ(c.tls, address.server.tls) << c.setting;
        EXPECT_EQ(c.folder, address.folder) << c.setting;
    }
}

class ImapDovecotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (DovecotServer::programPath().empty() || access("/usr/lib/dovecot/imap", X_OK) != 0)
            GTEST_SKIP() << "dovecot's imapd is not installed (Debian package dovecot-imapd)";
        std::string why;
        ASSERT_TRUE(makeTestCertificates(certificateDir.path(), &certificates, &why)) << why;
        setenv("SSL_CERT_FILE", certificates.caFile.c_str(), 1);
        env.settings.popUser = dovecot.user();
        env.settings.popPassword = dovecot.password();
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    void start(bool move = true) {
        dovecot.enableTls(certificates.serverCert, certificates.serverKey);
        dovecot.enableImap(move);
        restart();
    }
    // Starts the server (again, on new ports, with the same mailbox).
    void restart() {
        std::string why;
        ASSERT_TRUE(dovecot.start(&why)) << why;
        env.settings.popServer = "imaps://127.0.0.1:" + std::to_string(dovecot.imapsPort());
    }
    void deliverRequests() {
        dovecot.deliver(
            "From: ann@example.org\r\nMessage-ID: <a1@example.org>\r\n"
            "Subject: data\r\n\r\nstationinfo=ann@example.org\r\n"
            ".a line that begins with a dot\r\n");
        dovecot.deliver(
            "From: bob@example.org\r\nMessage-ID: <b1@example.org>\r\n"
            "Subject: nothing\r\n\r\njust text\r\n");
    }
    int check(LineKeeper* keeper = nullptr) {
        return readImapMailbox(env.context, lines, error, &serverSaid, keeper);
    }

    TempDir certificateDir;
    TestCertificates certificates;
    TestMailContext env;
    DovecotServer dovecot{"station", "s3cret"};
    std::vector<CollectedLine> lines;
    std::string error, serverSaid;
};

// Where each handled mail goes: the done folder by UID MOVE, or by COPY and EXPUNGE on a server
// without MOVE, over IMAPS or STARTTLS; or nowhere, deleted, when ImapDoneFolder= is empty.
TEST_F(ImapDovecotTest, EveryMailIsServedThenMovedOrDeleted) {
    struct Case {
        const char* name;
        bool move;
        bool startTls;
        const char* doneFolder;  // nullptr: not set
        const char* movedTo;     // where the two mails end
        const char* command;     // seen in the dialogue
    };
    const Case cases[] = {
        {"UID MOVE to the default folder", true, false, nullptr, "Tarnwick/Done", "UID MOVE 1,2"},
        {"no MOVE: COPY and EXPUNGE", false, true, "Answered", "Answered", "UID EXPUNGE 1,2"},
        {"deleted when asked", true, false, kNoDoneFolder, "", "UID EXPUNGE 1,2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestMailContext fresh;
        DovecotServer server{"station", "s3cret"};
        server.enableTls(certificates.serverCert, certificates.serverKey);
        server.enableImap(c.move);
        std::string why;
        ASSERT_TRUE(server.start(&why)) << why;
        server.deliver(
            "From: ann@example.org\r\nMessage-ID: <a1@example.org>\r\n"
            "Subject: data\r\n\r\nstationinfo=ann@example.org\r\n"
            ".eventfilerequest=a line that begins with a dot\r\n");
        server.deliver("From: bob@example.org\r\nSubject: nothing\r\n\r\njust text\r\n");
        fresh.settings.popUser = server.user();
        fresh.settings.popPassword = server.password();
        fresh.settings.popServer =
            c.startTls ? "imap+starttls://127.0.0.1:" + std::to_string(server.imapPort())
                       : "imaps://127.0.0.1:" + std::to_string(server.imapsPort());
        if (c.doneFolder)
            fresh.settings.imapDoneFolder = c.doneFolder;
        struct Recorder : DialogueTranscript {
            void line(const char*, Kind, std::string_view text) override {
                all += std::string(text) + "\n";
            }
            std::string all;
        } transcript;
        fresh.context.transcript = &transcript;

        std::vector<CollectedLine> got;
        std::string error;
        EXPECT_EQ(1, readImapMailbox(fresh.context, got, error)) << error;
        EXPECT_THAT(texts(got), ElementsAre("stationinfo=ann@example.org"));
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ("ann@example.org", got[0].sender);
        EXPECT_EQ("imap INBOX ", got[0].mailKey.substr(0, 11));
        // INTERNALDATE: when the file was delivered, within the test's run.
        EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(got[0].arrival), 120);
        EXPECT_EQ(0, server.messageCount());
        if (*c.movedTo) {
            EXPECT_EQ(2, server.messageCount(c.movedTo));
        }
        EXPECT_THAT(transcript.all, HasSubstr(c.command));
        EXPECT_THAT(transcript.all, HasSubstr("AUTHENTICATE PLAIN ****"));
        EXPECT_THAT(transcript.all, ::testing::Not(HasSubstr("s3cret")));
    }
}

// A keeper that keeps the lines and then stops the server, as a stop of the robot would end the
// session between keeping and moving.
class StopAfterKeeping final : public LineKeeper {
  public:
    StopAfterKeeping(Spool& spool, DovecotServer& server) : spool_(spool), server_(server) {}
    bool keepLines(std::vector<CollectedLine>& lines) override {
        bool kept = spool_.keepLines(lines);
        server_.stop();
        return kept;
    }
    bool wasTaken(const std::string& key) override { return spool_.wasTaken(key); }
    std::vector<std::string> takenKeys() const override { return spool_.takenKeys(); }

  private:
    Spool& spool_;
    DovecotServer& server_;
};

// The server's UIDVALIDITY of the mailbox raised by one, its UIDs as they were.
void changeUidValidity(const std::string& uidlist) {
    std::ifstream in(uidlist);
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    std::size_t v = all.find(" V");
    ASSERT_NE(std::string::npos, v) << all;
    unsigned long validity = std::strtoul(all.c_str() + v + 2, nullptr, 10);
    std::size_t end = all.find(' ', v + 2);
    all.replace(v + 2, end - v - 2, std::to_string(validity + 1));
    std::ofstream(uidlist, std::ios::trunc) << all;
}

// A stop between keeping a mail's lines and moving it: the next run moves it without serving
// it again and loses no line, also when the folder's UIDVALIDITY changed meanwhile (the UIDs
// then name other mails; the kept one is known by its Message-ID and content).
TEST_F(ImapDovecotTest, AStopBetweenKeepingAndMovingNeitherServesTwiceNorLoses) {
    for (bool newValidity : {false, true}) {
        SCOPED_TRACE(newValidity ? "UIDVALIDITY changed" : "same UIDVALIDITY");
        TempDir configDir;
        TestMailContext fresh;
        DovecotServer server{"station", "s3cret"};
        server.enableTls(certificates.serverCert, certificates.serverKey);
        server.enableImap();
        std::string why;
        ASSERT_TRUE(server.start(&why)) << why;
        server.deliver(
            "From: ann@example.org\r\nMessage-ID: <a1@example.org>\r\n\r\n"
            "stationinfo=ann@example.org\r\n");
        fresh.settings.popUser = server.user();
        fresh.settings.popPassword = server.password();
        fresh.settings.popServer = "imaps://127.0.0.1:" + std::to_string(server.imapsPort());
        {
            Spool spool(configDir.path(), fresh.log);
            ASSERT_TRUE(spool.open());
            StopAfterKeeping stopping(spool, server);
            std::vector<CollectedLine> got;
            std::string error;
            EXPECT_EQ(0, readImapMailbox(fresh.context, got, error, nullptr, &stopping));
            EXPECT_THAT(texts(got), ElementsAre("stationinfo=ann@example.org"));
            EXPECT_EQ(1, server.messageCount());
        }
        if (newValidity)
            changeUidValidity(server.folderDir() + "dovecot-uidlist");
        ASSERT_TRUE(server.start(&why)) << why;
        fresh.settings.popServer = "imaps://127.0.0.1:" + std::to_string(server.imapsPort());
        // A new mail that takes the kept mail's UID under the new UIDVALIDITY is served.
        server.deliver(
            "From: bob@example.org\r\nMessage-ID: <b1@example.org>\r\n\r\n"
            "stationinfo=bob@example.org\r\n");

        Spool spool(configDir.path(), fresh.log);  // the next run
        ASSERT_TRUE(spool.open());
        EXPECT_THAT(texts(spool.loadLines()), ElementsAre("stationinfo=ann@example.org"));
        std::vector<CollectedLine> got;
        std::string error;
        EXPECT_EQ(1, readImapMailbox(fresh.context, got, error, nullptr, &spool)) << error;
        EXPECT_THAT(texts(got), ElementsAre("stationinfo=bob@example.org"));
        EXPECT_EQ(0, server.messageCount());
        EXPECT_EQ(2, server.messageCount("Tarnwick/Done"));
        EXPECT_THAT(spool.takenKeys(), IsEmpty());
    }
}

class ImapIdleTest : public ImapDovecotTest {
  protected:
    void SetUp() override {
        ImapDovecotTest::SetUp();
        if (IsSkipped())
            return;
        start();
        env.settings.popEnable = 1;
    }
    // Ticks (the clock standing still) until the watch announces new mail, or 20 s have passed.
    bool announced() {
        for (int n = 0; n < 400; ++n) {
            watch.onTick();
            if (watch.takeNewMail())
                return true;
            usleep(50000);
        }
        return false;
    }
    // Ticks until the watch noticed that its connection dropped, or 20 s have passed.
    bool noticedDrop() {
        for (int n = 0; n < 400 && watch.idling(); ++n) {
            watch.onTick();
            usleep(50000);
        }
        return !watch.idling();
    }
    int entriesWith(const std::string& text) const {
        int count = 0;
        for (const std::string& entry : env.log.entries())
            count += entry.find(text) != std::string::npos ? 1 : 0;
        return count;
    }

    ImapIdleWatch watch{env.context};
};

// New mail during IDLE is announced at once, also after IDLE was renewed; "Waiting for new
// mail" shows once.
TEST_F(ImapIdleTest, MailArrivingDuringIdleIsAnnounced) {
    watch.onTick();
    ASSERT_TRUE(watch.idling()) << env.logFile();
    EXPECT_FALSE(watch.takeNewMail());
    dovecot.deliver("From: ann@example.org\r\n\r\nstationinfo=ann@example.org\r\n");
    EXPECT_TRUE(announced());

    env.clock.seconds += ImapIdleWatch::kRenewSeconds;
    watch.onTick();  // DONE, IDLE
    ASSERT_TRUE(watch.idling());
    dovecot.deliver("From: bob@example.org\r\n\r\nstationinfo=bob@example.org\r\n");
    EXPECT_TRUE(announced());
    EXPECT_EQ(1, entriesWith("Waiting for new mail (IMAP IDLE)"));
}

// A dropped IDLE connection is opened again after a growing delay, with no entry while it comes
// back soon; one that stays down a minute gets one entry, and one when it is back.
TEST_F(ImapIdleTest, ADroppedConnectionIsOpenedAgainQuietlyUnlessItStaysDown) {
    watch.onTick();
    ASSERT_TRUE(watch.idling());
    ASSERT_TRUE(dovecot.kick());
    ASSERT_TRUE(noticedDrop());
    watch.onTick();  // the first try waits a second
    EXPECT_FALSE(watch.idling());
    env.clock.seconds += 1;
    watch.onTick();
    EXPECT_TRUE(watch.idling());
    EXPECT_TRUE(watch.takeNewMail());  // mail may have come meanwhile: checked at once
    EXPECT_EQ(0, entriesWith("IMAP IDLE connection"));

    dovecot.stop();
    ASSERT_TRUE(noticedDrop());
    for (int tries = 0; tries < 10; ++tries) {
        env.clock.seconds += ImapIdleWatch::kLongestDelaySeconds;
        watch.onTick();
    }
    EXPECT_EQ(1, entriesWith("IMAP IDLE connection down: "));
    std::string why;
    ASSERT_TRUE(dovecot.start(&why, true)) << why;
    env.clock.seconds += ImapIdleWatch::kLongestDelaySeconds;
    watch.onTick();
    EXPECT_TRUE(watch.idling());
    EXPECT_EQ(1, entriesWith("IMAP IDLE connection open again"));
}

// A server without IDLE is polled, and says so once.
TEST_F(ImapDovecotTest, WithoutIdleTheMailboxIsPolled) {
    dovecot.enableTls(certificates.serverCert, certificates.serverKey);
    dovecot.enableImap(true, false);
    restart();
    env.settings.popEnable = 1;
    ImapIdleWatch watch{env.context};
    watch.onTick();
    watch.onTick();
    EXPECT_FALSE(watch.idling());
    EXPECT_THAT(env.logFile(), HasSubstr("offers no IDLE: mail is checked every 2 minutes"));
}
