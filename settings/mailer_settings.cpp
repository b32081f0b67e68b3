#include "settings/mailer_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "settings/optional_keys.h"
#include "settings/text_routines.h"

namespace {

// Takes a text value whole, or leaves the field as it was with a problem naming the key.
template <std::size_t N>
void take(FixedText<N>& field, const char* key, const std::string& value,
          std::vector<std::string>& problems) {
    std::string text = value.substr(0, value.find('\0'));
    if (text.size() > FixedText<N>::capacity) {
        problems.push_back(std::string(key) + " is longer than " +
                           std::to_string(FixedText<N>::capacity) +
                           " characters: the value was not taken");
        return;
    }
    field = text;
}

// Stores one value under its key (any letter case). False for a key the record does not know,
// which is ignored.
bool storeValue(MailerSettings& s, const std::string& key, const std::string& value,
                std::vector<std::string>& problems) {
    auto is = [&key](const char* name) { return equalsIgnoreCase(key, name); };
    if (is("StationName"))
        take(s.stationName, "StationName", value, problems);
    else if (is("PopEnable"))
        s.popEnable = parseInteger(value.c_str());
    else if (is("PopServer"))
        take(s.popServer, "PopServer", value, problems);
    else if (is("PopUser"))
        take(s.popUser, "PopUser", value, problems);
    else if (is("PopKeyStr"))
        take(s.popPassword, "PopKeyStr", decodeKeyStr(value), problems);
    else if (is("PopCheckTime"))
        s.popCheckTime = parseInteger(value.c_str());
    else if (is("SmtpServer"))
        take(s.smtpServer, "SmtpServer", value, problems);
    else if (is("SmtpAuth"))
        s.smtpAuth = parseInteger(value.c_str());
    else if (is("SmtpUser"))
        take(s.smtpUser, "SmtpUser", value, problems);
    else if (is("SmtpKeyStr"))
        take(s.smtpPassword, "SmtpKeyStr", decodeKeyStr(value), problems);
    else if (is("FromUser"))
        take(s.fromUser, "FromUser", value, problems);
    else if (is("TempDir"))
        take(s.tempDir, "TempDir", value, problems);
    else if (is("MapDrive"))
        s.mapDrive = value.empty() ? '\0' : value[0];
    else if (is("MornakDir"))
        take(s.mornakDir, "MornakDir", value, problems);
    else if (is("MornakReq"))
        take(s.mornakReq, "MornakReq", value, problems);
    else if (is("Mornak2Dir"))
        take(s.mornak2Dir, "Mornak2Dir", value, problems);
    else if (is("Mornak2Req"))
        take(s.mornak2Req, "Mornak2Req", value, problems);
    else {
        std::string problem;
        if (!storeOptionalKey(s, key, value, problem))
            return false;
        if (!problem.empty())
            problems.push_back(problem);
    }
    return true;
}

// Splits a whole line at its first '=': the key and the value as they stand. The line ends at
// its first zero byte, line feed or carriage return. False without an '='.
bool splitSettingsLine(std::string line, std::string& key, std::string& value) {
    line = line.substr(0, line.find('\0'));
    stripLineEnd(line);
    std::size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = line.substr(0, eq);
    value = line.substr(eq + 1);
    return true;
}

// Writes text to path through a synced temporary file and a rename. A new file is readable by
// its owner only; one that replaces a file keeps that file's mode, owner and group (so a file
// written by root for the service stays the service's).
bool writeWholeFile(const std::string& path, const std::string& text) {
    // A link or anything but a regular file at the name is left alone, and so is a link at the
    // temporary name: nothing is written through one.
    struct stat old {};
    bool exists = ::lstat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return false;
    std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    if (exists) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::geteuid() == 0)
            ok = false;
        ok = ok && ::fchmod(fd, old.st_mode & 0777) == 0;
    } else {
        ok = ::fchmod(fd, 0600) == 0;
    }
    for (std::size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    std::size_t slash = path.rfind('/');
    int dir = ::open(slash == std::string::npos ? "." : path.substr(0, slash + 1).c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
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

bool loadSettings(MailerSettings& settings, const std::string& path,
                  std::vector<std::string>* problems, std::vector<std::string>* unknownKeys) {
    // A link at the name is never followed, nor a FIFO or a device waited on.
    int fd = openRegularFile(path);
    if (fd < 0) {
        int error = errno;
        struct stat st {};
        bool there = ::lstat(path.c_str(), &st) == 0;
        if (!there && errno == ENOENT) {
            saveSettings(settings, path);
            return true;
        }
        // Settings that could not be read are never replaced by defaults.
        bool irregular = there && !S_ISREG(st.st_mode);
        if (problems)
            problems->insert(problems->begin(),
                             path + " cannot be read: " +
                                 (irregular ? "not a regular file" : std::strerror(error)));
        return false;
    }
    std::string content;
    char block[8192];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) content.append(block, n);
    ::close(fd);
    std::istringstream file(content);
    std::vector<std::string> found;
    std::string line, key, value;
    while (std::getline(file, line))
        if (splitSettingsLine(line, key, value) && !storeValue(settings, key, value, found) &&
            unknownKeys)
            unknownKeys->push_back(key);
    if (problems)
        problems->insert(problems->end(), found.begin(), found.end());
    return true;
}

bool saveSettings(const MailerSettings& s, const std::string& path) {
    return writeWholeFile(path, settingsText(s));
}

std::string settingsText(const MailerSettings& s) {
    std::string text;
    auto line = [&text](const char* key, const std::string& value) {
        text.append(key).append("=").append(value).append("\n");
    };
    line("StationName", s.stationName.str());
    line("PopEnable", std::to_string(s.popEnable));
    line("PopServer", s.popServer.str());
    line("PopUser", s.popUser.str());
    line("PopKeyStr", encodeKeyStr(s.popPassword.str()));
    line("PopCheckTime", std::to_string(s.popCheckTime));
    line("SmtpServer", s.smtpServer.str());
    line("SmtpAuth", std::to_string(s.smtpAuth));
    line("SmtpUser", s.smtpUser.str());
    line("SmtpKeyStr", encodeKeyStr(s.smtpPassword.str()));
    line("FromUser", s.fromUser.str());
    line("TempDir", s.tempDir.str());
    // Exactly one byte: the letter, or a zero byte when none is set.
    line("MapDrive", std::string(1, s.mapDrive));
    line("MornakDir", s.mornakDir.str());
    line("MornakReq", s.mornakReq.str());
    line("Mornak2Dir", s.mornak2Dir.str());
    line("Mornak2Req", s.mornak2Req.str());
    text += optionalKeyLines(s);
    return text;
}

std::string encodeKeyStr(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * text.size());
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0f];
    }
    return out;
}

std::string decodeKeyStr(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        int high = hexDigit(text[i]);
        if (high < 0)
            continue;
        int low = hexDigit(text[i + 1]);
        out += static_cast<char>(low < 0 ? high : high * 16 + low);
    }
    return out;
}

bool popUsesOAuth2(const MailerSettings& s) {
    return equalsIgnoreCase(s.popAuthMethod, "oauth2");
}

bool smtpUsesOAuth2(const MailerSettings& s) {
    return equalsIgnoreCase(s.smtpAuthMethod, "oauth2");
}

bool settingsComplete(const MailerSettings& s) {
    return missingSettings(s).empty();
}

std::vector<std::string> missingSettings(const MailerSettings& s) {
    std::vector<std::string> missing;
    auto need = [&](bool present, const char* key) {
        if (!present)
            missing.push_back(key);
    };
    need(!s.stationName.empty(), "StationName");
    need(!s.popServer.empty(), "PopServer");
    need(!s.popUser.empty(), "PopUser");
    need(!s.popPassword.empty() || popUsesOAuth2(s), "PopKeyStr");
    need(s.popCheckTime >= 1 && s.popCheckTime <= 60, "PopCheckTime (1 to 60)");
    need(!s.smtpServer.empty(), "SmtpServer");
    need(!s.fromUser.empty(), "FromUser");
    need(!s.tempDir.empty(), "TempDir");
    need(!s.mornakDir.empty(), "MornakDir");
    need(!s.mornakReq.empty(), "MornakReq");
    return missing;
}
