#include "mail/quoted_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/mailbox_address.h"
#include "mail/request_key.h"

namespace {

// The lines of a text that QuotedHistory leaves as the sender's own words.
std::string ownWords(const std::string& text, bool forward = false) {
    QuotedHistory history(forward);
    std::string kept;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (history.place(line) == LinePlace::kText && !line.empty())
            kept += line + "|";
        at = end + 1;
    }
    return kept;
}

}  // namespace

TEST(QuotedHistory, SeparatorsOfTodaysClientsEndTheNewText) {
    struct Case {
        const char* what;
        std::string text;
        std::string kept;
    } cases[] = {
        {"Outlook, German", "Danke\nVon: Bob\nGesendet: Dienstag\nstationinfo=x@y\n",
         "Danke|Von: Bob|"},
        {"Outlook for Mac", "Thanks\nFrom: Bob\nDate: Tuesday\nstationinfo=x@y\n",
         "Thanks|From: Bob|"},
        {"Original Message, French", "Merci\n-----Message d'origine-----\nstationinfo=x@y\n",
         "Merci|"},
        {"attribution, Spanish", "Gracias\nEl mar, 18 feb 2003, Bob escribió:\nstationinfo=x@y\n",
         "Gracias|"},
        {"attribution wrapped by Gmail",
         "Thanks\nOn Tue, Feb 18, 2003 at 5:02 PM Bob <\nbob@x> wrote:\n> a\n",
         "Thanks|On Tue, Feb 18, 2003 at 5:02 PM Bob <|"},
        {"answers between quotes", "On Tue, Bob wrote:\n> a\n\nfirst\n> b\nsecond\n",
         "first|second|"},
        {"a signed mail's armour is text",
         "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\na\n",
         "-----BEGIN PGP SIGNED MESSAGE-----|Hash: SHA256|a|"},
        {"a From line alone is text", "From: the station's manual\nstationinfo=x@y\n",
         "From: the station's manual|stationinfo=x@y|"},
        {"Apple's forward marker", "See below\nBegin forwarded message:\nFrom: Bob\nDate: Tue\na\n",
         "See below|Begin forwarded message:|From: Bob|Date: Tue|a|"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.kept, ownWords(c.text)) << c.what;
    // A forward keeps the text below the separators it carries.
    EXPECT_EQ("a|-----Original Message-----|b|",
              ownWords("a\n-----Original Message-----\nb\n", true));
    EXPECT_TRUE(isForwardSubject(" FW: data"));
    EXPECT_TRUE(isForwardSubject("Fwd: data"));
    EXPECT_FALSE(isForwardSubject("Re: Fwd: data"));
}

TEST(RequestKey, AWholeRequestLineEndsWithWholeAddresses) {
    struct Case {
        const char* line;
        bool whole;
    } cases[] = {
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn a.b@c-d.example", true},
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz a@x.example,b@y.example", true},
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz,bhn,bhe", false},  // wrapped before the address
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz a@gmail.comsent from my galaxy", false},
        {"eventfilerequest=2 18 2003 14 30 5 x bhz a@b.example", false},
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz a@-b.example", false},
        {"eventfilerequest=2 18 2003 14 30 5 20 bhz a..b@c.example", false},
        {"stationinfo=a@b.example", true},
        {"stationinfo=a@b.example thanks", false},
        {"stationinfo=bhn", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.whole, isWholeRequestLine(c.line)) << c.line;
    EXPECT_FALSE(isMailboxAddress(std::string(65, 'a') + "@b.example"));
    EXPECT_TRUE(mentionsRequestKey("Hi,EventFileRequest=2 18"));
    EXPECT_FALSE(mentionsRequestKey("stationinfo = a@b"));
}
