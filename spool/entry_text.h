#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The text of the spool's entries: a header line, then "key=value" lines.

// The largest entry read.
inline constexpr std::size_t kMaxEntryBytes = 1 << 20;

// Reads a regular file of at most kMaxEntryBytes (never through a link).
bool readEntry(const std::string& path, std::string& text);

// A value on one line of an entry: line ends become blanks.
std::string oneLine(std::string value);

// Splits "key=value" lines after the header up to the end or, when rest is given, up to the
// line bodyMark; returns false for a line that is neither. rest receives what follows the mark.
bool splitFields(const std::string& text, const char* header, const char* bodyMark,
                 std::vector<std::pair<std::string, std::string>>& fields, std::string* rest);

// A count of at most 9 digits between low and high.
bool parseCount(const std::string& text, int low, int high, int& value);
