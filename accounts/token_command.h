#pragma once

#include <string>
#include <vector>

// The words of a token command as the settings hold it: split at blanks and tabs, a word in
// single or double quotes kept whole (the quotes dropped). No other character is special: the
// command is run without a shell.
std::vector<std::string> commandWords(const std::string& command);

// Runs the command (its first word found on PATH, the rest its arguments, no shell) with
// nothing on its standard input, waits at most timeoutMs for it to end, and takes the first
// line of what it wrote to standard output as the access token. Returns true with the token;
// false with the reason in error ("the token command X ..."): it could not be started, ended
// with a status other than 0 (its first line of standard error follows), was stopped after the
// time limit, or printed no token. At most 64 KiB of output is read.
bool runTokenCommand(const std::string& command, int timeoutMs, std::string& token,
                     std::string& error);
