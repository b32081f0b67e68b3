#include "settings/text_routines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

void stripLineEnd(std::string& line) {
    std::size_t lf = line.find('\n');
    if (lf != std::string::npos)
        line.resize(lf);
    std::size_t cr = line.find('\r');
    if (cr != std::string::npos)
        line.resize(cr);
}

bool splitKeyValue(std::string& line, std::string& key, std::string& value) {
    stripLineEnd(line);
    key.clear();
    value.clear();
    std::string work = line.substr(0, 255);
    std::size_t nul = work.find('\0');
    if (nul != std::string::npos)
        work.resize(nul);
    std::size_t eq = work.find('=');
    if (eq == std::string::npos)
        return false;
    key = toUpperAscii(work.substr(0, eq));
    value = work.substr(eq + 1);
    return true;
}

void addTrailingSlash(std::string& path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
}

void removeTrailingSlash(std::string& path) {
    if (path.size() >= 2 && path.back() == '/')
        path.pop_back();
}

int openRegularFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool fileExists(const std::string& path) {
    int fd = openRegularFile(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool dirExists(const std::string& path) {
    std::string copy = path.substr(0, 255);
    removeTrailingSlash(copy);
    struct stat st {};
    return stat(copy.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int parseLeadingInt(const char* text) {
    while (*text == ' ')
        ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(value);
}

int parseInteger(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::string toUpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string toLowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerPrefix[i])
            return false;
    }
    return true;
}

std::string escapeLineBreaks(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        if (c == '\r')
            shown += "\\x0d";
        else if (c == '\n')
            shown += "\\x0a";
        else
            shown += c;
    }
    return shown;
}

std::string withoutSecret(std::string text, const std::string& secret) {
    if (secret.empty())
        return text;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3))
        text.replace(at, secret.size(), "***");
    return text;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && toLowerAscii(a) == toLowerAscii(b);
}
