#pragma once

#include <string>
#include <vector>

// What the command line asks for.
struct CommandLine {
    enum class Mode { Desktop, Headless, Once, Help, Version, Error };
    Mode mode = Mode::Desktop;
    std::string configDir;  // empty: the executable's directory
    int tickMs = 1000;
    std::string error;  // one line, for Mode::Error
};

// Reads the arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The usage text printed by --help and after a command-line error.
const char* usageText();
