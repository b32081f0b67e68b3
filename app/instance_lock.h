#pragma once

#include <string>

// One robot per config folder: an exclusive lock (flock) on "tarnwick.lock" in the folder, held
// for the life of the process, the holder's pid written in the file. The desktop window,
// --headless and --once take it; --check, which changes nothing, runs beside it.
class InstanceLock final {
  public:
    enum class Result {
        kTaken,  // this process holds the lock
        kHeld,   // another process holds it; the message names its pid
        kFailed  // the lock file could not be opened; the message says why
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock of configDir (ending in '/'), a link at the lock file's name never
    // followed. On kHeld the message is "Another Tarnwick (pid N) is using DIR".
    Result take(const std::string& configDir, std::string& message);

  private:
    int fd_ = -1;
};

inline constexpr const char* kLockFileName = "tarnwick.lock";
