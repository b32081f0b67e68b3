#pragma once

#include <string>
#include <vector>

#include "mail/collected_line.h"

// Keeps the request lines of a mail check where a crash cannot take them, before the POP3
// session lets the server delete their messages.
class LineKeeper {
public:
    virtual ~LineKeeper() = default;
    // Returns false when the lines could not be kept: the session then ends without QUIT, so
    // the messages stay on the server.
    virtual bool keepLines(std::vector<CollectedLine>& lines) = 0;
    // True when the lines of the mail with this key (CollectedLine::mailKey: its Message-ID,
    // size and digest) were kept by a session that was not seen to end: the mail may still be
    // on the server, and its lines are not taken again.
    virtual bool wasTaken(const std::string& /*mailKey*/) { return false; }
    // The server answered QUIT after a session that read every message: the messages it
    // deleted are gone, and no kept mail can come back.
    virtual void mailboxCommitted() {}
};
