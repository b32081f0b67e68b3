#pragma once

#include <string>
#include <string_view>
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
    // The keys of the mails wasTaken knows.
    virtual std::vector<std::string> takenKeys() const { return {}; }
    // The server answered QUIT after a session that read every message: the messages it
    // deleted are gone, and no kept mail can come back.
    virtual void mailboxCommitted() {}

    // What to do with a mail before it is parsed.
    enum class Reading {
        kParse,     // parse it; the keeper notes which mail is being read until readingDone
        kSetAside,  // parsing it stopped the robot twice: its bytes are kept aside, delete it
        kLeave,     // as kSetAside, but its bytes could not be kept: leave it on the server
    };
    // Called with the bytes of each mail and their mailDigest before it is parsed, so that a
    // run that stops while parsing it is known to the runs after it.
    virtual Reading startReading(std::string_view /*mail*/, const std::string& /*digest*/) {
        return Reading::kParse;
    }
    // The mail named by startReading was parsed to its end.
    virtual void readingDone() {}
};
