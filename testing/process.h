#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A child process started by a test, with its stdout and stderr sent to files.
class ChildProcess {
public:
    // Starts argv[0] with the given arguments; output goes to outPath (both streams).
    ChildProcess(const std::vector<std::string>& argv, const std::string& outPath);
    ~ChildProcess();  // kills and reaps a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool signal(int sig);
    // Waits up to timeoutMs for the child to end; returns its exit code, 128 + signal when a
    // signal ended it, or -1 when it was still running at the limit.
    int wait(int timeoutMs);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// Runs the command to its end (at most timeoutMs) and returns its exit code as wait() does;
// its output is left in *output when given.
int runCommand(const std::vector<std::string>& argv, int timeoutMs, std::string* output = nullptr);

// Path of a program built in this tree, e.g. builtProgram("app/tarnwick").
std::string builtProgram(const std::string& relativePath);
