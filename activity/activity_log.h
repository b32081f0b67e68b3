#pragma once

#include <cstdarg>
#include <deque>
#include <string>

#include "activity/secret_mask.h"

class Clock;

// How much an entry matters to whatever sorts entries by priority (the journal). Entries of
// the log file are failures, warnings of a state the operator must mend though nothing failed
// (mail checking left off), or notices when they report no failure (the start of a run, work
// taken up again, a mail deliberately left unanswered); the rest are information.
enum class LogPriority { kInfo, kNotice, kWarning, kFailure };

// Whatever shows the activity list: the window's list box, or stdout when headless.
class LogView {
public:
    virtual ~LogView() = default;
    // The oldest entry left the list (it held 1000).
    virtual void oldestRemoved() = 0;
    // A list line was added at the end; it becomes the selected entry.
    virtual void entryAdded(const std::string& listLine) = 0;
    // The same with the entry's priority; a view that does not sort by it keeps this default.
    virtual void entryLogged(const std::string& listLine, LogPriority) { entryAdded(listLine); }
};

// The one channel through which the robot reports what it does: every entry reaches the list,
// entries marked for the file are also appended to "tarnwick.log". The file holds one run:
// the first successful write of the run empties it.
class ActivityLog {
public:
    static constexpr std::size_t maxEntries = 1000;
    static constexpr std::size_t maxEntryChars = 511;

    // logFilePath may be empty: nothing then goes to a file.
    ActivityLog(Clock& clock, std::string logFilePath);

    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // The view is told of every later change; nullptr detaches it.
    void setView(LogView* view) { view_ = view; }

    // From now on these secrets are masked in every entry too (the list, the file, the view).
    void addSecrets(const SecretMask& secrets) { secrets_.add(secrets); }
    // Every secret masked so far, for whatever else shows the robot's texts.
    const SecretMask& secrets() const { return secrets_; }

    // Formats one entry (cut to 511 characters), appends it to the log file when toFile is
    // set, and adds "MM/DD HH:MM:SS text" to the list, dropping the oldest of 1000.
    void logMsg(bool toFile, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // An entry for the log file and the list, as logMsg(true, ...), that reports no failure.
    void logNotice(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The same for a state the operator must mend, though nothing failed.
    void logWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends "MM/DD/YY HH:MM:SS text" to the log file, opened and closed for this entry.
    // A file that cannot be opened loses the entry silently.
    void writeLogFile(const std::string& text);

    // The list lines, oldest first; the last one is the selected entry.
    const std::deque<std::string>& entries() const { return list_; }

private:
    void log(LogPriority priority, const char* format, va_list args);
    void addToList(const std::string& text, LogPriority priority);

    Clock& clock_;
    std::string logFilePath_;
    bool firstWrite_ = true;
    std::deque<std::string> list_;
    LogView* view_ = nullptr;
    SecretMask secrets_;
};

inline constexpr const char* kLogFileName = "tarnwick.log";
