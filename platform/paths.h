#pragma once

#include <string>

// The directory of the running executable with its trailing '/', from /proc/self/exe;
// empty when it cannot be found (names then stand alone, relative to the working directory).
std::string executableDir();

// The directory part of an executable path: everything up to and including its last '/'
// or ':' after the first character; empty when the path is shorter than two characters
// or has no such separator.
std::string dirOfPath(const std::string& path);
