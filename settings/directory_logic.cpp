#include "settings/directory_logic.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "settings/text_routines.h"

namespace {

// True when both paths name the same existing directory.
bool sameDirectory(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISDIR(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The absolute form of path, by name only: relative to the working directory, empty parts
// and "." dropped, ".." taking its parent away. No trailing '/' except for "/".
std::string absolutePath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        char cwd[4096];
        full = std::string(getcwd(cwd, sizeof cwd) ? cwd : "/") + "/" + full;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

}  // namespace

bool offeredAsRecorderFolder(const std::string& path) {
    for (const char* hidden : {"/proc", "/sys", "/dev"}) {
        std::string top = hidden;
        if (path.compare(0, top.size(), top) == 0 &&
            (path.size() == top.size() || path[top.size()] == '/'))
            return false;
    }
    return true;
}

std::string pickerStartDirectory(const std::string& setting, const std::string& home) {
    if (setting.empty())
        return home;
    std::string path = absolutePath(setting);
    while (!offeredAsRecorderFolder(path) || !isDirectory(path)) {
        if (path == "/")
            return home;
        std::size_t slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return path;
}

std::string storedDirectoryForm(const std::string& chosen) {
    std::string result = FixedText<256>(chosen).str();
    addTrailingSlash(result);
    result = FixedText<256>(result).str();
    std::string lower = toLowerAscii(result);
    if (lower != result && sameDirectory(lower, result))
        return lower;
    return result;
}

int pickDirectory(DirectoryChooser& chooser, FixedText<256>& setting, std::string& windowValue) {
    std::string chosen;
    if (!chooser.chooseDirectory(setting.str(), chosen))
        return 0;
    setting = storedDirectoryForm(chosen);
    windowValue = setting.str();
    return 1;
}

NewDirectoryLogic::NewDirectoryLogic(std::string base) : base_(std::move(base)) {
    addTrailingSlash(base_);
}

int NewDirectoryLogic::accept(const std::string& name, std::string& error) {
    std::string path = base_ + name;
    removeTrailingSlash(path);
    error.clear();
    if (path.size() <= maxPathChars && (dirExists(path) || ::mkdir(path.c_str(), 0777) == 0)) {
        newPath_ = path;
        return 1;
    }
    error = "Error creating new directory";
    return 0;
}
