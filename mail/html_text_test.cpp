#include "mail/html_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

struct Case {
    const char* name;
    std::string html;
    std::string text;
};

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

const Case kCases[] = {
    {"empty input", "", ""},
    {"line breaks and paragraphs", "<p>one<br>two</p><p>three</p>four<br><br>five",
     "one\ntwo\nthree\nfour\n\nfive\n"},
    {"divisions as mail clients write them",
     "<div>Hello,</div><div><br></div><div>stationinfo=alice@uni.example<br></div>",
     "Hello,\n\nstationinfo=alice@uni.example\n"},
    {"a line wrapped in the source is one line",
     "<p>\r\n  eventfilerequest=2 18 2003 14 30\r\n\t5 20 <b>bhz</b>  alice@uni.example\r\n</p>",
     "eventfilerequest=2 18 2003 14 30 5 20 bhz alice@uni.example\n"},
    {"character references",
     "<p>a &amp; b &lt;c&gt; &quot;d&quot; &#65;&#x42;&#x6a;&nbsp;e&nbsp;&nbsp;f</p>",
     "a & b <c> \"d\" ABj\u00a0e\u00a0\u00a0f\n"},
    {"what is not shown is dropped",
     "<html><head><title>stationinfo=t@x</title><style>p { color: red }</style></head><body>"
     "<script>document.write('<p>stationinfo=s@x</p>')</script><!-- stationinfo=c@x -->"
     "<p>shown</p></body></html>",
     "shown\n"},
    {"pre keeps its lines and blanks", "before<pre>\n  a  b\r\n\tc\n\nd</pre>after",
     "before\n  a  b\n\tc\n\nd\nafter\n"},
    {"unclosed and stray tags", "<div>one<p>two <b>three</i> four<li>five</div></span>six<p>seven",
     "one\ntwo three four\nfive\nsix\nseven\n"},
    {"a cut-off tag", "<p>one</p><p>two<a href=\"x", "one\ntwo\n"},
    {"a table row per line",
     "<table><tr><td>a</td><td>b</td></tr>\n<tr><th>c</th> <td>d <i>e</i></td></tr></table>",
     "a b\nc d e\n"},
    {"lists and headings", "<h1>Title</h1><ul><li>one</li><li>two</li></ul>end",
     "Title\none\ntwo\nend\n"},
    {"quoted mail as Gmail and Apple Mail quote it",
     "<div>Thanks!</div><div class=\"gmail_quote\">On Tue, Bob wrote:<br><blockquote>"
     "<div>stationinfo=bob@obs.example</div><blockquote type=\"cite\">older<br><br>"
     "line</blockquote></blockquote></div><div>after</div>",
     "Thanks!\nOn Tue, Bob wrote:\n> stationinfo=bob@obs.example\n> older\n\n> line\nafter\n"},
    {"NUL bytes count as blanks", "<p>one\0two</p>\0<p>three</p>"s, "one two\nthree\n"},
    // The parser ends the document at the 257th level of nesting.
    {"deep nesting",
     "<p>before</p>" + repeated("<div>", 100000) + "deep" + repeated("</div>", 100000) +
         "<p>after</p>",
     "before\n"},
};

}  // namespace

TEST(HtmlToText, ShowsTheTextAsAReaderSeesIt) {
    for (const Case& c : kCases) EXPECT_EQ(c.text, htmlToText(c.html)) << c.name;
}
