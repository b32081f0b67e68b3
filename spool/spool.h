#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mail/collected_line.h"
#include "mail/line_keeper.h"
#include "mail/mail_job.h"
#include "spool/line_entries.h"
#include "spool/reading_note.h"

class ActivityLog;

// The robot's durable memory, a folder beside the settings (<config-dir>/spool/, mode 0700):
//   lines/NNN        the request lines of a mail check, with the sender and Message-ID of
//                    their mails; lines-done names those of them that are done (LineEntries)
//   queue/NNN/       an unsent reply: the file "job" (its addresses, subject, body and try
//                    count; never an account) and the event files it owns
//   undelivered/NNN/ the event files of a reply that was given up
//   bad/             entries that could not be read, kept for the operator
//   taken            the keys (Message-ID, size, digest) of taken mails whose lines are being
//                    served before the server was seen to delete them
//   reading, stops   the mail being parsed and the runs that stopped parsing a mail
//   set-aside/       mails whose parsing stopped the robot twice, kept whole (ReadingNote)
// Every entry is written to a temporary name, synced, renamed and its folder synced, so a crash
// leaves either the whole entry or none; every removal and rename is followed by a sync of its
// folder. The lines of a check cost one file sync and one folder sync; a line done costs a mark
// in lines-done, synced once a tick (syncDoneMarks). Entries are named by a growing number, so they come back in the order they were made.
// Every write or removal that fails is an entry "Spool Error: ..." and counted in failures().
class Spool final : public LineKeeper {
  public:
    Spool(std::string configDir, ActivityLog& log);

    // Creates the folders that are missing. False, with an entry, when the spool cannot be
    // used; every other call then fails too.
    bool open();
    const std::string& dir() const { return dir_; }

    // Writes the lines (setting their spoolIds) and makes them durable. False, with an entry,
    // when they could not be written; none of them is then kept.
    bool keepLines(std::vector<CollectedLine>& lines) override;
    // The line is done: it is marked so, and its entry goes with its last line. False, with an
    // entry, when that could not be written.
    bool removeLine(const std::string& id);
    // Makes the marks of the lines done since the last call durable (once a tick).
    void syncDoneMarks();
    // The lines left by an earlier run that are not done, oldest first. Unreadable entries go
    // to bad/; a temporary file of lines that were never kept is removed; entries all of whose
    // lines are done go. A mail
    // whose lines are all among them counts as taken: its lines are kept, whether or not the
    // server deleted it.
    std::vector<CollectedLine> loadLines();
    // Whether all the lines of the mail with this key (Message-ID, size and digest) were kept,
    // by this run or the one before, and the mailbox was not seen to delete it since.
    bool wasTaken(const std::string& mailKey) override;
    std::vector<std::string> takenKeys() const override {
        return std::vector<std::string>(taken_.begin(), taken_.end());
    }
    // The mailbox deleted what it was asked to: the taken mails are forgotten.
    void mailboxCommitted() override;
    // The mail about to be parsed is noted, or set aside when parsing it stopped two runs.
    Reading startReading(std::string_view mail, const std::string& digest) override;
    void readingDone() override;

    // Keeps an unsent reply: its event files are synced and move into a folder being built
    // (queue/.N/), the job is written, and the folder takes its name (queue/N/). Returns the
    // job's id once all of it is on the disk; "" with the reason in error when it could not be
    // kept (the job and its files are then as they were, as far as they could be put back).
    std::string keepJob(MailJob& job, std::string& error);
    // Writes the job's try count again.
    bool saveJob(const std::string& id, const MailJob& job);
    // The reply was sent: its job file goes first, then the folder with its files. False,
    // with an entry, when it could not be removed.
    bool removeJob(const std::string& id);
    // The reply was given up: its files move to undelivered/, with an entry naming them.
    void keepUndelivered(const std::string& id, const MailJob& job);
    // The replies left by an earlier run, oldest first. A folder a crash left half built, or
    // half removed, is removed quietly: a job leaves the spool only after its reply was sent,
    // and its line only after the job was whole. Unreadable entries go to bad/; a job
    // file that still names an SMTP account is written again without it.
    std::vector<std::pair<std::string, MailJob>> loadJobs();

    // Removes what bad/, undelivered/ and set-aside/ hold that was last changed more than
    // keepDays days before now (calendar seconds), with an entry for each.
    void removeOldEntries(std::int64_t now, int keepDays);

    // Writes and removals that failed in this run.
    int failures() const { return failures_; }

  private:
    std::string nextId();
    void fail(const std::string& error);
    void moveToBad(const std::string& path, const std::string& name);
    std::vector<std::string> entries(const std::string& folder);
    void compactLineEntries();
    void markWholeMailsTaken(const std::vector<CollectedLine>& lines);
    void loadTaken();
    void saveTaken();

    std::string dir_;
    ActivityLog& log_;
    bool usable_ = false;
    std::uint64_t lastId_ = 0;
    std::set<std::string> taken_;
    ReadingNote readingNote_;
    LineEntries lineEntries_;
    bool takenSaved_ = false;  // the file "taken" holds taken_
    int failures_ = 0;
};

// The text of a job entry and back; false for a text that is not one. A job file of an
// earlier version may name the SMTP account: heldAccount (if given) then says so, and the
// account is not taken.
std::string jobText(const MailJob& job);
bool parseJob(const std::string& text, const std::string& folder, MailJob& job,
              bool* heldAccount = nullptr);
