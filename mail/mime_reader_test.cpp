#include "mail/mime_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/automatic_mail.h"
#include "mail/mail_context.h"
#include "mail/pop3_reader.h"
#include "settings/mailer_settings.h"
#include "testing/dovecot_fixture.h"
#include "testing/fake_clock.h"

// Request mails as mail clients and mail servers write them (mail/testdata), read from a real
// Dovecot; broken MIME and the signs of an automatic mail read directly.

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

std::string testMail(const std::string& name) {
    std::ifstream in(std::string(TARNWICK_SOURCE_DIR) + "/mail/testdata/" + name + ".eml",
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char kAliceRequest[] = "eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn alice@uni.example";
const char kRequest[] = "eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example";
const char kGeoRequest[] =
    "eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe "
    "alice.example@geophysics.institute-of-example.edu";
const char kGeo[] = "alice.example@geophysics.institute-of-example.edu";
const char kSam[] = "sam.lee@gmail.com";
const char kAlice[] = "alice@uni.example";

std::string unserved(UnservedKey place) {
    return std::string(kUnservedMailMark) + unservedKeyReason(place);
}

std::string noLines(const char* from) {
    return std::string("Mail from ") + from + ": no request lines";
}

std::string notServed(const char* from, const char* where) {
    return std::string("Mail from ") + from + ": no request line served: " + where;
}

std::string automatic(const char* from) {
    return std::string("Automatic mail from ") + from + " not answered";
}

struct ClientMail {
    const char* name;
    std::vector<std::string> lines;
    const char* sender;
    std::string entry = {};  // what the list says of the mail besides its lines, if anything
};

const ClientMail kClientMails[] = {
    {"plain", {"eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example"}, "alice@uni.example"},
    {"qp_soft_break",
     {"eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe,bhz1,bhn1,bhe1,lhz,lhn,lhe "
      "alice@uni.example"},
     "replies@uni.example"},
    {"base64_text", {"stationinfo=alice@uni.example"}, "alice@uni.example"},
    {"flowed", {kAliceRequest}, "alice@uni.example"},
    {"flowed_nodelsp", {kAliceRequest}, "alice@uni.example"},
    {"alternative", {"stationinfo=alice@uni.example"}, "alice@uni.example"},
    {"html_only", {kAliceRequest, "stationinfo=alice@uni.example"}, "alice@uni.example"},
    {"forwarded", {"stationinfo=bob@obs.example"}, "alice@uni.example"},
    {"bounce", {}, "MAILER-DAEMON@mx.example", automatic("MAILER-DAEMON@mx.example")},
    {"auto_reply", {}, "carol@obs.example", automatic("carol@obs.example")},
    {"vacation_precedence", {}, "carol@obs.example", automatic("carol@obs.example")},
    // The second set (make_client_mails.py): the better of two copies, quoted history,
    // forwards, keys that give no line, list mail, S/MIME and TNEF.
    {"gmail_wrapped", {kGeoRequest}, kGeo},
    {"samsung_signature", {"eventfilerequest=2 18 2003 14 30 5 20 bhz sam.lee@gmail.com"}, kSam},
    {"samsung_run_together",
     {"eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn sam.lee@gmail.com",
      "stationinfo=sam.lee@gmail.com"},
     kSam},
    // Refused when served: words follow the address.
    {"samsung_plain_glued",
     {"eventfilerequest=2 18 2003 14 30 5 20 bhz sam.lee@gmail.comsent from my galaxy"},
     kSam},
    {"outlook_reply", {}, kAlice, noLines(kAlice)},
    {"outlook_original_message", {}, kAlice, noLines(kAlice)},
    {"outlook_forward", {"stationinfo=bob@obs.example"}, kAlice},
    {"gmail_forward", {"stationinfo=bob@obs.example"}, kAlice},
    {"gmail_reply", {}, kGeo, noLines(kGeo)},
    {"ios_reply", {}, kAlice, noLines(kAlice)},
    {"thunderbird_interleaved", {kRequest}, kAlice},
    {"mutt_forward_quoted",
     {unserved(UnservedKey::kInQuote)},
     kAlice,
     notServed(kAlice, "A request key stands only in quoted text, which is not read")},
    {"thunderbird_txt_attachment",
     {unserved(UnservedKey::kInAttachment)},
     kAlice,
     notServed(kAlice, "A request key stands only in an attachment, which is not read")},
    {"mailman_list", {}, "carol@obs.example", automatic("carol@obs.example")},
    {"smime_signed", {"stationinfo=alice@uni.example"}, kAlice},
    {"smime_encrypted",
     {unserved(UnservedKey::kUnreadable)},
     kAlice,
     notServed(kAlice,
               "The mail could not be read (it is encrypted or in a form this station "
               "cannot read)")},
    {"outlook_tnef", {kRequest}, kAlice},
    {"mailx_key_in_line",
     {unserved(UnservedKey::kInText)},
     kAlice,
     notServed(kAlice, "A request key stands in the mail but not at the start of a line")},
};

MessageBuffer& bufferOf(MessageBuffer& buffer, const std::string& mail) {
    buffer.clear();
    std::istringstream in(mail);
    for (std::string line; std::getline(in, line);) buffer.appendLine(line);
    return buffer;
}

}  // namespace

TEST(MailReading, RequestMailsAsClientsWriteThemGiveTheirLinesOnce) {
    if (DovecotServer::programPath().empty())
        GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d)";
    DovecotServer dovecot;
    std::string why;
    ASSERT_TRUE(dovecot.start(&why)) << why;
    for (const ClientMail& mail : kClientMails) dovecot.deliver(testMail(mail.name));

    FakeClock clock;
    ActivityLog log(clock, "");
    Statistics statistics;
    MailerSettings settings;
    resetSettings(settings);
    settings.popServer = dovecot.address();
    settings.popUser = dovecot.user();
    settings.popPassword = dovecot.password();
    MailContext context{settings, log, statistics, clock};
    std::vector<CollectedLine> lines;
    std::string error;
    ASSERT_EQ(1, readMailbox(context, lines, error)) << error;

    std::vector<std::string> expected, entries;
    for (int mail = 1; const ClientMail& client : kClientMails) {
        SCOPED_TRACE(client.name);
        std::vector<std::string> got;
        for (const CollectedLine& line : lines) {
            if (line.mail != mail)
                continue;
            got.push_back(line.text);
            EXPECT_EQ(client.sender, line.sender);
            EXPECT_EQ(std::string(client.name) + "@uni.example", line.messageId);
        }
        EXPECT_THAT(got, ElementsAreArray(client.lines));
        if (!client.entry.empty())
            entries.push_back("02/19 07:05:09 " + client.entry);
        ++mail;
    }
    EXPECT_THAT(log.entries(), ElementsAreArray(entries));
    EXPECT_EQ(0, dovecot.messageCount());
}

TEST(MailReading, BrokenMimeGivesWhatCanBeRead) {
    const std::string head = "From: a@b.example\nMIME-Version: 1.0\n";
    struct Case {
        const char* what;
        std::string mail;
        std::vector<std::string> lines;
    } cases[] = {
        {"no boundary",
         head + "Content-Type: multipart/mixed\n\nstationinfo=a@b.example\n",
         {"stationinfo=a@b.example"}},
        {"bad base64",
         head + "Content-Transfer-Encoding: base64\n\n!!c3RhdGlvbmluZm89YUBiLmV4YW1wbGU=*\n",
         {"stationinfo=a@b.example"}},
        {"bad quoted-printable",
         head + "Content-Transfer-Encoding: quoted-printable\n\nstationinfo=3Da@b=ZZ=\n",
         {"stationinfo=a@b=zz"}},
        {"unknown charset",
         head + "Content-Type: text/plain; charset=x-nothing\n\n\tstationinfo=a@b.example\n",
         {"stationinfo=a@b.example"}},
        {"deep nesting",
         head +
             [] {
                 std::string parts;
                 for (int i = 0; i < 5000; ++i)
                     parts += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) +
                              "\n\n--b" + std::to_string(i) + "\n";
                 return parts + "\nstationinfo=deep@b.example\n";
             }(),
         {"stationinfo=deep@b.example"}},
        {"huge header block",
         head + std::string(1 << 20, 'X') + "\n\nstationinfo=a@b.example\n",
         {"stationinfo=a@b.example"}},
        {"empty", "", {}},
    };
    MessageBuffer buffer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MailReading reading = readMail(bufferOf(buffer, c.mail), true);
        EXPECT_THAT(reading.requestLines, ElementsAreArray(c.lines));
    }
}

TEST(MailReading, AutomaticMailIsToldByItsHeaders) {
    struct Case {
        AutomaticMailSigns signs;
        bool automatic;
    } cases[] = {
        {{"auto-replied", "", "", "carol@obs.example", ""}, true},
        {{" No ", "", "", "carol@obs.example", ""}, false},
        {{"", "Bulk", "", "news@list.example", ""}, true},
        {{"", "first-class", "", "a@b.example", ""}, false},
        {{"", "", "multipart/report; report-type=delivery-status", "a@b.example", ""}, true},
        {{"", "", "text/plain", "Postmaster@mx.example", ""}, true},
        {{"", "", "text/plain", "a@b.example", " < > "}, true},
        {{"", "", "text/plain", "a@b.example", "<a@b.example>"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.automatic, isAutomaticMail(c.signs)) << c.signs.fromAddress;
}
