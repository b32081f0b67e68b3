// The module tarnwick-reading.so: the mail reading, with GMime, libxml2 and libytnef, loaded by
// the program on first use (mail_reading_loader.cpp). Its code is built with hidden visibility,
// so its calls stay inside it; what it uses of the core comes from the program.
#include "mail/mail_digest.h"
#include "mail/mime_reader.h"

extern "C" __attribute__((visibility("default"))) bool tarnwick_prepare_mail_reading(
    std::string* error) {
    return prepareMailReading(*error);
}

extern "C" __attribute__((visibility("default"))) void tarnwick_read_mail(
    const MessageBuffer* buffer, bool asMime, MailReading* out) {
    *out = readMail(*buffer, asMime);
}

extern "C" __attribute__((visibility("default"))) void tarnwick_mail_digest(
    const char* data, std::size_t size, std::string* out) {
    *out = mailDigest(std::string_view(data, size));
}

// See tarnwick_mail_reading in CMakeLists.txt.
extern "C" const int tarnwick_mail_reading_linked = 1;
