#pragma once

#include <string>
#include <string_view>

// The text of an HTML document as a reader sees it, lines ended by "\n": tags are dropped and
// their text kept; a line ends at <br> and around block elements (paragraphs, divisions, list
// items, table rows, headings and the like); the cells of a table row share its line, a blank
// apart. Character references are decoded; &nbsp; stays U+00A0 (bytes C2 A0). What a reader
// never sees is left out: the head with its title, scripts, styles, templates and comments.
// A line inside <blockquote> (the quoted mail of a reply) begins with "> ", once at any depth.
// Runs of white space (blank, tab, CR, LF, form feed) show as one blank, and none at the start
// or end of a line; inside <pre> the text is kept as written, each line feed (or CR LF, or CR)
// ending a line, except one right after the opening tag, which a browser does not show either.
//
// The input is UTF-8; a NUL byte or a form feed counts as a blank, and bytes that are not UTF-8
// pass through.
// Broken HTML is read the way the parser repairs it. Limits of the parser: elements nested
// deeper than 256 end the document there (what lies deeper or further on is lost), and so does
// a single run of text longer than 10,000,000 bytes; only the first 2^31 - 1 bytes are read.
// The parser sees the document only up to the item at which the limit of readableHtml
// (parse_limits) is passed; cut (if given) then receives the reason, else stays as it was.
std::string htmlToText(std::string_view html, std::string* cut = nullptr);
