#include "mail/tnef_text.h"

#include <glib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <ytnef.h>
}

namespace {

constexpr unsigned kBodyId = 0x1000;      // PR_BODY
constexpr unsigned kHtmlBodyId = 0x1013;  // PR_BODY_HTML
constexpr unsigned kString8 = 0x001E;
constexpr unsigned kUnicode = 0x001F;
constexpr unsigned kBinary = 0x0102;

// The parsed structure, freed however the parse ended.
class Tnef {
  public:
    Tnef() {
        TNEFInitialize(&tnef_);
        tnef_.Debug = 0;  // left unset by the library: it would print what it reads
    }
    ~Tnef() { TNEFFree(&tnef_); }
    Tnef(const Tnef&) = delete;
    Tnef& operator=(const Tnef&) = delete;
    TNEFStruct* get() { return &tnef_; }

  private:
    TNEFStruct tnef_;
};

// An 8-bit string without the NUL bytes that end it.
std::string eightBit(const variableLength* value) {
    std::string text(reinterpret_cast<const char*>(value->data),
                     static_cast<std::size_t>(value->size));
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::string fromUtf16(const variableLength* value) {
    glong units = value->size / 2;
    std::vector<gunichar2> utf16(static_cast<std::size_t>(units));
    std::memcpy(utf16.data(), value->data, static_cast<std::size_t>(units) * 2);
    while (!utf16.empty() && utf16.back() == 0) utf16.pop_back();
    gchar* utf8 =
        g_utf16_to_utf8(utf16.data(), static_cast<glong>(utf16.size()), nullptr, nullptr, nullptr);
    std::string text = utf8 ? utf8 : "";
    g_free(utf8);
    return text;
}

// Whether every attribute of the stream (after the signature and key: a level byte, the
// attribute's id and size, its data and a checksum) lies within the bytes. The parser takes each
// size as it is written and allocates it before reading, so a size beyond the input is never
// handed to it.
bool attributesFit(std::string_view data) {
    constexpr std::size_t kStart = 6;   // signature and key
    constexpr std::size_t kHeader = 9;  // level, id, size
    constexpr std::size_t kChecksum = 2;
    std::size_t at = kStart;
    while (at < data.size()) {
        if (data.size() - at < kHeader)
            return false;
        std::uint32_t size = 0;  // little-endian, as written
        for (int i = 3; i >= 0; --i)
            size =
                size << 8 | static_cast<unsigned char>(data[at + 5 + static_cast<std::size_t>(i)]);
        at += kHeader;
        if (size > data.size() - at || data.size() - at - size < kChecksum)
            return false;
        at += size + kChecksum;
    }
    return true;
}

bool found(const variableLength* value) {
    return value && value != MAPI_UNDEFINED && value->data && value->size > 0;
}

}  // namespace

bool tnefBodyText(std::string_view data, std::string& text, bool& html) {
    // Only what begins with TNEF's signature goes to the parser, which prints what it dislikes.
    constexpr std::string_view kSignature("\x78\x9f\x3e\x22", 4);
    if (!data.starts_with(kSignature) || data.size() > static_cast<std::size_t>(LONG_MAX) ||
        !attributesFit(data))
        return false;
    std::vector<BYTE> bytes(data.begin(), data.end());  // the parser takes a writable pointer
    Tnef tnef;
    if (TNEFParseMemory(bytes.data(), static_cast<long>(bytes.size()), tnef.get()) != 0)
        return false;
    html = false;
    if (found(&tnef.get()->body)) {
        text = eightBit(&tnef.get()->body);
        return true;
    }
    MAPIProps* props = &tnef.get()->MapiProperties;
    if (const variableLength* body = MAPIFindProperty(props, PROP_TAG(kUnicode, kBodyId));
        found(body)) {
        text = fromUtf16(body);
        return true;
    }
    if (const variableLength* body = MAPIFindProperty(props, PROP_TAG(kString8, kBodyId));
        found(body)) {
        text = eightBit(body);
        return true;
    }
    for (unsigned type : {kBinary, kString8}) {
        if (const variableLength* body = MAPIFindProperty(props, PROP_TAG(type, kHtmlBodyId));
            found(body)) {
            text = eightBit(body);
            html = true;
            return true;
        }
    }
    return false;
}
