#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Limits on what a mail may make the MIME and HTML parsers build. The parsers' memory grows
// with the number of parts, header lines and HTML elements, not with the bytes, so a small
// mail of many tiny parts could cost gigabytes. These functions look at the bytes before a
// parser sees them and say how much of them stays within the limits; the parser then reads
// only that much, and what lies beyond is not read.

// The limits of one mail.
inline constexpr int kMaxMailParts = 1000;           // lines that may open a part ("--...")
inline constexpr int kMaxMailContainers = 64;        // multiparts and enclosed messages, which
                                                     // bounds their nesting
inline constexpr int kMaxMailHeaderLines = 10000;    // header lines of the mail and its parts
inline constexpr int kMaxHtmlItems = 50000;          // elements, comments and attributes

// How much of a text may be read. cut is empty when the whole text may; otherwise it says
// which limit ended the reading ("more than 1000 parts").
struct ReadableLength {
    std::size_t length = 0;
    std::string cut;
};

// For a mail (lines ended by "\n"): the length up to the line at which a limit is passed. With
// asMime false only the header block of the mail is read, so the length ends with it.
//
// Every line is counted against a limit or is plain content: a line in a header block is a
// header line (the mail's, a part's after a line beginning "--", or an enclosed message's after
// the header block of a message/... part); a line beginning "--" outside a header block may
// open a part; a header block that names a multipart/... or message/... type is a container.
// The count errs on the safe side: a text line that begins "--" counts as a part.
ReadableLength readableMail(std::string_view mail, bool asMime);

// For an HTML document: the length up to the item at which the limit is passed. An item is an
// element's start tag ('<' and a letter), a comment or a declaration ("<!", "<?"), or an
// attribute of a tag.
ReadableLength readableHtml(std::string_view html);
