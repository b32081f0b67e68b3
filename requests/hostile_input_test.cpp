#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "settings/text_routines.h"
#include "testing/station_fixture.h"

// A hostile requester and a hostile local user: caps on what one mail may cause, refusals for
// good that are not retried, and links and FIFOs planted in the recorder's folders.

using Entries = std::vector<std::string>;

namespace {

class HostileInputTest : public ::testing::Test, public StationFixture {
  protected:
    static CollectedLine fromMail(const std::string& text, int mail) {
        CollectedLine line(text);
        line.mail = mail;
        line.sender = "mallory@evil.example";
        return line;
    }
};

TEST_F(HostileInputTest, OneMailServesTwentyLinesOfFiveRecipientsAtMost) {
    start("PopCheckTime=30\n");
    for (int i = 0; i < 22; ++i)
        transport.mailbox.push_back(
            fromMail("stationinfo=r" + std::to_string(i) + "@third.example", 1));
    transport.mailbox.push_back(
        fromMail("stationinfo=a@x.example,b@x.example,c@x.example,d@x.example,e@x.example", 2));
    transport.mailbox.push_back(fromMail(
        "stationinfo=a@x.example,b@x.example,c@x.example,d@x.example,e@x.example,f@x.example", 2));
    app->requestCheckNow();
    tick(1 + 24);
    ASSERT_EQ(20u + 1u + 1u + 1u, transport.sent.size());
    const MailJob& refusal = transport.sent[20];
    EXPECT_EQ("mallory@evil.example", refusal.to);
    EXPECT_NE(std::string::npos,
              refusal.body.view().find(
                  "Error: Too many request lines in one mail (at most 20) = "
                  "stationinfo=r20@third.example\r\nError: Too many request lines in one mail "
                  "(at most 20) = stationinfo=r21@third.example\r\n"));
    EXPECT_EQ("a@x.example,b@x.example,c@x.example,d@x.example,e@x.example", transport.sent[21].to);
    EXPECT_NE(std::string::npos,
              transport.sent[22].body.view().find("Error: Too many recipients (at most 5) = "));
    EXPECT_EQ("mallory@evil.example", transport.sent[22].to);
}

TEST_F(HostileInputTest, AMailOfAThousandBadLinesDelaysTheNextRequestByOneTick) {
    start("PopCheckTime=30\n");
    for (int i = 0; i < 1000; ++i)
        transport.mailbox.push_back(fromMail("eventfilerequest=bad " + std::to_string(i), 1));
    CollectedLine next = fromMail("stationinfo=ann@uni.example", 2);
    next.sender = "ann@uni.example";
    transport.mailbox.push_back(next);
    app->requestCheckNow();
    tick(2);  // the check, then every line of the first mail
    EXPECT_EQ(1, app->cycle().linesPending());
    tick();
    ASSERT_EQ(2u, transport.sent.size());
    EXPECT_EQ("mallory@evil.example", transport.sent[0].to);
    EXPECT_EQ(0u, transport.sent[0].body.view().find(
                      "Station ANMO:\r\nThere was an error processing your event file request."
                      "\r\n\r\nError: Bad Request Line = eventfilerequest=bad 0\r\n"));
    EXPECT_EQ("ann@uni.example", transport.sent[1].to);
    EXPECT_EQ("Station Information", transport.sent[1].subject);
}

TEST_F(HostileInputTest, ARecipientThatIsNoMailboxIsRefusedAndTheSenderTold) {
    start("PopCheckTime=30\n");
    const std::vector<std::string> bad = {
        "<v16@victim.example>>", "v16@victim.example>", "a@b@c.example",   "a..b@c.example",
        "a@-b.example",          "a@[10.0.0.1]",        "\x01a@b.example", "\xc3\xa9@b.example",
        "\"a\"@c.example",       "a@b.example,c@",      "nobody",          "a@b.example."};
    int mail = 0;
    for (const std::string& address : bad)
        transport.mailbox.push_back(fromMail("stationinfo=" + address, ++mail));
    transport.mailbox.push_back(
        fromMail("stationinfo=alice@uni.example,b.o_b+x@obs-1.example", ++mail));
    app->requestCheckNow();
    tick(1 + mail + 1);
    ASSERT_EQ(bad.size() + 1, transport.sent.size());
    for (std::size_t i = 0; i < bad.size(); ++i) {
        std::string refused = bad[i] == "a@b.example,c@" ? "c@" : bad[i];
        EXPECT_EQ("mallory@evil.example", transport.sent[i].to) << bad[i];
        EXPECT_NE(std::string::npos,
                  transport.sent[i].body.view().find("Error: Bad Recipient Address = " + refused))
            << bad[i];
    }
    EXPECT_EQ("alice@uni.example,b.o_b+x@obs-1.example", transport.sent.back().to);
    Entries file = fileEntries();
    EXPECT_NE(file.end(),
              std::find(file.begin(), file.end(), "Bad Recipient Address = <v16@victim.example>>"));
}

TEST_F(HostileInputTest, AReplyRefusedForGoodIsGivenUpAtOnce) {
    start("PopCheckTime=30\n");
    transport.failSends = true;
    transport.failure = SendFailure::kRefusedForGood;
    transport.sendError = "Message not accepted by SMTP server";
    transport.mailbox = {fileRequestLine("bhz")};
    app->requestCheckNow();
    tick(2);
    answer("ok", {"bhz"});
    tick();
    EXPECT_TRUE(app->cycle().resendQueue().empty());
    Entries file = fileEntries();
    EXPECT_EQ("Reply to a@b.example refused by the mail server: not queued", file[file.size() - 2]);
    EXPECT_EQ(0u, file.back().find("Reply to a@b.example not delivered: its files are in "));
    EXPECT_FALSE(fileExists(eventFile("bhz")));
    EXPECT_EQ(2, app->exitCode());
}

TEST_F(HostileInputTest, LinksAndFifosInTheFoldersAreNeverFollowedOrWaitedOn) {
    start("PopCheckTime=30\n");
    writeFile(dir.file("secret"), "the robot's own secret");
    // A link at the request file's hidden temporary name, and event files that are a link to
    // the secret and a FIFO.
    ASSERT_EQ(0,
              symlink(dir.file("secret").c_str(), (requestDir() + ".RQ070509042.sy1.tmp").c_str()));
    ASSERT_EQ(0, symlink(dir.file("secret").c_str(), eventFile("bhz").c_str()));
    ASSERT_EQ(0, mkfifo(eventFile("bhn").c_str(), 0600));
    transport.mailbox = {fileRequestLine("bhz,bhn,bhe")};
    app->requestCheckNow();
    tick(2);
    EXPECT_EQ("the robot's own secret", readFile(dir.file("secret")));
    EXPECT_TRUE(fileExists(requestFile()));
    writeFile(eventFile("bhe"), "event data of bhe");
    writeFile(requestFile() + ".ack", "ok\n");
    tick();
    ASSERT_EQ(1u, transport.sent.size());
    const MailJob& reply = transport.sent[0];
    ASSERT_EQ(1, reply.attachmentCount);
    EXPECT_EQ(eventFile("bhe"), reply.attachments[0]);
    EXPECT_NE(std::string::npos, reply.body.view().find("Sensor channel BHZ not found\r\n"));
    EXPECT_NE(std::string::npos, reply.body.view().find("Sensor channel BHN not found\r\n"));
}

}  // namespace

namespace {

TEST_F(HostileInputTest, ALineBreakInARefusedLineIsShownNotSentInTheReply) {
    start("PopCheckTime=30\n");
    transport.mailbox = {fromMail("eventfilerequest=x\r.\rMAIL FROM:<a@b>\nQUIT", 1)};
    app->requestCheckNow();
    tick(2);
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_NE(std::string::npos,
              transport.sent[0].body.view().find(
                  "Error: Bad Request Line = eventfilerequest=x\\x0d.\\x0dMAIL FROM:<a@b>\\x0aQUIT"
                  "\r\n"));
}

}  // namespace
