#pragma once

#include <string>
#include <string_view>

// The two keys that begin a request line in a mail.
inline constexpr std::string_view kFileRequestKey = "eventfilerequest=";
inline constexpr std::string_view kInfoRequestKey = "stationinfo=";

// True when the text begins with one of the keys, in any mix of letter case.
bool startsWithRequestKey(std::string_view text);

// A line of text read from a MIME part, made ready for the key test: non-breaking spaces
// (UTF-8 C2 A0), tabs and carriage returns become blanks, and the blanks before the first
// and after the last other character are dropped. Returns the request line lower-cased when the
// result begins with a key, else "".
std::string requestLineOf(std::string_view line);

// True when the text holds a request key anywhere, in any mix of letter case.
bool mentionsRequestKey(std::string_view text);

// True when a request line (lower-cased, beginning with its key) has the whole form of its kind
// and nothing after it:
//   eventfilerequest=month day year hour minute length rate channels addresses
//   stationinfo=addresses
// seven whole numbers, then a channel list, then one or more mailboxes (isMailboxAddress)
// parted by commas. A line cut short by a wrap, or glued to the words that followed it, is not.
bool isWholeRequestLine(std::string_view line);
