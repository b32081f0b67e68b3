#include "mail/imap_taken_mails.h"

#include <cstdlib>

namespace {

// The folder as one word of the key.
std::string folderWord(const std::string& folder) {
    std::string word = folder;
    for (char& c : word)
        if (c == ' ' || c == '\t')
            c = '_';
    return word;
}

struct ImapKey {
    std::string folder;
    std::uint32_t uidValidity = 0;
    std::uint32_t uid = 0;
    std::string content;
};

bool readImapKey(const std::string& key, ImapKey& out) {
    if (key.compare(0, 5, "imap ") != 0)
        return false;
    std::size_t folderEnd = key.find(' ', 5);
    if (folderEnd == std::string::npos)
        return false;
    out.folder = key.substr(5, folderEnd - 5);
    const char* at = key.c_str() + folderEnd + 1;
    char* end = nullptr;
    out.uidValidity = static_cast<std::uint32_t>(std::strtoul(at, &end, 10));
    if (*end != '/')
        return false;
    out.uid = static_cast<std::uint32_t>(std::strtoul(end + 1, &end, 10));
    if (*end != ' ')
        return false;
    out.content = end + 1;
    return true;
}

}  // namespace

std::string imapKeyPrefix(const std::string& folder, std::uint32_t uidValidity, std::uint32_t uid) {
    return "imap " + folderWord(folder) + " " + std::to_string(uidValidity) + "/" +
           std::to_string(uid) + " ";
}

ImapTakenMails::ImapTakenMails(LineKeeper& spool, const std::string& folder,
                               std::uint32_t uidValidity)
    : spool_(spool) {
    for (const std::string& key : spool.takenKeys()) {
        ImapKey taken;
        if (!readImapKey(key, taken) || taken.folder != folderWord(folder))
            continue;
        if (taken.uidValidity == uidValidity)
            uids_.insert(taken.uid);
        else if (taken.content != "-")
            oldContents_.insert(taken.content);
    }
}

bool ImapTakenMails::wasTaken(const std::string& mailKey) {
    if (spool_.wasTaken(mailKey))
        return true;
    ImapKey key;
    return readImapKey(mailKey, key) && oldContents_.count(key.content) != 0;
}
