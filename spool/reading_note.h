#pragma once

#include <map>
#include <string>
#include <string_view>

#include "mail/line_keeper.h"

class ActivityLog;

// Remembers which mail is being parsed, so that a mail whose parsing stops the robot (a crash,
// the memory running out) cannot stop it on every run. Before a mail is parsed its digest
// (SHA-256 of its bytes) is written in place into the spool's file "reading" (kept open, not
// synced: it must outlive a stop of the program, not a power cut); once parsed, a record
// without a digest takes its place, and the file goes at the end of the run. A run that finds the file at its start knows that the run before stopped while parsing
// that mail, and counts it in "stops". A mail that stopped two runs is not parsed again: its
// bytes are copied whole into set-aside/<digest>.eml and the server may delete it.
class ReadingNote {
  public:
    // spoolDir ends in '/'.
    ReadingNote(std::string spoolDir, ActivityLog& log);
    ~ReadingNote();
    ReadingNote(const ReadingNote&) = delete;
    ReadingNote& operator=(const ReadingNote&) = delete;

    // Takes up the note an earlier run left: a mail it was reading counts one stop more.
    void open();

    // Notes the mail, known by its mailDigest, before it is parsed, or sets it aside.
    LineKeeper::Reading start(std::string_view mail, const std::string& digest);
    // The mail was parsed to its end: its note and its stops go.
    void done();

    // How many runs stopped while parsing the mail with this digest.
    int stopsOf(const std::string& digest) const;

  private:
    bool setAside(std::string_view mail, const std::string& digest);
    bool writeRecord(const std::string& digest);
    void saveStops();

    std::string dir_;
    ActivityLog& log_;
    std::map<std::string, int> stops_;
    std::string reading_;  // the digest of the mail being parsed; "" when none
    int fd_ = -1;          // the file "reading", open once a mail was noted
};
