#include "app/service_notifier.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
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

}  // namespace

void ServiceNotifier::ready(const std::string& status) {
    sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
}

void ServiceNotifier::reloading() {
    std::string message = "RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonicMicroseconds());
    sd_notify(0, message.c_str());
}

void ServiceNotifier::stopping() {
    sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::status(const std::string& text) {
    sd_notify(0, ("STATUS=" + text).c_str());
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
