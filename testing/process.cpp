#include "testing/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testing/temp_dir.h"

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outPath) {
    pid_ = fork();
    if (pid_ == 0) {
        // A fresh signal mask, whatever the test runner blocked.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::signal(int sig) { return pid_ > 0 && !reaped_ && kill(pid_, sig) == 0; }

int ChildProcess::wait(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int runCommand(const std::vector<std::string>& argv, int timeoutMs, std::string* output) {
    TempDir dir;
    int code;
    {
        ChildProcess child(argv, dir.file("out"));
        code = child.wait(timeoutMs);
    }
    if (output)
        *output = readFile(dir.file("out"));
    return code;
}

std::string builtProgram(const std::string& relativePath) {
    return std::string(TARNWICK_BINARY_DIR) + "/" + relativePath;
}
