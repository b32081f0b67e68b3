// The settings file, tarnwick.ini: any bytes are loaded, saved and loaded again.
//
// Oracle:
// - every text of the record stays within its capacity (a zero within its array);
// - each value is what the file's last line with that key says, as a reference reading
//   written here from the documented rules gives it (whole lines, the line end cut, the key
//   upper-cased, the value after the first '=', cut at a zero byte; a value longer than its
//   field, or not one of an optional key's words, not taken; the passwords and the client
//   secret decoded from hexadecimal pairs; the numbers read as atoi reads them);
// - the saved file has the 17 "Key=value" lines in their order, then only optional keys, and
//   is readable by its owner only;
// - loading the saved file gives the same record (round trip), and saving that again gives the
//   same bytes.

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "settings/mailer_settings.h"
#include "settings/optional_keys.h"

namespace {

template <std::size_t N>
void checkCapacity(const FixedText<N>& text, const char* field) {
    FUZZ_CHECK(std::memchr(text.c_str(), '\0', N) != nullptr,
               std::string(field) + " runs over its array");
    FUZZ_CHECK(text.size() <= FixedText<N>::capacity, std::string(field) + " over capacity");
}

void checkCapacities(const MailerSettings& s) {
    checkCapacity(s.popServer, "popServer");
    checkCapacity(s.popUser, "popUser");
    checkCapacity(s.popPassword, "popPassword");
    checkCapacity(s.smtpServer, "smtpServer");
    checkCapacity(s.tempDir, "tempDir");
    checkCapacity(s.mornakDir, "mornakDir");
    checkCapacity(s.mornakReq, "mornakReq");
    checkCapacity(s.mornak2Dir, "mornak2Dir");
    checkCapacity(s.mornak2Req, "mornak2Req");
    checkCapacity(s.fromUser, "fromUser");
    checkCapacity(s.smtpUser, "smtpUser");
    checkCapacity(s.smtpPassword, "smtpPassword");
    checkCapacity(s.stationName, "stationName");
}

// The texts and numbers of the record that the file holds, in the file's order.
struct Fields {
    std::string text[16];
    char mapDrive = 0;
};

constexpr const char* kKeys[17] = {"StationName", "PopEnable",  "PopServer",  "PopUser",
                                   "PopKeyStr",   "PopCheckTime", "SmtpServer", "SmtpAuth",
                                   "SmtpUser",    "SmtpKeyStr", "FromUser",   "TempDir",
                                   "MapDrive",    "MornakDir",  "MornakReq",  "Mornak2Dir",
                                   "Mornak2Req"};

std::string describe(const MailerSettings& s) {
    return "StationName=" + fuzz::visible(s.stationName.view()) +
           " PopEnable=" + std::to_string(s.popEnable) +
           " PopServer=" + fuzz::visible(s.popServer.view()) +
           " PopUser=" + fuzz::visible(s.popUser.view()) +
           " PopPassword=" + fuzz::visible(s.popPassword.view()) +
           " PopCheckTime=" + std::to_string(s.popCheckTime) +
           " SmtpServer=" + fuzz::visible(s.smtpServer.view()) +
           " SmtpAuth=" + std::to_string(s.smtpAuth) +
           " SmtpUser=" + fuzz::visible(s.smtpUser.view()) +
           " SmtpPassword=" + fuzz::visible(s.smtpPassword.view()) +
           " FromUser=" + fuzz::visible(s.fromUser.view()) +
           " TempDir=" + fuzz::visible(s.tempDir.view()) +
           " MapDrive=" + std::to_string(static_cast<unsigned char>(s.mapDrive)) +
           " MornakDir=" + fuzz::visible(s.mornakDir.view()) +
           " MornakReq=" + fuzz::visible(s.mornakReq.view()) +
           " Mornak2Dir=" + fuzz::visible(s.mornak2Dir.view()) +
           " Mornak2Req=" + fuzz::visible(s.mornak2Req.view()) + optionalKeyLines(s);
}

bool sameRecord(const MailerSettings& a, const MailerSettings& b) {
    return a.stationName == b.stationName && a.popEnable == b.popEnable &&
           a.popServer == b.popServer && a.popUser == b.popUser &&
           a.popPassword == b.popPassword && a.popCheckTime == b.popCheckTime &&
           a.smtpServer == b.smtpServer && a.smtpAuth == b.smtpAuth &&
           a.smtpUser == b.smtpUser && a.smtpPassword == b.smtpPassword &&
           a.fromUser == b.fromUser && a.tempDir == b.tempDir && a.mapDrive == b.mapDrive &&
           a.mornakDir == b.mornakDir && a.mornakReq == b.mornakReq &&
           a.mornak2Dir == b.mornak2Dir && a.mornak2Req == b.mornak2Req &&
           optionalKeyLines(a) == optionalKeyLines(b);
}

// ---- the reference reading -----------------------------------------------------------------

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string referenceHexDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        int high = hexValue(text[i]);
        if (high < 0)
            continue;
        int low = hexValue(text[i + 1]);
        out += static_cast<char>(low < 0 ? high : high * 16 + low);
    }
    return out;
}

bool sameKey(std::string_view key, const char* name) {
    if (key.size() != std::strlen(name))
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char a = key[i], b = name[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

template <std::size_t N>
void takeText(FixedText<N>& field, std::string_view value) {
    value = value.substr(0, value.find('\0'));
    if (value.size() <= FixedText<N>::capacity)
        field = value;
}

bool isWord(std::string_view value, std::string_view words) {
    while (true) {
        std::size_t bar = words.find('|');
        if (sameKey(value, std::string(words.substr(0, bar)).c_str()))
            return true;
        if (bar == std::string_view::npos)
            return false;
        words.remove_prefix(bar + 1);
    }
}

void takeOptional(MailerSettings& s, std::string_view key, std::string_view value) {
    for (const OptionalKey& optional : kOptionalKeys) {
        if (!sameKey(key, optional.name))
            continue;
        std::string text = optional.hex ? referenceHexDecode(value) : std::string(value);
        if (!optional.words || text.empty() || isWord(text, optional.words))
            s.*optional.field = text;
    }
}

// The record the file gives when read from the defaults of resetSettings.
MailerSettings referenceLoad(std::string_view file) {
    MailerSettings s;
    resetSettings(s);
    while (!file.empty()) {
        // One whole line, up to and including a line feed.
        std::size_t n = file.find('\n');
        n = n == std::string_view::npos ? file.size() : n + 1;
        std::string_view piece = file.substr(0, n);
        file.remove_prefix(n);
        piece = piece.substr(0, piece.find('\0'));
        piece = piece.substr(0, piece.find('\n'));
        piece = piece.substr(0, piece.find('\r'));
        std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = piece.substr(0, eq), value = piece.substr(eq + 1);
        if (sameKey(key, "StationName"))
            takeText(s.stationName, value);
        else if (sameKey(key, "PopEnable"))
            s.popEnable = fuzz::referenceAtoi(value);
        else if (sameKey(key, "PopServer"))
            takeText(s.popServer, value);
        else if (sameKey(key, "PopUser"))
            takeText(s.popUser, value);
        else if (sameKey(key, "PopKeyStr"))
            takeText(s.popPassword, referenceHexDecode(value));
        else if (sameKey(key, "PopCheckTime"))
            s.popCheckTime = fuzz::referenceAtoi(value);
        else if (sameKey(key, "SmtpServer"))
            takeText(s.smtpServer, value);
        else if (sameKey(key, "SmtpAuth"))
            s.smtpAuth = fuzz::referenceAtoi(value);
        else if (sameKey(key, "SmtpUser"))
            takeText(s.smtpUser, value);
        else if (sameKey(key, "SmtpKeyStr"))
            takeText(s.smtpPassword, referenceHexDecode(value));
        else if (sameKey(key, "FromUser"))
            takeText(s.fromUser, value);
        else if (sameKey(key, "TempDir"))
            takeText(s.tempDir, value);
        else if (sameKey(key, "MapDrive"))
            s.mapDrive = value.empty() ? '\0' : value[0];
        else if (sameKey(key, "MornakDir"))
            takeText(s.mornakDir, value);
        else if (sameKey(key, "MornakReq"))
            takeText(s.mornakReq, value);
        else if (sameKey(key, "Mornak2Dir"))
            takeText(s.mornak2Dir, value);
        else if (sameKey(key, "Mornak2Req"))
            takeText(s.mornak2Req, value);
        else
            takeOptional(s, key, value);
    }
    return s;
}

void checkSavedForm(const std::string& saved, const std::string& path) {
    std::vector<std::string> lines = fuzz::splitLines(saved);
    FUZZ_CHECK(!saved.empty() && saved.back() == '\n' && lines.size() >= 17,
               "the saved file is not 17 lines and more: " + fuzz::visible(saved));
    for (int i = 0; i < 17; ++i) {
        std::string prefix = std::string(kKeys[i]) + "=";
        FUZZ_CHECK(lines[i].compare(0, prefix.size(), prefix) == 0,
                   "line " + std::to_string(i + 1) + " is " + fuzz::visible(lines[i]));
    }
    for (std::size_t i = 17; i < lines.size(); ++i) {
        bool optional = false;
        for (const OptionalKey& key : kOptionalKeys)
            optional = optional || lines[i].rfind(std::string(key.name) + "=", 0) == 0;
        FUZZ_CHECK(optional, "line " + std::to_string(i + 1) + " is " + fuzz::visible(lines[i]));
    }
    struct stat st {};
    FUZZ_CHECK(::stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600,
               "the saved file is not readable by its owner only");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    fuzz::ScratchDir dir;
    const std::string path = dir.file("tarnwick.ini");
    fuzz::writeBytes(path, input);

    MailerSettings loaded;
    resetSettings(loaded);
    loadSettings(loaded, path);
    checkCapacities(loaded);

    MailerSettings expected = referenceLoad(input);
    FUZZ_CHECK(sameRecord(loaded, expected), "loaded:   " + describe(loaded) +
                                                 "\nexpected: " + describe(expected));

    const std::string again = dir.file("again.ini");
    FUZZ_CHECK(saveSettings(loaded, again), "saveSettings failed");
    std::string saved = fuzz::readBytes(again);
    checkSavedForm(saved, again);

    MailerSettings reloaded;
    resetSettings(reloaded);
    loadSettings(reloaded, again);
    checkCapacities(reloaded);
    FUZZ_CHECK(sameRecord(loaded, reloaded), "first:  " + describe(loaded) +
                                                 "\nsecond: " + describe(reloaded) +
                                                 "\nsaved:  " + fuzz::visible(saved, 2000));

    const std::string third = dir.file("third.ini");
    FUZZ_CHECK(saveSettings(reloaded, third), "saveSettings failed");
    FUZZ_CHECK(fuzz::readBytes(third) == saved, "saving the reloaded record gives other bytes");

    // The hexadecimal form of a password comes back whole.
    std::string password = loaded.popPassword.str() + loaded.smtpPassword.str();
    std::string hex = encodeKeyStr(password);
    FUZZ_CHECK(hex.size() == 2 * password.size() &&
                   hex.find_first_not_of("0123456789abcdef") == std::string::npos,
               "encodeKeyStr gave " + fuzz::visible(hex));
    FUZZ_CHECK(decodeKeyStr(hex) == password, "decodeKeyStr(encodeKeyStr(x)) != x");
    return 0;
}
