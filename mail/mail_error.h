#pragma once

#include <cstddef>
#include <string>

// The longest text a mail dialogue leaves for its caller: texts that embed a server name, a
// path or a recipient are cut to it.
inline constexpr std::size_t kMaxMailErrorChars = 255;

// Replaces error with the formatted text, cut to kMaxMailErrorChars characters.
void setMailError(std::string& error, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
