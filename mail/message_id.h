#pragma once

#include <cstdint>
#include <string>

// A new Message-ID for an outgoing mail, "<unique@domain>", unique across replies and runs:
// the time, the process, a count within the process and a random number. The domain is that
// of the sender's address (the text between "<" and ">", or the whole text when it has no
// brackets); this host's name when the sender has none.
std::string newMessageId(const std::string& from, std::int64_t now);
