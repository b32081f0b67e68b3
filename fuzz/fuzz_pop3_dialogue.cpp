// The POP3 dialogue: readMailbox against a server on a loopback port that answers from the
// input.
//
// The server plays the input as its replies, one reply for each command line the client sends
// (and one greeting): a reply is one line, and for a RETR or CAPA whose first line begins "+OK"
// all the lines up to and including the line "." as well. When the input is used up the server
// stops sending and waits for the client to close. The client's waits are short (1 s).
//
// Oracle:
// - no crash and no hang (libFuzzer's -timeout);
// - every collected line begins with a request key in lower case and holds no capital letter,
//   or is the one line of a mail whose request key gave none (kUnservedMailMark and a reason);
//   its mail number is that of a message the server sent whole (0 only on a failure, for the
//   lines of a message cut off); its sender and Message-ID are empty or one word of printable
//   ASCII; the lines hold no more text than the input could give;
// - the password never appears in the error text, in what the server said, in any entry of the
//   activity list or the log file; it goes to the server only in "PASS <password>" after USER;
// - every command line ends in CR LF and holds no other CR or LF; DELE n comes only after
//   message n was sent whole; nothing comes after QUIT; a success (1) means every message
//   retrieved was deleted and QUIT was sent;
// - the lines were handed to the line keeper before QUIT was sent; the keeper hears that the
//   mailbox committed its deletions at most once, and only after a success with QUIT.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "fuzz/fuzz_support.h"
#include "mail/pop3_reader.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"

namespace {

constexpr const char* kUser = "station";
constexpr const char* kPassword = "Qx7-Tarnwick-pass!";

// The text of a line as the client compares it: the line feed and the CR before it dropped,
// a zero byte read as a blank.
std::string replyText(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::string text(line);
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    return text;
}

// The next line of the script, with its line feed; the rest when there is none.
std::string_view takeLine(std::string_view& script) {
    std::size_t lf = script.find('\n');
    std::size_t n = lf == std::string_view::npos ? script.size() : lf + 1;
    std::string_view line = script.substr(0, n);
    script.remove_prefix(n);
    return line;
}

struct ServerRecord {
    std::mutex mutex;
    std::vector<std::string> failures;
    std::set<long long> retrieved;  // messages sent whole
    std::set<long long> deleted;
    bool sawQuit = false;
    bool keeperCalledAtQuit = false;
    void fail(std::string text) {
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(std::move(text));
    }
};

struct Keeper final : LineKeeper {
    bool keepLines(std::vector<CollectedLine>& lines) override {
        called = true;
        kept = lines.size();
        return true;
    }
    void mailboxCommitted() override { ++commits; }
    std::atomic<bool> called{false};
    std::size_t kept = 0;
    int commits = 0;
};

void playServer(fuzz::PeerSocket& socket, std::string_view script, ServerRecord& record,
                const Keeper& keeper) {
    bool userSent = false;
    // The greeting; once the script is used up the server only listens.
    socket.send(takeLine(script));
    bool usedUp = script.empty();
    if (usedUp)
        socket.shutdownWrite();
    std::string line;
    while (socket.readLine(line, 5000)) {
        std::string_view command = line;
        if (!fuzz::isOneCrLfLine(command))
            record.fail("command not one CR LF line: " + fuzz::visible(command));
        std::string text = replyText(command);
        if (record.sawQuit)
            record.fail("a command after QUIT: " + fuzz::visible(text));
        if (text.find(kPassword) != std::string::npos &&
            (text != std::string("PASS ") + kPassword || !userSent))
            record.fail("the password sent in " + fuzz::visible(text));
        if (text == std::string("USER ") + kUser)
            userSent = true;
        if (text == "QUIT") {
            std::lock_guard<std::mutex> lock(record.mutex);
            record.sawQuit = true;
            record.keeperCalledAtQuit = keeper.called;
        }
        long long number = -1;
        bool retr = text.rfind("RETR ", 0) == 0, dele = text.rfind("DELE ", 0) == 0;
        if (retr || dele)
            number = std::atoll(text.c_str() + 5);
        if (dele) {
            std::lock_guard<std::mutex> lock(record.mutex);
            if (!record.retrieved.count(number))
                record.failures.push_back("DELE of a message not sent whole: " + text);
            record.deleted.insert(number);
        }
        if (usedUp)
            continue;
        std::string_view status = takeLine(script);
        std::string reply(status);
        bool whole = false;
        if ((retr || text == "CAPA") && replyText(status).rfind("+OK", 0) == 0) {
            while (!script.empty()) {
                std::string_view next = takeLine(script);
                reply += next;
                if (replyText(next) == "." && next.back() == '\n') {
                    whole = true;
                    break;
                }
            }
        }
        if (whole && retr) {
            std::lock_guard<std::mutex> lock(record.mutex);
            record.retrieved.insert(number);
        }
        socket.send(reply);
        if (script.empty()) {
            usedUp = true;
            socket.shutdownWrite();
        }
    }
}

bool isHeaderWord(const std::string& word) {
    for (char c : word)
        if (c <= ' ' || c > '~' || c == '<' || c == '>')
            return false;
    return word.size() <= 200;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view script(reinterpret_cast<const char*>(data), size);
    fuzz::ScratchDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    Statistics statistics;
    MailerSettings settings;
    resetSettings(settings);
    fuzz::LoopbackPeer& peer = fuzz::LoopbackPeer::instance();
    settings.popServer = peer.address();
    settings.popUser = kUser;
    settings.popPassword = kPassword;
    MailContext context{settings, log, statistics, clock, 1000};

    ServerRecord record;
    Keeper keeper;
    peer.start([&](fuzz::PeerSocket& socket) { playServer(socket, script, record, keeper); });
    std::vector<CollectedLine> lines;
    std::string error, serverSaid;
    int result = readMailbox(context, lines, error, &serverSaid, &keeper);
    peer.finish();

    fuzz::note("result " + std::to_string(result) + ", " + std::to_string(lines.size()) +
               " lines, " + std::to_string(record.retrieved.size()) + " messages sent whole, error \"" +
               error + "\"");
    for (const std::string& failure : record.failures) FUZZ_CHECK(false, failure);
    FUZZ_CHECK(result == 0 || result == 1, "result " + std::to_string(result));
    FUZZ_CHECK(result == 1 || !error.empty(), "a failure without an error text");

    long long lastRetrieved = record.retrieved.empty() ? 0 : *record.retrieved.rbegin();
    std::size_t textBytes = 0;
    for (const CollectedLine& line : lines) {
        if (line.isUnservedMail()) {
            FUZZ_CHECK(line.linesOfMail == 1 && line.mail > 0 && record.retrieved.count(line.mail),
                       "an unserved mail's line of mail " + std::to_string(line.mail));
            FUZZ_CHECK(line.text.find("write each request at the start of a line") != std::string::npos,
                       "an unserved mail's line without its reason: " + fuzz::visible(line.text));
            continue;
        }
        textBytes += line.text.size();
        FUZZ_CHECK(line.text.rfind("eventfilerequest=", 0) == 0 ||
                       line.text.rfind("stationinfo=", 0) == 0,
                   "collected line without a lower-case key: " + fuzz::visible(line.text));
        FUZZ_CHECK(!fuzz::hasUpperAscii(line.text),
                   "collected line with a capital letter: " + fuzz::visible(line.text));
        // The lines of a message cut off are kept too, without a mail number, on a failure.
        FUZZ_CHECK(line.mail == 0 ? result == 0
                                  : line.mail <= lastRetrieved && record.retrieved.count(line.mail),
                   "line of mail " + std::to_string(line.mail) + " not sent whole");
        FUZZ_CHECK(isHeaderWord(line.sender), "sender " + fuzz::visible(line.sender));
        FUZZ_CHECK(isHeaderWord(line.messageId), "Message-ID " + fuzz::visible(line.messageId));
    }
    FUZZ_CHECK(textBytes <= 8 * size + 64, "more line text than the input could give");
    if (!lines.empty() && record.sawQuit)
        FUZZ_CHECK(record.keeperCalledAtQuit && keeper.kept == lines.size(),
                   "QUIT sent before the lines were kept");
    FUZZ_CHECK(keeper.commits == 0 || (keeper.commits == 1 && result == 1 && record.sawQuit),
               std::to_string(keeper.commits) + " commits after result " + std::to_string(result));
    if (result == 1) {
        FUZZ_CHECK(record.sawQuit, "a success without QUIT");
        FUZZ_CHECK(record.deleted == record.retrieved, "a success with a message not deleted");
    }

    const std::string password = kPassword;
    FUZZ_CHECK(error.find(password) == std::string::npos, "the password in the error text: " + error);
    FUZZ_CHECK(serverSaid.find(password) == std::string::npos, "the password in what the server said");
    for (const std::string& entry : log.entries())
        FUZZ_CHECK(entry.find(password) == std::string::npos, "the password in the log: " + entry);
    FUZZ_CHECK(fuzz::readBytes(dir.file("tarnwick.log")).find(password) == std::string::npos,
               "the password in the log file");
    return 0;
}
