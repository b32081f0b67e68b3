#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The pid the holder wrote into the lock file; "?" when it is not (yet) there.
std::string holderPid(int fd) {
    char text[32] = {};
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string pid(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    pid = pid.substr(0, pid.find('\n'));
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
        return "?";
    return pid;
}

std::string shownDir(std::string dir) {
    if (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir.empty() ? "." : dir;
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);  // the lock goes with the descriptor
}

InstanceLock::Result InstanceLock::take(const std::string& configDir, std::string& message) {
    std::string path = configDir + kLockFileName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        message = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return Result::kFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EWOULDBLOCK) {
            message = "Another Tarnwick (pid " + holderPid(fd) + ") is using " +
                      shownDir(configDir);
            ::close(fd);
            return Result::kHeld;
        }
        message = "cannot lock " + path + ": " + std::strerror(error);
        ::close(fd);
        return Result::kFailed;
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the pid others are told is missing.
    }
    fd_ = fd;
    return Result::kTaken;
}
