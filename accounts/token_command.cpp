#include "accounts/token_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;

long long nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Reads both pipes until they close or the time is up; false when it was.
bool readBoth(int out, int err, std::string& stdoutText, std::string& stderrText, int timeoutMs) {
    long long end = nowMs() + timeoutMs;
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&stdoutText, &stderrText};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        long long left = end - nowMs();
        if (left <= 0)
            return false;
        int n = ::poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                fds[i].fd = -1;
                continue;
            }
            if (texts[i]->size() < kMaxOutput)
                texts[i]->append(buffer, static_cast<std::size_t>(got));
        }
    }
    return true;
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

std::vector<std::string> commandWords(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : command) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

bool runTokenCommand(const std::string& command, int timeoutMs, std::string& token,
                     std::string& error) {
    token.clear();
    std::vector<std::string> words = commandWords(command);
    if (words.empty()) {
        error = "the token command is empty";
        return false;
    }
    const std::string name = "the token command " + words[0];
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return error = name + " could not be started: " + std::strerror(errno), false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return error = name + " could not be started: " + std::strerror(errno), false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    std::string stdoutText, stderrText;
    bool inTime = spawned == 0 && readBoth(out[0], err[0], stdoutText, stderrText, timeoutMs);
    ::close(out[0]);
    ::close(err[0]);
    if (spawned != 0)
        return error = name + " could not be started: " + std::strerror(spawned), false;
    if (!inTime)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!inTime)
        return error = name + " did not end within " + std::to_string(timeoutMs / 1000) + " s",
               false;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error =
            name + (WIFEXITED(status) ? " ended with status " + std::to_string(WEXITSTATUS(status))
                                      : " was ended by signal " + std::to_string(WTERMSIG(status)));
        std::string said = firstLine(stderrText).substr(0, 200);
        if (!said.empty())
            error += ": " + said;
        return false;
    }
    token = firstLine(stdoutText);
    if (token.empty())
        return error = name + " printed no token", false;
    return true;
}
