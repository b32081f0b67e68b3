#include "app/check_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "accounts/account_tokens.h"
#include "accounts/secrets.h"
#include "accounts/token_command.h"
#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "app/exit_codes.h"
#include "app/transcript_printer.h"
#include "mail/greeting_name.h"
#include "mail/mail_context.h"
#include "mail/imap_address.h"
#include "mail/imap_reader.h"
#include "mail/pop3_reader.h"
#include "mail/smtp_client.h"
#include "requests/recorder_config.h"
#include "settings/mailer_settings.h"
#include "settings/settings_secrets.h"
#include "settings/text_routines.h"

namespace {

// Counts and prints the steps, never with a secret of the settings in any form.
class Steps {
  public:
    explicit Steps(std::ostream& out) : out_(out) {}
    void ok(const std::string& what) { out_ << secrets_.apply("ok    " + what) << std::endl; }
    // A failed step; the run's exit code is that of the first one.
    void fail(const std::string& what, const std::string& why, int code = kExitSettingsError) {
        out_ << secrets_.apply("FAIL  " + what + ": " + why) << std::endl;
        if (exitCode_ == kExitOk)
            exitCode_ = code;
    }
    void note(const std::string& what) { out_ << secrets_.apply("note  " + what) << std::endl; }
    // Something to mend that does not stop a run.
    void warn(const std::string& what) { out_ << secrets_.apply("warn  " + what) << std::endl; }
    // A line under the step before, as it stands.
    void detail(const std::string& line) { out_ << secrets_.apply("      " + line) << std::endl; }
    int exitCode() const { return exitCode_; }
    void addSecrets(const SecretMask& secrets) { secrets_.add(secrets); }

  private:
    std::ostream& out_;
    int exitCode_ = kExitOk;
    SecretMask secrets_;
};

// Keeps the entries the mail dialogues log, for the server's own words.
class EntryKeeper final : public LogView {
  public:
    void oldestRemoved() override {}
    void entryAdded(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

std::string reasonOf(int error) {
    return std::strerror(error);
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// A settings file that others than its owner can read shows them the passwords.
void checkSettingsMode(Steps& steps, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 044) == 0)
        return;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    steps.warn("settings " + path + ": group or others can read it (mode " + mode +
               "): chmod 600 " + path);
}

// The settings a run would work with, credentials applied, one "Key=value" line each under
// the settings step; every secret shows as "***".
void showSettings(Steps& steps, const MailerSettings& settings) {
    std::string text = settingsText(settings);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start))
        steps.detail(text.substr(start, end - start));
}

// Whether the settings are complete, with a sender address in angle brackets.
void checkComplete(Steps& steps, const std::string& path, const MailerSettings& settings) {
    std::vector<std::string> missing = missingSettings(settings);
    std::string from = settings.fromUser.str();
    std::size_t open = from.find('<');
    if (!missing.empty())
        steps.fail("settings " + path, "not set: " + joined(missing, ", "));
    else if (open == std::string::npos || from.find('>', open) == std::string::npos)
        steps.fail("settings " + path, "FromUser has no address in angle brackets");
    else
        steps.ok("settings " + path);
}

// Reads the settings file and shows them as a run would take them.
void checkSettings(Steps& steps, const std::string& path, MailerSettings& settings) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        steps.fail("settings " + path, "cannot be read: " + reasonOf(errno));
        return;
    }
    std::fclose(file);
    std::vector<std::string> problems, unknownKeys;
    loadSettings(settings, path, &problems, &unknownKeys);
    for (const std::string& problem : problems) steps.fail("settings " + path, problem);
    steps.addSecrets(settingsSecrets(settings));
    if (problems.empty())
        checkComplete(steps, path, settings);
    MailerSettings effective = settings;
    applyCredentials(effective, credentialsDirectory());
    steps.addSecrets(settingsSecrets(effective));
    showSettings(steps, effective);
    if (settings.mapDrive != '\0' && settings.mapDrive != ' ')
        steps.note("MapDrive is set but has no effect on this system");
    for (const std::string& key : unknownKeys)
        steps.warn("settings " + path + ": unknown key " + key + " (ignored)");
    // A password copied with its line end: the server takes the line end as part of it.
    for (const auto& [key, password] : {std::pair{"PopKeyStr", effective.popPassword.str()},
                                        std::pair{"SmtpKeyStr", effective.smtpPassword.str()}})
        if (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
            steps.warn("settings " + path + ": " + key +
                       " ends in a line end, which the server takes as part of the password");
    checkSettingsMode(steps, path);
}

void checkRecorderSystem(Steps& steps, const char* which, const std::string& setting) {
    std::string dir = setting;
    addTrailingSlash(dir);
    std::string what = std::string(which) + " recorder system " + dir + kRecorderIniName;
    RecorderSystem system;
    if (!readRecorderIni(dir, system)) {
        int error = access((dir + kRecorderIniName).c_str(), R_OK) == 0 ? EIO : errno;
        steps.fail(what, "cannot be read: " + reasonOf(error));
        return;
    }
    std::vector<std::string> ids;
    for (int i = 0; i < usedChannelSlots(system); ++i)
        if (!system.channels[i].id.empty())
            ids.push_back(system.channels[i].id.str());
    if (ids.empty()) {
        steps.fail(what, "no channel IDs (NUMBERCHANNELS and the CHANFILEn files)");
        return;
    }
    steps.ok(what + ": system " + std::to_string(system.systemNumber) + ", " +
             std::to_string(system.samplesPerSecond) + " samples/s, channels " + joined(ids, " "));
}

void checkFolder(Steps& steps, const std::string& what, const std::string& setting,
                 const char* key) {
    if (setting.empty()) {
        steps.fail(what, std::string(key) + " is not set");
        return;
    }
    std::string dir = setting;
    addTrailingSlash(dir);
    if (access(dir.c_str(), R_OK | W_OK | X_OK) != 0) {
        steps.fail(what + " " + dir, "not usable: " + reasonOf(errno));
        return;
    }
    steps.ok(what + " " + dir + " writable");
}

// The IMAP login, the folder and the done folder: nothing fetched, moved or marked.
void checkImap(Steps& steps, MailContext& context) {
    const MailerSettings& settings = context.settings;
    std::string what = "IMAP " + settings.popServer.str();
    int messages = 0;
    std::string error, said, mechanism, notes;
    if (!checkImapMailbox(context, messages, error, &said, &mechanism, &notes)) {
        steps.fail(what, said.empty() ? error : error + "; the server said: " + said,
                   mailFailureExitCode(error));
        return;
    }
    steps.ok(what + ": logged in as " + settings.popUser.str() + " with " + mechanism + ", " +
             std::to_string(messages) + (messages == 1 ? " message" : " messages") +
             " waiting, none fetched; " + notes);
}

void checkPop(Steps& steps, MailContext& context) {
    const MailerSettings& settings = context.settings;
    if (settings.popServer.empty()) {
        steps.fail("POP3", "PopServer is not set");
        return;
    }
    if (isImapSetting(settings.popServer.str()))
        return checkImap(steps, context);
    std::string what = "POP3 " + settings.popServer.str();
    int messages = 0;
    std::string error, said, mechanism;
    if (!checkMailbox(context, messages, error, &said, &mechanism)) {
        steps.fail(what, said.empty() ? error : error + "; the server said: " + said,
                   mailFailureExitCode(error));
        return;
    }
    steps.ok(what + ": logged in as " + settings.popUser.str() + " with " + mechanism + ", " +
             std::to_string(messages) + (messages == 1 ? " message" : " messages") +
             " waiting, none retrieved");
}

void checkSmtp(Steps& steps, MailContext& context, const EntryKeeper& entries) {
    const MailerSettings& settings = context.settings;
    if (settings.smtpServer.empty()) {
        steps.fail("SMTP", "SmtpServer is not set");
        return;
    }
    std::string what = "SMTP " + settings.smtpServer.str();
    std::size_t before = entries.lines.size();
    std::string error, mechanism;
    if (!smtpCheckLogin(context, error, &mechanism)) {
        // The server's own words, when the dialogue logged them.
        std::string said;
        for (std::size_t i = before; i < entries.lines.size(); ++i) {
            const std::string& line = entries.lines[i];
            std::size_t at = line.find("SMTP server said: ");
            if (at != std::string::npos)
                said += "; the server said: " + line.substr(at + 18);
            at = line.find("SMTP hint: ");
            if (at != std::string::npos)
                said += "; " + line.substr(at + 11);
        }
        steps.fail(what, error + said, mailFailureExitCode(error));
        return;
    }
    steps.ok(what + ": greeted as " + greetingName(settings) +
             (!mechanism.empty()
                  ? ", login as " + settings.smtpUser.str() + " with " + mechanism + " accepted"
                  : ", no login set") +
             ", nothing sent");
}

// The access token of each OAuth2 login, taken as a run takes it: from the account's token
// command, or once from the OAuth2 client for both. The token itself is never shown.
void checkTokens(Steps& steps, const MailerSettings& settings, AccountTokens& tokens) {
    bool clientChecked = false;
    for (MailAccount account : {MailAccount::kPop, MailAccount::kSmtp}) {
        bool pop = account == MailAccount::kPop;
        if (!(pop ? popUsesOAuth2(settings) : smtpUsesOAuth2(settings)))
            continue;
        const std::string& command = pop ? settings.popTokenCommand : settings.smtpTokenCommand;
        std::string token, error;
        if (!command.empty()) {
            std::vector<std::string> words = commandWords(command);
            std::string what = std::string(pop ? "POP3" : "SMTP") + " token command " +
                               (words.empty() ? "" : words.front());
            if (tokens.accessToken(account, false, token, error))
                steps.ok(what + ": a token was printed");
            else
                steps.fail(what, error, kExitLoginError);
        } else if (!clientChecked) {
            clientChecked = true;
            if (tokens.accessToken(account, false, token, error))
                steps.ok("OAuth2 token from " + tokens.tokenHost() + ": expires in " +
                         std::to_string(tokens.lastExpiresIn()) + " s");
            else
                steps.fail("OAuth2 token", error, kExitLoginError);
        }
    }
}

}  // namespace

int runCheck(Clock& clock, const std::string& configDir, std::ostream& out, int timeoutMs,
             std::ostream* dialogue) {
    Steps steps(out);
    MailerSettings settings;
    resetSettings(settings);
    checkSettings(steps, configDir + kSettingsFileName, settings);
    applyCredentials(settings, credentialsDirectory());

    if (settings.mornakDir.empty())
        steps.fail("first recorder system", "MornakDir is not set");
    else
        checkRecorderSystem(steps, "first", settings.mornakDir.str());
    checkFolder(steps, "first request folder", settings.mornakReq.str(), "MornakReq");
    if (!settings.mornak2Dir.empty()) {
        checkRecorderSystem(steps, "second", settings.mornak2Dir.str());
        checkFolder(steps, "second request folder", settings.mornak2Req.str(), "Mornak2Req");
    }
    checkFolder(steps, "temporary folder", settings.tempDir.str(), "TempDir");

    // The dialogues log as in a run, into a list of their own: no file is touched.
    ActivityLog log(clock, "");
    log.addSecrets(settingsSecrets(settings));
    EntryKeeper entries;
    log.setView(&entries);
    Statistics statistics;
    AccountTokens tokens(settings, clock, configDir, timeoutMs);
    TranscriptPrinter transcript(dialogue ? *dialogue : out, log.secrets());
    if (dialogue)
        tokens.setTranscript(&transcript);
    MailContext context{
        settings, log, statistics, clock, timeoutMs, &tokens, dialogue ? &transcript : nullptr};
    checkTokens(steps, settings, tokens);
    checkPop(steps, context);
    checkSmtp(steps, context, entries);
    log.setView(nullptr);
    return steps.exitCode();
}
