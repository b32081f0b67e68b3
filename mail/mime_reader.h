#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message_buffer.h"

// Where a mail holds a request key that gave no request line to serve.
enum class UnservedKey {
    kNone,
    kInText,        // in the text, but not at the start of a line
    kInQuote,       // in quoted text ("> ") of a forward; never a reply's quoted history
    kInAttachment,  // in a text attachment
    kUnreadable,    // a part the robot cannot read: encrypted, or in a form it does not know
};

// What one mail tells the robot.
struct MailReading {
    std::vector<std::string> requestLines;  // lower-cased, in the order of the text
    UnservedKey unservedKey = UnservedKey::kNone;  // the first such place, when any
    std::string sender;      // the Reply-To address, else the From address; "" when none
    std::string from;        // the From address; "" when none
    std::string messageId;   // without angle brackets; "" when none or unusable
    bool automatic = false;  // a bounce, an auto-reply, a list mail: never answered
    std::string cut;         // "" when the whole mail was read, else the limit that ended it
};

// Reads the mail's header block for the sender, the Message-ID and the signs of an
// automatic mail. With asMime the whole mail is read as MIME as well: its parts are walked
// (nested, up to a bounded depth and number); text parts are decoded by their transfer encoding
// and charset, format=flowed is joined, HTML becomes text lines, a forwarded message is read the
// same way. Of a multipart/alternative both the text and the HTML copy are read and the one with
// more whole request lines (isWholeRequestLine) is kept, the text copy on a tie, so a line that
// one copy wrapped or glued to the next is taken from the other and no line comes twice. Every
// text line that begins with a request key, after blanks before it, is a request line, unless it
// stands in a reply's quoted history (QuotedHistory). A key anywhere else (not at the start of a
// line, in a quoted line of a forward, in a text attachment; never in a reply's history) is noted
// in unservedKey, as is a part that cannot be read (encrypted). Broken MIME gives what can be read:
// a mail in which no text part could be found (no boundary, nesting too deep) is read line by line
// as a mail without MIME.
// The parsers read the mail only as far as the limits of parse_limits allow (its header block
// alone without asMime); cut then names the limit.
MailReading readMail(const MessageBuffer& message, bool asMime);

// Makes readMail ready to run; false with the reason when it cannot be. The program keeps the
// mail reading (GMime, libxml2, libytnef and what they load) in a module of its own,
// tarnwick-reading.so, loaded here on first use so that a robot waiting for mail holds none of
// it; a program linked with the reading code itself is always ready.
bool prepareMailReading(std::string& error);

// The activity entry's words for a mail whose request key gave no line to serve, and the reason
// its sender is told, with how to write a request. "" for kNone.
std::string unservedKeyReason(UnservedKey place);
