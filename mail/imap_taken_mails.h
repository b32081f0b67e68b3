#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "mail/line_keeper.h"

// How the spool knows a mail taken from an IMAP folder: "imap FOLDER UIDVALIDITY/UID " and
// then its Message-ID, size and digest ("-" without a Message-ID). A mail whose lines were kept
// but that was not moved out of the folder (a stop came between) is known by its UID and not
// fetched again; after the folder's UIDVALIDITY changed, by its Message-ID and content.
std::string imapKeyPrefix(const std::string& folder, std::uint32_t uidValidity, std::uint32_t uid);

// The spool as one IMAP session sees it: everything passes on to the spool, and a mail counts as
// taken when its UID was taken in this UIDVALIDITY, or its content in an earlier one.
class ImapTakenMails final : public LineKeeper {
  public:
    ImapTakenMails(LineKeeper& spool, const std::string& folder, std::uint32_t uidValidity);

    // Whether the mail of this UID had its lines kept and is still to be moved out.
    bool uidTaken(std::uint32_t uid) const { return uids_.count(uid) != 0; }
    // True when the spool knows mails of the folder under another UIDVALIDITY.
    bool validityChanged() const { return !oldContents_.empty(); }

    bool keepLines(std::vector<CollectedLine>& lines) override { return spool_.keepLines(lines); }
    bool wasTaken(const std::string& mailKey) override;
    void mailboxCommitted() override { spool_.mailboxCommitted(); }
    Reading startReading(std::string_view mail, const std::string& digest) override {
        return spool_.startReading(mail, digest);
    }
    void readingDone() override { spool_.readingDone(); }
    std::vector<std::string> takenKeys() const override { return spool_.takenKeys(); }

  private:
    LineKeeper& spool_;
    std::set<std::uint32_t> uids_;
    std::set<std::string> oldContents_;  // Message-ID, size, digest of the older UIDVALIDITY
};
