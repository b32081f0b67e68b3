#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mail/collected_line.h"

// The request lines in the spool's lines/ folder. The lines of a mail check are one entry
// (lines/NNN, several when they are many), each written to a temporary name, synced and renamed,
// and the folder synced once after the last: one file sync and one folder sync a check. A line's
// spoolId is "NNN/k", its entry and its place there. A line that is done is noted in the done-log
// (spool/lines-done, appended and synced at most once a tick by syncMarks); the entry goes when
// its last line is done, and the done-log when no entry is left. A crash thus keeps every line
// that is not done, and a power cut may bring back lines done since the last sync, never lose one.
// Entries of the earlier layout (one line a file, named NNN) are read too; such a line's spoolId
// is its file's name, and its file goes when it is done.
class LineEntries {
  public:
    explicit LineEntries(std::string spoolDir);
    ~LineEntries();
    LineEntries(const LineEntries&) = delete;
    LineEntries& operator=(const LineEntries&) = delete;

    // Reads the done-log an earlier run left. Returns the highest entry number it names: new
    // entries are numbered past it, so a mark never names a later entry.
    std::uint64_t readDoneLog();

    // Writes the lines not yet kept into entries named by nextId and sets their spoolIds. False
    // with the reason when they could not all be kept; none of them is then kept.
    bool keep(std::vector<CollectedLine>& lines, const std::function<std::string()>& nextId,
              std::string& error);
    // The line is done. False with the reason when that could not be written.
    bool markDone(const std::string& spoolId, std::string& error);
    // Syncs the marks written since the last call.
    bool syncMarks(std::string& error);

    struct Loaded {
        std::vector<CollectedLine> all;      // every line of every readable entry, oldest first
        std::vector<bool> done;              // which of them are done
        std::vector<std::string> unreadable; // names in lines/ that are no entry
        std::vector<std::string> errors;     // temporary files that could not be removed
    };
    Loaded load();
    // Whether load found an entry all of whose lines are done.
    bool anyEntryFinished() const;
    // Removes the entries all of whose lines are done, and writes the done-log again with the
    // marks of the entries left only. False with the reason when a removal or write failed.
    bool compact(std::string& error);

  private:
    struct Entry {
        int lines = 0;
        std::set<int> done;
    };
    bool appendMark(const std::string& spoolId, std::string& error);
    bool removeEntry(const std::string& name, std::string& error);
    void dropDoneLog();

    std::string dir_;  // the spool's folder, ending in '/'
    std::map<std::string, Entry> entries_;                  // entries of this layout not all done
    std::map<std::string, std::set<int>> marksRead_;        // from the done-log at the start
    int doneFd_ = -1;
    bool marksUnsynced_ = false;
    bool logCreated_ = false;  // its name is not yet synced into the folder
};
