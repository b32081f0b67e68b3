#include "mail/parse_limits.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/html_text.h"
#include "mail/mime_reader.h"

// The limits that hold before GMime or libxml2 build a tree: each stops the reading at the line
// or item that passes it, and what came before is still read.

namespace {

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

const std::string kHeader = "From: a@b.example\nMIME-Version: 1.0\n";
const std::string kMixed = "Content-Type: multipart/mixed; boundary=b\n";
const std::string kPart = "--b\nContent-Type: text/plain\n\nx\n";

struct MailShape {
    const char* name;
    std::string mail;
    bool asMime;
    std::size_t length;  // npos: the whole mail
    const char* cut;
};

const std::size_t kWhole = std::string::npos;

std::vector<MailShape> mailShapes() {
    // The closing boundary is a line that may open a part too.
    std::string parts = kHeader + kMixed + "\n" + repeated(kPart, kMaxMailParts - 1);
    std::string headers = repeated("X-A: 1\n", kMaxMailHeaderLines - 1);
    std::string nested;
    for (int i = 1; i < kMaxMailContainers; ++i) nested += "--b\n" + kMixed + "\n";
    return {
        {"parts at the limit", parts + "--b--\n", true, kWhole, ""},
        {"a part past the limit", parts + kPart + "--b--\n", true, parts.size() + kPart.size(),
         "more than 1000 parts"},
        {"header lines at the limit", headers + "X-B: 2\n\nbody\n", true, kWhole, ""},
        {"a header line past the limit", headers + "X-B: 2\nX-C: 3\n\n", true,
         headers.size() + 7, "more than 10000 header lines"},
        {"a plain mail: its header block alone", kHeader + "\n--b\n--b\n", false,
         kHeader.size() + 1, ""},
        {"containers past the limit", kMixed + "\n" + nested + "--b\n" + kMixed, true,
         kMixed.size() + 1 + nested.size() + 4, "more than 64 multiparts and enclosed messages"},
        {"an enclosed message's header lines count",
         kMixed + "\n--b\nContent-Type: message/rfc822\n\n" +
             repeated("X-A: 1\n", kMaxMailHeaderLines),
         true, kMixed.size() + 1 + 4 + 29 + 1 + 7 * (kMaxMailHeaderLines - 2),
         "more than 10000 header lines"},
    };
}

TEST(ParseLimits, MailIsReadUpToTheLineThatPassesALimit) {
    for (const MailShape& shape : mailShapes()) {
        ReadableLength readable = readableMail(shape.mail, shape.asMime);
        std::size_t expected = shape.length == kWhole ? shape.mail.size() : shape.length;
        EXPECT_EQ(expected, readable.length) << shape.name;
        EXPECT_EQ(shape.cut, readable.cut) << shape.name;
    }
}

TEST(ParseLimits, HtmlIsReadUpToTheItemThatPassesTheLimit) {
    std::string inLimit = repeated("<b x=\"<i>\" y>", kMaxHtmlItems / 3);  // 3 items each
    struct {
        const char* name;
        std::string html;
        std::size_t length;
    } cases[] = {
        {"elements and attributes at the limit", inLimit + "<i a>", kWhole},
        {"one attribute more", inLimit + "<i a b>", inLimit.size()},
        {"a comment hides tags", "<!-- <b><b><b> -->" + inLimit + "<i>", kWhole},
        {"a script's text is raw", "<script>a<b&&c<d</script>" + inLimit + "<i>", kWhole},
    };
    for (const auto& c : cases) {
        ReadableLength readable = readableHtml(c.html);
        EXPECT_EQ(c.length == kWhole ? c.html.size() : c.length, readable.length) << c.name;
        EXPECT_EQ(c.length == kWhole ? "" : "more than 50000 HTML elements and attributes",
                  readable.cut)
            << c.name;
    }
}

TEST(ParseLimits, ACutMailGivesTheRequestLinesBeforeTheCutAndNamesIt) {
    MessageBuffer buffer;
    std::string mail = kHeader + kMixed + "\n--b\nContent-Type: text/plain\n\n" +
                       "stationinfo=a@b.example\n" + repeated(kPart, kMaxMailParts) +
                       "--b\nContent-Type: text/plain\n\nstationinfo=late@b.example\n--b--\n";
    std::size_t at = 0;
    for (std::size_t end; (end = mail.find('\n', at)) != std::string::npos; at = end + 1)
        buffer.appendLine(std::string_view(mail).substr(at, end - at));
    MailReading reading = readMail(buffer, true);
    EXPECT_EQ(std::vector<std::string>{"stationinfo=a@b.example"}, reading.requestLines);
    EXPECT_EQ("more than 1000 parts", reading.cut);

    std::string cut;
    std::string html = "<p>stationinfo=a@b.example</p>" + repeated("<br>", kMaxHtmlItems) +
                       "<p>stationinfo=late@b.example</p>";
    std::string text = htmlToText(html, &cut);
    EXPECT_EQ(0u, text.find("stationinfo=a@b.example\n"));
    EXPECT_EQ(std::string::npos, text.find("late"));
    EXPECT_EQ("more than 50000 HTML elements and attributes", cut);
}

}  // namespace
