#pragma once

#include <string>
#include <string_view>

// The SHA-256 of a mail's bytes in 64 lower-case hexadecimal digits: what tells one mail from
// another across runs (the spool's note of the mail being parsed, a taken mail's key).
std::string mailDigest(std::string_view bytes);
