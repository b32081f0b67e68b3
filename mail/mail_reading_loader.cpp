// The program's mail reading and mail digests: the module tarnwick-reading.so, loaded on the
// first mail (see prepareMailReading). Test programs link the reading code itself instead.
#include <string>

#include "mail/mail_digest.h"
#include "mail/mime_reader.h"
#include "platform/program_module.h"

namespace {

constexpr const char kModuleName[] = "tarnwick-reading.so";

using Prepare = bool (*)(std::string*);
using Read = void (*)(const MessageBuffer*, bool, MailReading*);
using Digest = void (*)(const char*, std::size_t, std::string*);

Read readEntry = nullptr;
Digest digestEntry = nullptr;

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
    auto digest = reinterpret_cast<Digest>(moduleEntry(module, "tarnwick_mail_digest", error));
    if (!prepare || !read || !digest || !prepare(&error)) {
        error = "the mail reading cannot be loaded: " + error;
        return false;
    }
    readEntry = read;
    digestEntry = digest;
    return true;
}

MailReading readMail(const MessageBuffer& message, bool asMime) {
    MailReading reading;
    std::string error;
    if (prepareMailReading(error))
        readEntry(&message, asMime, &reading);
    return reading;
}

std::string mailDigest(std::string_view bytes) {
    std::string digest, error;
    if (prepareMailReading(error))
        digestEntry(bytes.data(), bytes.size(), &digest);
    return digest;
}
