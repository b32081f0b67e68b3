#pragma once

#include <string>
#include <vector>

// What the command line asks for.
struct CommandLine {
    enum class Mode {
        Desktop,
        Headless,
        Once,
        Check,
        Authorize,
        SetPassword,
        Help,
        Version,
        Error
    };
    Mode mode = Mode::Desktop;
    std::string configDir;  // empty: the executable's directory
    int tickMs = 1000;
    std::string metricsFile;   // empty: none (headless and single runs only)
    bool levelPrefix = false;  // "<3>" and "<6>" before each list line (headless, single run)
    int maxLinesPerMail = 20;  // request lines served from one mail
    int maxRecipients = 5;     // recipients one request line may name
    std::string secretName;    // --set-password: pop, smtp or oauth2-client-secret
    int keepDays = 30;         // days the spool keeps what it set aside
    bool verbose = false;      // the mail dialogues on stderr (headless, single run, check)
    std::string error;  // one line, for Mode::Error
};

// Reads the arguments after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The usage text printed by --help and after a command-line error.
const char* usageText();
