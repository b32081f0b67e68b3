// The SMTP dialogue: SendMimeMsg against a server on a loopback port that answers from the
// input.
//
// Input: records cut at 0x1e: [0] the server's replies, [1] the message text, [2] a flag byte
// (bit 0: log in with AUTH LOGIN), [3] the To text, [4] the From text. A To holds no white
// space and a From no line end, as the request lines and the settings file give them; neither
// holds the password, in clear or encoded. Missing records take ordinary values.
//
// The server plays [0] as its replies: one greeting, then one reply for each command line, a
// reply being its lines up to the first whose fourth character is not '-'. After "AUTH LOGIN"
// the replies that the client reads as 250 are followed by the next one at once (the client
// skips them). After DATA answered with a code the client reads as 354, the server takes the
// message text up to the line ".", then answers it. When [0] is used up the server only
// listens. The client's waits are short (1 s).
//
// Oracle:
// - no crash and no hang;
// - after any reply the client does not take as the one its step needs (220 greeting, 250 to
//   HELO, EHLO, MAIL, RCPT and the message, 354 to DATA, 334 to AUTH LOGIN and the user name,
//   235 to the password) the next command is QUIT; above all, no message text is sent unless
//   DATA was answered with 354;
// - the message the server receives, dot stuffing undone, is the text with every CR that
//   follows a CR dropped and CR LF added when it does not end in a line feed;
// - every command is one line ended by CR LF; nothing comes after QUIT; a success (1) means the
//   message was answered 250 and QUIT was sent;
// - the password never appears in the error text or in the activity list or the log file; it
//   goes to the server only base64-encoded, after AUTH LOGIN and the user name, in answer to a
//   334, and never in clear.

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "fuzz/fuzz_support.h"
#include "settings/base64.h"
#include "mail/smtp_client.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"

namespace {

constexpr const char* kUser = "robot";
constexpr const char* kPassword = "Zk4-Tarnwick-smtp!";

std::string base64Of(std::string_view text) {
    Base64Coder coder;
    coder.encode(text.data(), text.size());
    return std::string(coder.encodedData(), coder.encodedLength());
}

// The number the client reads at the start of a reply line: strtol over the first 1023 bytes
// (with the line feed put back when the line is shorter), 0 when out of the int range.
int codeOf(std::string_view rawLine) {
    if (!rawLine.empty() && rawLine.back() == '\n')
        rawLine.remove_suffix(1);
    std::string kept(rawLine.substr(0, 1023));
    if (kept.size() < 1023)
        kept += '\n';
    errno = 0;
    long code = std::strtol(kept.c_str(), nullptr, 10);
    return code > INT_MAX || code < INT_MIN ? 0 : static_cast<int>(code);
}

bool continues(std::string_view rawLine) {
    if (!rawLine.empty() && rawLine.back() == '\n')
        rawLine.remove_suffix(1);
    return rawLine.size() >= 4 && rawLine[3] == '-';
}

// The next reply of the script: lines up to the first that does not continue. Its code (as the
// client reads it) in code; -1 when the script ended within it.
std::string takeReply(std::string_view& script, int& code) {
    std::string reply;
    code = -1;
    while (!script.empty()) {
        std::size_t lf = script.find('\n');
        std::size_t n = lf == std::string_view::npos ? script.size() : lf + 1;
        std::string_view line = script.substr(0, n);
        script.remove_prefix(n);
        reply += line;
        if (lf == std::string_view::npos)
            break;
        if (!continues(line)) {
            code = codeOf(line);
            break;
        }
    }
    return reply;
}

struct ServerRecord {
    std::mutex mutex;
    std::vector<std::string> failures;
    std::vector<std::string> messages;  // each message received, dot stuffing undone
    int lastMessageReply = -1;          // the code of the reply to the last message
    bool sawQuit = false;
    void fail(std::string text) {
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(std::move(text));
    }
};

void playServer(fuzz::PeerSocket& socket, std::string_view script, ServerRecord& record) {
    const std::string userLine = base64Of(kUser) + "\r\n";
    const std::string passwordLine = base64Of(kPassword) + "\r\n";
    bool usedUp = false;
    auto reply = [&](int& code) {
        if (usedUp)
            return;
        std::string bytes = takeReply(script, code);
        socket.send(bytes);
        if (script.empty()) {
            usedUp = true;
            socket.shutdownWrite();
        }
    };

    int lastCode = -1;
    reply(lastCode);
    std::string step = "the greeting";
    int needed = 220;
    enum class Auth { None, LoginSent, UserSent } auth = Auth::None;

    std::string line;
    while (socket.readLine(line, 5000)) {
        std::string_view command = line;
        if (!fuzz::isOneCrLfLine(command))
            record.fail("command not one CR LF line: " + fuzz::visible(command));
        if (record.sawQuit)
            record.fail("a command after QUIT: " + fuzz::visible(command));
        if (command.find(kPassword) != std::string_view::npos)
            record.fail("the password in clear: " + fuzz::visible(command));
        if (command == "QUIT\r\n") {
            std::lock_guard<std::mutex> lock(record.mutex);
            record.sawQuit = true;
        } else if (lastCode != needed) {
            record.fail("went on with " + fuzz::visible(command) + " after " + step +
                        " was answered " + std::to_string(lastCode) + ", not " +
                        std::to_string(needed));
        }
        if (command == passwordLine) {
            if (auth != Auth::UserSent || lastCode != 334)
                record.fail("the password sent without being asked for");
        } else if (command.find(base64Of(kPassword)) != std::string_view::npos) {
            record.fail("the encoded password in " + fuzz::visible(command));
        }

        int code = -1;
        if (command == "DATA\r\n") {
            step = "DATA";
            needed = 354;
            reply(code);
            if (code == 354) {
                // The message, up to the line ".".
                std::string message, dataLine;
                bool ended = false;
                while (socket.readLine(dataLine, 5000)) {
                    if (dataLine == ".\r\n") {
                        ended = true;
                        break;
                    }
                    if (dataLine[0] == '.')
                        dataLine.erase(0, 1);
                    message += dataLine;
                }
                if (!ended)
                    break;
                {
                    std::lock_guard<std::mutex> lock(record.mutex);
                    record.messages.push_back(message);
                }
                step = "the message";
                needed = 250;
                reply(code);
                std::lock_guard<std::mutex> lock(record.mutex);
                record.lastMessageReply = code;
            }
        } else if (command == "AUTH LOGIN\r\n") {
            step = "AUTH LOGIN";
            needed = 334;
            auth = Auth::LoginSent;
            reply(code);
            while (code == 250 && !usedUp) reply(code);
        } else if (auth == Auth::LoginSent && command == userLine) {
            step = "the user name";
            needed = 334;
            auth = Auth::UserSent;
            reply(code);
        } else if (command == passwordLine) {
            step = "the password";
            needed = 235;
            auth = Auth::None;
            reply(code);
        } else {
            step = fuzz::visible(command);
            needed = command.rfind("QUIT", 0) == 0 ? -2 : 250;
            reply(code);
        }
        lastCode = code;
    }
}

std::string expectedMessage(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i > 0 && text[i - 1] == '\r'))
            out += text[i];
    if (text.empty() || text.back() != '\n')
        out += "\r\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> records =
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string script = records[0];
    const std::string text = records.size() > 1 ? records[1] : "Hello.\r\n";
    const bool login = records.size() > 2 && !records[2].empty() && (records[2][0] & 1);
    std::string to = records.size() > 3 ? records[3] : "ann@example.org";
    std::string from =
        records.size() > 4 ? records[4] : "Station ANMO <robot@anmo.example.org>";
    // The recipients as the RCPT commands name them (comments and quoted text dropped).
    const std::string recipients = buildRecipientList(to);
    if (to.find_first_of(" \t\n\r\v\f") != std::string::npos ||
        from.find_first_of("\r\n") != std::string::npos)
        return -1;
    for (const std::string& secret : {std::string(kPassword), base64Of(kPassword)})
        if (recipients.find(secret) != std::string::npos || from.find(secret) != std::string::npos)
            return -1;

    fuzz::ScratchDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    Statistics statistics;
    MailerSettings settings;
    resetSettings(settings);
    MailContext context{settings, log, statistics, clock, 1000};
    fuzz::LoopbackPeer& peer = fuzz::LoopbackPeer::instance();

    MailJob job;
    job.to = to;
    job.from = from;
    settings.smtpServer = peer.address();
    job.subject = "Your Event File";
    settings.smtpAuth = login ? 1 : 0;
    settings.smtpUser = kUser;
    settings.smtpPassword = kPassword;

    ServerRecord record;
    peer.start([&](fuzz::PeerSocket& socket) { playServer(socket, script, record); });
    std::string error;
    SendFailure failure = SendFailure::kTryAgain;
    int result = SendMimeMsg(context, job, text, error, &failure);
    peer.finish();

    fuzz::note("result " + std::to_string(result) + ", " + std::to_string(record.messages.size()) +
               " messages received, error \"" + error + "\"");
    for (const std::string& failure : record.failures) FUZZ_CHECK(false, failure);
    FUZZ_CHECK(result == 0 || result == 1, "result " + std::to_string(result));
    FUZZ_CHECK(result == 1 || !error.empty(), "a failure without an error text");
    FUZZ_CHECK(record.messages.size() <= 1, "the message sent more than once");
    const std::string expected = expectedMessage(text);
    for (const std::string& message : record.messages)
        FUZZ_CHECK(message == expected, "the server received\n  " + fuzz::visible(message) +
                                            "\nexpected\n  " + fuzz::visible(expected));
    if (result == 1) {
        FUZZ_CHECK(record.messages.size() == 1 && record.lastMessageReply == 250,
                   "a success without the message answered 250");
        FUZZ_CHECK(record.sawQuit, "a success without QUIT");
        FUZZ_CHECK(failure == SendFailure::kTryAgain, "a success with a failure's meaning");
    }

    const std::string password = kPassword;
    FUZZ_CHECK(error.find(password) == std::string::npos, "the password in the error text: " + error);
    for (const std::string& entry : log.entries())
        FUZZ_CHECK(entry.find(password) == std::string::npos, "the password in the log: " + entry);
    FUZZ_CHECK(fuzz::readBytes(dir.file("tarnwick.log")).find(password) == std::string::npos,
               "the password in the log file");
    return 0;
}
