#pragma once

#include <string>

// The directory of the running executable with its trailing '/', from /proc/self/exe;
// empty when it cannot be found (names then stand alone, relative to the working directory).
std::string executableDir();

// The directory part of an executable path: everything up to and including its last '/'
// or ':' after the first character; empty when the path is shorter than two characters
// or has no such separator.
std::string dirOfPath(const std::string& path);

// Where the robot keeps its files when no --config-dir is given, with its trailing '/'. A
// program installed under /usr (exeDir begins with "/usr/") keeps them in the user's own
// folder: "<xdgConfigHome>/tarnwick/" when xdgConfigHome is an absolute path, else
// "<home>/.config/tarnwick/"; empty when neither is known. Any other copy (one run from its
// build folder) keeps them beside itself, in exeDir.
std::string defaultConfigDir(const std::string& exeDir, const std::string& xdgConfigHome,
                             const std::string& home);

// The same for this process: its executable, $XDG_CONFIG_HOME and $HOME (or the password
// database's home folder when $HOME is unset).
std::string defaultConfigDir();

// Creates the folder and each missing folder above it with mode 0700, as the XDG base
// directories ask. True when it is a folder afterwards; false with the reason in error.
bool makePrivateDirs(const std::string& dir, std::string& error);
