#pragma once

#include <string>

#include "mail/server_address.h"

// An IMAP mailbox as the POP server setting names it: "imaps://host[:port][/folder]" (TLS from
// the first byte, port 993), "imap+starttls://host[:port][/folder]" (port 143, STARTTLS
// required) or "imap://host[:port][/folder]" (port 143, plain, only when written so). The
// folder is INBOX when none is named.
struct ImapAddress {
    ServerAddress server;
    std::string folder = "INBOX";
};

// True when the setting names an IMAP mailbox (one of the three schemes, in any letter case).
bool isImapSetting(const std::string& setting);

// Reads an IMAP setting; false when it is none, or names no host.
bool parseImapSetting(const std::string& setting, ImapAddress& out);
