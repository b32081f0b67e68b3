#include "settings/mailer_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "settings/text_routines.h"

namespace {

// Stores one value under its key; unknown keys are ignored.
void storeValue(MailerSettings& s, const std::string& key, const std::string& value) {
    auto is = [&key](const char* name) { return equalsIgnoreCase(key, name); };
    if (is("StationName"))
        s.stationName = value;
    else if (is("PopEnable"))
        s.popEnable = parseInteger(value.c_str());
    else if (is("PopServer"))
        s.popServer = value;
    else if (is("PopUser"))
        s.popUser = value;
    else if (is("PopKeyStr"))
        s.popPassword = decodeKeyStr(value);
    else if (is("PopCheckTime"))
        s.popCheckTime = parseInteger(value.c_str());
    else if (is("SmtpServer"))
        s.smtpServer = value;
    else if (is("SmtpAuth"))
        s.smtpAuth = parseInteger(value.c_str());
    else if (is("SmtpUser"))
        s.smtpUser = value;
    else if (is("SmtpKeyStr"))
        s.smtpPassword = decodeKeyStr(value);
    else if (is("FromUser"))
        s.fromUser = value;
    else if (is("TempDir"))
        s.tempDir = value;
    else if (is("MapDrive"))
        s.mapDrive = value.empty() ? '\0' : value[0];
    else if (is("MornakDir"))
        s.mornakDir = value;
    else if (is("MornakReq"))
        s.mornakReq = value;
    else if (is("Mornak2Dir"))
        s.mornak2Dir = value;
    else if (is("Mornak2Req"))
        s.mornak2Req = value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

void resetSettings(MailerSettings& settings) {
    settings = MailerSettings{};
    settings.popCheckTime = 2;
}

void loadSettings(MailerSettings& settings, const std::string& path) {
    // A link at the name is never followed, nor a FIFO or a device waited on.
    int fd = openRegularFile(path);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, "r");
    if (!f) {
        if (fd >= 0)
            ::close(fd);
        saveSettings(settings, path);
        return;
    }
    // Each read takes at most 99 characters: a longer line arrives in pieces, and every
    // piece is a line of its own.
    char buf[100];
    std::string key, value;
    while (std::fgets(buf, sizeof buf, f)) {
        std::string line(buf, std::strlen(buf));
        if (splitKeyValue(line, key, value))
            storeValue(settings, key, value);
    }
    std::fclose(f);
}

bool saveSettings(const MailerSettings& s, const std::string& path) {
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    std::FILE* f = fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        return false;
    }
    std::fprintf(f, "StationName=%s\n", s.stationName.c_str());
    std::fprintf(f, "PopEnable=%d\n", s.popEnable);
    std::fprintf(f, "PopServer=%s\n", s.popServer.c_str());
    std::fprintf(f, "PopUser=%s\n", s.popUser.c_str());
    std::fprintf(f, "PopKeyStr=%s\n", encodeKeyStr(s.popPassword.str()).c_str());
    std::fprintf(f, "PopCheckTime=%d\n", s.popCheckTime);
    std::fprintf(f, "SmtpServer=%s\n", s.smtpServer.c_str());
    std::fprintf(f, "SmtpAuth=%d\n", s.smtpAuth);
    std::fprintf(f, "SmtpUser=%s\n", s.smtpUser.c_str());
    std::fprintf(f, "SmtpKeyStr=%s\n", encodeKeyStr(s.smtpPassword.str()).c_str());
    std::fprintf(f, "FromUser=%s\n", s.fromUser.c_str());
    std::fprintf(f, "TempDir=%s\n", s.tempDir.c_str());
    // Exactly one byte: the letter, or a zero byte when none is set.
    std::fprintf(f, "MapDrive=");
    std::fputc(s.mapDrive, f);
    std::fputc('\n', f);
    std::fprintf(f, "MornakDir=%s\n", s.mornakDir.c_str());
    std::fprintf(f, "MornakReq=%s\n", s.mornakReq.c_str());
    std::fprintf(f, "Mornak2Dir=%s\n", s.mornak2Dir.c_str());
    std::fprintf(f, "Mornak2Req=%s\n", s.mornak2Req.c_str());
    bool ok = !std::ferror(f);
    return std::fclose(f) == 0 && ok;
}

std::string encodeKeyStr(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    std::size_t n = text.size() < 127 ? text.size() : 127;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        out += digits[b >> 4];
        out += digits[b & 0x0f];
    }
    return out;
}

std::string decodeKeyStr(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size() && out.size() < 255; i += 2) {
        int high = hexDigit(text[i]);
        if (high < 0)
            continue;
        int low = hexDigit(text[i + 1]);
        out += static_cast<char>(low < 0 ? high : high * 16 + low);
    }
    return out;
}

bool settingsComplete(const MailerSettings& s) {
    unsigned interval = static_cast<unsigned>(s.popCheckTime);
    return !s.popServer.empty() && !s.popUser.empty() && !s.popPassword.empty() &&
           interval >= 1 && interval <= 60 && !s.stationName.empty() && !s.smtpServer.empty() &&
           !s.tempDir.empty() && !s.fromUser.empty() && !s.mornakDir.empty() &&
           !s.mornakReq.empty();
}
