// The program's mail reading: the module tarnwick-reading.so, loaded on the first mail (see
// prepareMailReading). Test programs link the reading code itself instead.
#include <string>

#include "mail/mime_reader.h"
#include "platform/program_module.h"

namespace {

constexpr const char kModuleName[] = "tarnwick-reading.so";

using Prepare = bool (*)(std::string*);
using Read = void (*)(const MessageBuffer*, bool, MailReading*);

Read readEntry = nullptr;

}  // namespace

bool prepareMailReading(std::string& error) {
    if (readEntry)
        return true;
    void* module = loadProgramModule(kModuleName, error);
    if (!module) {
        error = "the mail reading cannot be loaded: " + error;
        return false;
    }
    auto prepare = reinterpret_cast<Prepare>(moduleEntry(module, "tarnwick_prepare_mail_reading", error));
    auto read = reinterpret_cast<Read>(moduleEntry(module, "tarnwick_read_mail", error));
    if (!prepare || !read || !prepare(&error)) {
        error = "the mail reading cannot be loaded: " + error;
        return false;
    }
    readEntry = read;
    return true;
}

MailReading readMail(const MessageBuffer& message, bool asMime) {
    MailReading reading;
    std::string error;
    if (prepareMailReading(error))
        readEntry(&message, asMime, &reading);
    return reading;
}
