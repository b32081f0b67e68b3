#include "accounts/set_password.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "settings/mailer_settings.h"

namespace {

constexpr std::size_t kMaxLine = 64 * 1024;

// Reads up to the first line feed, or the end of the input. False when nothing could be read
// or the line is longer than kMaxLine.
bool readLine(int fd, std::string& line) {
    line.clear();
    char c;
    bool any = false;
    for (;;) {
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return any;
        any = true;
        if (c == '\n')
            break;
        if (line.size() >= kMaxLine)
            return false;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// Reads the line with the terminal's echo off (when it is a terminal).
bool readSecretLine(int fd, std::ostream& out, std::string& line) {
    termios saved{};
    bool terminal = ::isatty(fd) && ::tcgetattr(fd, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        out << "Secret (not shown): " << std::flush;
    }
    bool ok = readLine(fd, line);
    if (terminal) {
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        out << std::endl;
    }
    return ok;
}

}  // namespace

bool isSecretName(const std::string& which) {
    return which == "pop" || which == "smtp" || which == "oauth2-client-secret";
}

int runSetPassword(const std::string& configDir, const std::string& which, int inputFd,
                   std::ostream& out) {
    const std::string path = configDir + kSettingsFileName;
    const char* key = which == "pop"    ? "PopKeyStr"
                      : which == "smtp" ? "SmtpKeyStr"
                                        : "OAuth2ClientSecretStr";
    MailerSettings settings;
    resetSettings(settings);
    std::vector<std::string> problems;
    loadSettings(settings, path, &problems);
    if (!problems.empty()) {
        out << "Not written: " << path << " has a value that cannot be read (" << problems[0]
            << "); correct it first" << std::endl;
        return 1;
    }
    std::string secret;
    if (!readSecretLine(inputFd, out, secret) || secret.empty()) {
        out << "Not written: no " << key << " was given on standard input" << std::endl;
        return 1;
    }
    if (which != "oauth2-client-secret" && secret.size() > kPasswordChars) {
        out << "Not written: a password holds at most " << kPasswordChars << " characters"
            << std::endl;
        return 1;
    }
    if (which == "pop")
        settings.popPassword = secret;
    else if (which == "smtp")
        settings.smtpPassword = secret;
    else
        settings.oauth2ClientSecret = secret;
    if (!saveSettings(settings, path)) {
        out << "Not written: " << path << " could not be written" << std::endl;
        return 1;
    }
    out << key << " written to " << path << std::endl;
    return 0;
}
