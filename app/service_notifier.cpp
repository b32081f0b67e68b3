#include "app/service_notifier.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

unsigned long long monotonicMicroseconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL +
           static_cast<unsigned long long>(ts.tv_nsec) / 1000ULL;
}

// libsystemd's sd_notify, loaded on the first notice under a service manager that listens
// ($NOTIFY_SOCKET set), so a robot run without one does not load the library at all.
void notify(const char* message) {
    using SdNotify = int (*)(int, const char*);
    static SdNotify sdNotify = nullptr;
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (!socket || !*socket)
        return;
    if (!sdNotify) {
        void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!library)
            return;
        sdNotify = reinterpret_cast<SdNotify>(::dlsym(library, "sd_notify"));
        if (!sdNotify)
            return;
    }
    sdNotify(0, message);
}

}  // namespace

void ServiceNotifier::ready(const std::string& status) {
    notify(("READY=1\nSTATUS=" + status).c_str());
}

void ServiceNotifier::reloading() {
    std::string message = "RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonicMicroseconds());
    notify(message.c_str());
}

void ServiceNotifier::stopping() {
    notify("STOPPING=1");
}

void ServiceNotifier::status(const std::string& text) {
    notify(("STATUS=" + text).c_str());
}

bool stdoutIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat st {};
    if (fstat(1, &st) != 0)
        return false;
    return static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}
