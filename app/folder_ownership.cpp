#include "app/folder_ownership.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string withoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path.empty() ? "." : path;
}

// The problem with one folder; "" when it is the robot's own. A missing one is no problem when
// it may be missing.
std::string folderProblem(const std::string& path, bool mayBeMissing) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && mayBeMissing)
            return {};
        return path + ": " + std::strerror(errno);
    }
    if (S_ISLNK(st.st_mode))
        return path + ": is a symbolic link, not a folder";
    if (!S_ISDIR(st.st_mode))
        return path + ": is not a folder";
    if (st.st_uid != ::geteuid())
        return path + ": is owned by uid " + std::to_string(st.st_uid) + ", not by uid " +
               std::to_string(::geteuid()) + " that runs the robot";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return path + ": is writable by " +
               ((st.st_mode & S_IWOTH) != 0 ? "others" : "its group") + " (mode " + mode +
               "); chmod go-w " + path;
    }
    return {};
}

// The entries of a folder, "." and ".." left out.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

}  // namespace

bool checkConfigFolder(const std::string& configDir, std::string& problem) {
    std::string config = withoutSlash(configDir);
    problem = folderProblem(config, false);
    if (!problem.empty())
        return false;
    std::string spool = config + "/spool";
    std::vector<std::string> folders = {spool};
    for (const char* name : {"lines", "queue", "undelivered", "bad", "set-aside"})
        folders.push_back(spool + "/" + name);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        problem = folderProblem(folders[i], true);
        if (!problem.empty())
            return false;
    }
    // Each queued or undelivered reply is a folder of its own, with its event files.
    for (const char* name : {"/queue/", "/undelivered/"})
        for (const std::string& job : namesIn(spool + name)) {
            struct stat st;
            if (::lstat((spool + name + job).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                continue;  // not a reply: the spool sets it aside
            problem = folderProblem(spool + name + job, false);
            if (!problem.empty())
                return false;
        }
    return true;
}
