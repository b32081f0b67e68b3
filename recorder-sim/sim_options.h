#pragma once

#include <string>
#include <vector>

// What recorder-sim was asked to do, from its command line.
struct SimOptions {
    std::string configDir;     // holds mornak.ini and the channel files (with '/')
    std::string requestDir;    // watched for request files (with '/'); empty: do not watch
    bool init = false;         // write the sample configuration first
    int systemNumber = 1;      // SYSTEMNUMBER of the sample configuration
    std::string refuseReason;  // non-empty: answer "bad <reason>" and cut nothing
    bool refuse = false;
    std::string responseLine;  // replaces the "ok N files" line when set
    bool customResponse = false;
    std::vector<std::string> onlyChannels;  // non-empty: cut only these channels
    int delayMs = 0;                        // wait this long before answering
    int pollMs = 25;                        // look at the request directory this often
    bool never = false;                     // see request files but never answer them
    bool once = false;                      // exit after the first request file
    bool keepRequests = false;              // leave answered request files in place
    bool help = false;
};

// Reads the arguments (argv[1..argc-1]). Returns false with error set when an option is
// unknown, lacks its value or has a bad value, or when --config is missing.
bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

// The non-empty items of a comma-separated list, in order.
std::vector<std::string> splitCommas(const std::string& list);

// The --help text.
const char* simUsage();
