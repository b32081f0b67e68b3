#include "activity/activity_log.h"

#include <algorithm>
#include <cstdarg>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/clock.h"

namespace {

// The text with every control character (below 0x20 but the tab, and 0x7f) written as "\xNN".
std::string escapeControls(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

ActivityLog::ActivityLog(Clock& clock, std::string logFilePath)
    : clock_(clock), logFilePath_(std::move(logFilePath)) {}

void ActivityLog::logMsg(bool toFile, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log(toFile ? LogPriority::kFailure : LogPriority::kInfo, format, args);
    va_end(args);
}

void ActivityLog::logNotice(const char* format, ...) {
    va_list args;
    va_start(args, format);
    log(LogPriority::kNotice, format, args);
    va_end(args);
}

void ActivityLog::logWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    log(LogPriority::kWarning, format, args);
    va_end(args);
}

void ActivityLog::log(LogPriority priority, const char* format, va_list args) {
    // The whole text is masked before it is cut, so no part of a secret stays at the cut.
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    // A requester's text may hold terminal controls: they are shown, never obeyed.
    std::string masked = secrets_.apply(std::move(text));
    masked.resize(std::min(masked.size(), maxEntryChars));
    std::string shown = escapeControls(masked).substr(0, maxEntryChars);
    if (priority != LogPriority::kInfo)
        writeLogFile(shown);
    addToList(shown, priority);
}

void ActivityLog::addToList(const std::string& text, LogPriority priority) {
    LocalTime t = clock_.localTime();
    char line[maxEntryChars + 1];
    std::snprintf(line, sizeof line, "%02d/%02d %02d:%02d:%02d %s", t.month, t.day, t.hour,
                  t.minute, t.second, text.c_str());
    if (list_.size() >= maxEntries) {
        list_.pop_front();
        if (view_)
            view_->oldestRemoved();
    }
    list_.emplace_back(line);
    if (view_)
        view_->entryLogged(list_.back(), priority);
}

void ActivityLog::writeLogFile(const std::string& text) {
    if (logFilePath_.empty())
        return;
    LocalTime t = clock_.localTime();
    // A link at the name is never followed, nor a FIFO waited on.
    int fd = ::open(logFilePath_.c_str(),
                    O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                        (firstWrite_ ? O_TRUNC : O_APPEND),
                    0644);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, firstWrite_ ? "w" : "a");
    if (!f) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    firstWrite_ = false;
    std::fprintf(f, "%02d/%02d/%02d %02d:%02d:%02d %s\n", t.month, t.day, t.year % 100, t.hour,
                 t.minute, t.second, text.c_str());
    std::fclose(f);
}
