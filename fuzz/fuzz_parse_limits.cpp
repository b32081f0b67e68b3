// The limits that hold before GMime and libxml2 build a tree (parse_limits), and the memory the
// mail reader takes whatever the shape of a mail.
//
// Input: records cut at 0x1e: [0] the head of a mail, [1] a unit, [2] a number of repetitions
// (decimal), [3] the tail. The mail is the head, the unit repeated (up to 512 KiB in all), and the
// tail, so that a short input can describe a mail of a million tiny parts, header lines or HTML
// elements.
//
// Oracle:
// - memory: while readMail (as MIME and as a plain mail) and htmlToText read the mail, the heap
//   in use never grows by more than 64 MiB plus four times the mail's size (counted through the
//   sanitizer's malloc hooks); scripts/fuzz.sh also runs the target with -rss_limit_mb and
//   -malloc_limit_mb (fuzz/options/fuzz_parse_limits);
// - readableMail and readableHtml give a length within the text, at the start of a line for a
//   mail; a cut names a limit and the part before it is read whole again (nothing passes a
//   limit within it); a text that is read whole has no cut; a plain mail's length ends its
//   header block;
// - a mail cut short by readMail names its limit, and a mail within the limits is not cut.

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "mail/html_text.h"
#include "mail/mime_reader.h"
#include "mail/parse_limits.h"

namespace {

constexpr std::size_t kMaxMailBytes = 512 << 10;

// The heap in use while a reading runs, and its peak.
struct HeapWatch {
    bool on = false;
    long long inUse = 0;
    long long peak = 0;
};
HeapWatch watch;

void onMalloc(const volatile void*, std::size_t size) {
    if (!watch.on)
        return;
    watch.inUse += static_cast<long long>(size);
    watch.peak = std::max(watch.peak, watch.inUse);
}

void onFree(const volatile void* pointer) {
    if (watch.on && pointer)
        watch.inUse -= static_cast<long long>(
            __sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
}

// Runs the reading and checks that it kept to 64 MiB plus four times the mail's size.
template <typename Reading>
void withinMemory(const char* what, std::size_t mailBytes, Reading reading) {
    watch = HeapWatch{true, 0, 0};
    reading();
    watch.on = false;
    long long bound = (64LL << 20) + 4LL * static_cast<long long>(mailBytes);
    FUZZ_CHECK(watch.peak <= bound, std::string(what) + " took " + std::to_string(watch.peak) +
                                        " bytes of heap for a mail of " +
                                        std::to_string(mailBytes));
}

std::string mailOf(const std::vector<std::string>& records) {
    auto record = [&](std::size_t i) { return i < records.size() ? records[i] : std::string(); };
    std::string head = record(0), unit = record(1), tail = record(3);
    long long times = std::min<long long>(std::max(0, fuzz::referenceAtoi(record(2))), 10000000);
    std::size_t room = kMaxMailBytes - std::min(kMaxMailBytes, head.size() + tail.size());
    if (!unit.empty())
        times = std::min<long long>(times, static_cast<long long>(room / unit.size()));
    std::string mail = head;
    mail.reserve(head.size() + unit.size() * static_cast<std::size_t>(times) + tail.size());
    for (long long i = 0; i < times; ++i) mail += unit;
    return mail + tail;
}

void checkReadable(std::string_view text, const ReadableLength& readable, bool mail,
                   bool asMime) {
    FUZZ_CHECK(readable.length <= text.size(), "a length beyond the text");
    if (mail)
        FUZZ_CHECK(readable.length == 0 || text[readable.length - 1] == '\n' ||
                       readable.length == text.size(),
                   "a mail cut inside a line");
    if (readable.cut.empty()) {
        if (!mail || asMime)
            FUZZ_CHECK(readable.length == text.size(), "cut without a reason");
        return;
    }
    FUZZ_CHECK(readable.cut.rfind("more than ", 0) == 0, "cut for " + readable.cut);
    std::string_view before = text.substr(0, readable.length);
    ReadableLength again = mail ? readableMail(before, asMime) : readableHtml(before);
    FUZZ_CHECK(again.cut.empty() && again.length == before.size(),
               "the part before the cut (" + readable.cut + ") is cut again: " + again.cut);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string mail = mailOf(
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size)));

    ReadableLength asMime = readableMail(mail, true);
    checkReadable(mail, asMime, true, true);
    ReadableLength plain = readableMail(mail, false);
    checkReadable(mail, plain, true, false);
    FUZZ_CHECK(plain.length <= asMime.length || !asMime.cut.empty(),
               "a plain mail read beyond its MIME reading");
    checkReadable(mail, readableHtml(mail), false, false);

    // The buffer as the POP3 reader fills it: lines without their line feed, then "\n".
    MessageBuffer buffer;
    for (std::string_view rest = mail; !rest.empty();) {
        std::size_t lf = rest.find('\n');
        buffer.appendLine(rest.substr(0, lf));
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    }
    MailReading reading;
    withinMemory("readMail as MIME", buffer.size(), [&] { reading = readMail(buffer, true); });
    fuzz::note(std::to_string(mail.size()) + " bytes, " +
               std::to_string(reading.requestLines.size()) + " lines, cut: " + reading.cut);
    if (!asMime.cut.empty())
        FUZZ_CHECK(reading.cut == asMime.cut, "readMail cut for " + reading.cut + ", not " +
                                                  asMime.cut);
    withinMemory("readMail as a plain mail", buffer.size(),
                 [&] { reading = readMail(buffer, false); });
    withinMemory("htmlToText", mail.size(), [&] {
        std::string text = htmlToText(mail);
        fuzz::note(std::to_string(text.size()) + " bytes of HTML text");
    });
    return 0;
}
