#include "mail/mail_error.h"

#include <cstdarg>
#include <cstdio>

void setMailError(std::string& error, const char* format, ...) {
    char text[kMaxMailErrorChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    error = text;
}
