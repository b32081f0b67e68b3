#include "settings/directory_logic.h"

#include <sys/stat.h>

#include "settings/text_routines.h"

namespace {

// True when both paths name the same existing directory.
bool sameDirectory(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISDIR(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

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
