#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

namespace {

constexpr const char* kUserFolderName = "tarnwick/";

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string defaultConfigDir(const std::string& exeDir, const std::string& xdgConfigHome,
                             const std::string& home) {
    if (exeDir.rfind("/usr/", 0) != 0)
        return exeDir;
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    if (!xdgConfigHome.empty() && xdgConfigHome[0] == '/')
        return withSlash(xdgConfigHome) + kUserFolderName;
    if (!home.empty() && home[0] == '/')
        return withSlash(home) + ".config/" + kUserFolderName;
    return {};
}

std::string defaultConfigDir() {
    std::string home = environment("HOME");
    if (home.empty()) {
        passwd entry{};
        passwd* found = nullptr;
        char work[4096];
        if (getpwuid_r(getuid(), &entry, work, sizeof work, &found) == 0 && found)
            home = found->pw_dir;
    }
    return defaultConfigDir(executableDir(), environment("XDG_CONFIG_HOME"), home);
}

bool makePrivateDirs(const std::string& dir, std::string& error) {
    std::string path = withSlash(dir);
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}
