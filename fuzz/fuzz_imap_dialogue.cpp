// The IMAP check: readImapMailbox against a server on a loopback port that answers from the
// input.
//
// The input is the server's side: its first line is the greeting, then each record (records
// are cut at 0x1e bytes) is what the server sends after one line from the client, with every
// "TAG" replaced by the tag of the client's last command. When the records are used up the
// server stops sending and waits for the client to close. The client's waits are short (1 s).
//
// Oracle:
// - no crash and no hang (libFuzzer's -timeout);
// - every line the client sends ends in CR LF and holds no other CR or LF; the password goes
//   out only inside AUTHENTICATE PLAIN's base64 or as LOGIN's last word, and never appears in the
//   error text, in what the server said, in the activity list or the log file;
// - no mail is moved, copied, marked or expunged before the lines were handed to the keeper
//   (when the mails gave any);
//   nothing is sent after LOGOUT;
// - every collected line begins with a request key in lower case, or is the one line of a mail
//   whose request key gave none; its sender and Message-ID are one word of printable ASCII, its
//   key begins "imap INBOX "; the lines hold no more text than the input could give;
// - the keeper hears that the mailbox committed at most once, and only after a success.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "fuzz/fuzz_support.h"
#include "mail/imap_reader.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"

namespace {

constexpr const char* kUser = "station";
constexpr const char* kPassword = "Qx7-Tarnwick-pass!";

struct ServerRecord {
    std::mutex mutex;
    std::vector<std::string> failures;
    bool sawLogout = false;
    std::string changedBeforeKeeping;
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

bool changesMailbox(const std::string& text) {
    for (const char* verb : {" UID MOVE ", " UID COPY ", " UID STORE ", " UID EXPUNGE", " EXPUNGE"})
        if (text.find(verb) != std::string::npos)
            return true;
    return false;
}

void playServer(fuzz::PeerSocket& socket, const std::vector<std::string>& records,
                ServerRecord& record, const Keeper& keeper) {
    std::size_t next = 1;
    std::string tag;
    std::string line;
    while (socket.readLine(line, 5000)) {
        if (!fuzz::isOneCrLfLine(line))
            record.fail("a line not one CR LF line: " + fuzz::visible(line));
        std::string text = line.substr(0, line.size() - std::min<std::size_t>(line.size(), 2));
        if (record.sawLogout)
            record.fail("a line after LOGOUT: " + fuzz::visible(text));
        std::size_t space = text.find(' ');
        if (!text.empty() && text[0] == 't' && space != std::string::npos)
            tag = text.substr(0, space);
        if (text.find(kPassword) != std::string::npos && text.rfind(tag + " LOGIN ", 0) != 0)
            record.fail("the password sent in " + fuzz::visible(text));
        if (changesMailbox(text) && !keeper.called && record.changedBeforeKeeping.empty())
            record.changedBeforeKeeping = text;
        if (text == tag + " LOGOUT")
            record.sawLogout = true;
        if (next >= records.size())
            continue;
        std::string answer = records[next++];
        for (std::size_t at; (at = answer.find("TAG")) != std::string::npos;)
            answer.replace(at, 3, tag);
        socket.send(answer);
        if (next >= records.size())
            socket.shutdownWrite();
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
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> records = fuzz::splitRecords(input);
    // The greeting is the first line of the first record; the rest of it answers the first line.
    std::string first = records[0];
    std::size_t lf = first.find('\n');
    std::vector<std::string> script{
        first.substr(0, lf == std::string::npos ? first.size() : lf + 1)};
    if (lf != std::string::npos)
        script.push_back(first.substr(lf + 1));
    script.insert(script.end(), records.begin() + 1, records.end());

    fuzz::ScratchDir dir;
    FakeClock clock;
    ActivityLog log(clock, dir.file("tarnwick.log"));
    Statistics statistics;
    MailerSettings settings;
    resetSettings(settings);
    fuzz::LoopbackPeer& peer = fuzz::LoopbackPeer::instance();
    settings.popServer = "imap://" + peer.address();
    settings.popUser = kUser;
    settings.popPassword = kPassword;
    MailContext context{settings, log, statistics, clock, 1000};

    ServerRecord record;
    Keeper keeper;
    peer.start([&](fuzz::PeerSocket& socket) {
        socket.send(script[0]);
        playServer(socket, script, record, keeper);
    });
    std::vector<CollectedLine> lines;
    std::string error, serverSaid;
    int result = readImapMailbox(context, lines, error, &serverSaid, &keeper);
    peer.finish();

    fuzz::note("result " + std::to_string(result) + ", " + std::to_string(lines.size()) +
               " lines, error \"" + error + "\"");
    for (const std::string& failure : record.failures) FUZZ_CHECK(false, failure);
    // Mails that gave no line (a bounce, say) have nothing to keep and may go at once.
    FUZZ_CHECK(record.changedBeforeKeeping.empty() || lines.empty(),
               "the mailbox changed before the lines were kept: " + record.changedBeforeKeeping);
    FUZZ_CHECK(result == 0 || result == 1, "result " + std::to_string(result));
    FUZZ_CHECK(result == 1 || !error.empty(), "a failure without an error text");
    std::size_t textBytes = 0;
    for (const CollectedLine& line : lines) {
        FUZZ_CHECK(line.mailKey.rfind("imap INBOX ", 0) == 0,
                   "mail key " + fuzz::visible(line.mailKey));
        if (line.isUnservedMail())
            continue;
        textBytes += line.text.size();
        FUZZ_CHECK(
            line.text.rfind("eventfilerequest=", 0) == 0 || line.text.rfind("stationinfo=", 0) == 0,
            "collected line without a lower-case key: " + fuzz::visible(line.text));
        FUZZ_CHECK(!fuzz::hasUpperAscii(line.text),
                   "collected line with a capital letter: " + fuzz::visible(line.text));
        FUZZ_CHECK(isHeaderWord(line.sender), "sender " + fuzz::visible(line.sender));
        FUZZ_CHECK(isHeaderWord(line.messageId), "Message-ID " + fuzz::visible(line.messageId));
    }
    FUZZ_CHECK(textBytes <= 8 * size + 64, "more line text than the input could give");
    FUZZ_CHECK(keeper.commits == 0 || (keeper.commits == 1 && result == 1),
               std::to_string(keeper.commits) + " commits after result " + std::to_string(result));

    const std::string password = kPassword;
    FUZZ_CHECK(error.find(password) == std::string::npos,
               "the password in the error text: " + error);
    FUZZ_CHECK(serverSaid.find(password) == std::string::npos,
               "the password in what the server said");
    for (const std::string& entry : log.entries())
        FUZZ_CHECK(entry.find(password) == std::string::npos, "the password in the log: " + entry);
    FUZZ_CHECK(fuzz::readBytes(dir.file("tarnwick.log")).find(password) == std::string::npos,
               "the password in the log file");
    return 0;
}
