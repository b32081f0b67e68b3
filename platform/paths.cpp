#include "platform/paths.h"

#include <unistd.h>

#include <climits>

std::string dirOfPath(const std::string& path) {
    if (path.size() < 2)
        return {};
    for (std::size_t i = path.size() - 1; i >= 1; --i) {
        if (path[i] == '/' || path[i] == ':')
            return path.substr(0, i + 1);
    }
    return {};
}

std::string executableDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return dirOfPath(std::string(buf, static_cast<std::size_t>(n)));
}
