#pragma once

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
};
