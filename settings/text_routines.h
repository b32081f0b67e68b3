#pragma once

#include <string>
#include <string_view>

// Small text and path routines shared by the settings, the recorder configuration and the
// mail reader.

// Ends the text at its first line feed, then at its first carriage return, in place.
void stripLineEnd(std::string& line);

// Splits "KEY=value" at the first '='. The line is first stripped of its line end (in place);
// the key is upper-cased (ASCII letters only), nothing is trimmed, the value keeps any further
// '='. The line is looked at through a 256-byte work buffer, so only its first 255 characters
// count. Returns false, with key and value empty, when there is no '='.
bool splitKeyValue(std::string& line, std::string& key, std::string& value);

// Appends one '/' to a non-empty path whose last character is not '/'.
void addTrailingSlash(std::string& path);

// Removes the last character of a path of two or more characters when it is '/'.
void removeTrailingSlash(std::string& path);

// Opens a regular file for reading without following a symbolic link at its name and without
// waiting on a FIFO or a device there. Returns the descriptor, or -1 for anything else.
int openRegularFile(const std::string& path);

// True when a regular file can be opened for reading at the path, a symbolic link not
// followed (it is closed again at once).
bool fileExists(const std::string& path);

// True when a directory exists under the path, with one trailing '/' removed first (the
// path is cut to 255 characters).
bool dirExists(const std::string& path);

// Skips leading blanks (only ' '), then converts the decimal digits that follow; no sign is
// accepted and a text without such digits gives 0. Values beyond the int range stop at
// INT_MAX.
int parseLeadingInt(const char* text);

// Reads an integer the way atoi does: leading white space, an optional sign, then digits up
// to the first other character; no digits give 0. Values beyond the int range stop at its
// ends.
int parseInteger(const char* text);

// Upper- and lower-case conversions of ASCII letters only.
std::string toUpperAscii(std::string text);
std::string toLowerAscii(std::string text);

// True when the text begins with the prefix, ignoring the case of the text's ASCII letters;
// the prefix is written in lower case.
bool startsWithIgnoringCase(std::string_view text, std::string_view lowerPrefix);

// The text with every carriage return written "\x0d" and every line feed "\x0a", as the log
// shows them: a requester's text put into a mail can then break no line of it.
std::string escapeLineBreaks(const std::string& text);

// The text with every occurrence of the secret (a password) replaced by "***".
std::string withoutSecret(std::string text, const std::string& secret);

// True when the texts are equal ignoring the case of ASCII letters.
bool equalsIgnoreCase(const std::string& a, const std::string& b);
