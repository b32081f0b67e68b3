#include "spool/entry_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

bool readEntry(const std::string& path, std::string& text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<std::size_t>(st.st_size) <= kMaxEntryBytes;
    text.clear();
    char buffer[8192];
    while (ok) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        ok = text.size() <= kMaxEntryBytes;
    }
    ::close(fd);
    return ok;
}

std::string oneLine(std::string value) {
    std::replace(value.begin(), value.end(), '\n', ' ');
    std::replace(value.begin(), value.end(), '\r', ' ');
    return value;
}

bool splitFields(const std::string& text, const char* header, const char* bodyMark,
                 std::vector<std::pair<std::string, std::string>>& fields, std::string* rest) {
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != header)
                return false;
            first = false;
            continue;
        }
        if (rest && line == bodyMark) {
            *rest = text.substr(at);
            return true;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return false;
        fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return !first && !rest;
}

bool parseCount(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}
