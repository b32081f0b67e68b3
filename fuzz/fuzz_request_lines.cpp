// Request lines through the whole request path: collected from a (fake) mailbox, dispatched
// by the RequestCycle, parsed, assigned to the two recorder systems, written as request files,
// answered by a recorder played here, and replied to through a fake transport.
//
// Input: the lines of the mails, one a line; a 0x1e byte starts the next mail. Each line is
// lower-cased as the mail reader hands it over; lines without a request key are left out as
// the reader leaves them out (at most 40 lines in all).
//
// The station has two systems whose channel and volume names include hostile ones ("..",
// "A/B", "C\D", "../UP", "E..F", "W\V") beside ordinary ones (BHZ, BHN, VOL, LHZ, QUIET2).
//
// Oracle, against a reference of the documented rules written here (the formatted scan of the
// nine items and nothing after them, the 255-character line, 16 channel IDs of at most 15
// characters, 5 recipients each a mailbox (a regular expression of RFC 5321's dot-string "@"
// domain here), 20 lines a mail, length above 0 and rate 1 to 200, the first system that serves
// a channel):
// - a tick dispatches one line, and more only while they are refused lines of one mail (a
//   mail's refused lines cost one tick);
// - a refused line never produces a request file; a line the reference serves produces exactly
//   the request file(s) the reference expects, byte for byte ("REQ: ..." with the channels of
//   each system in order);
// - no channel ID holding '/', '\' or ".." reaches a request file or an attachment's name;
//   every attachment is "<tempDir><base>.<channel>.mqx" for a channel of the request served;
// - each mail with refused lines gets one refusal report, to its sender;
// - no hidden temporary request file is left behind, the spool keeps no line when all is done,
//   and the cycle ends idle.

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "fuzz/fuzz_support.h"
#include "requests/request_cycle.h"
#include "settings/mailer_settings.h"
#include "spool/spool.h"
#include "testing/fake_clock.h"
#include "testing/fake_transport.h"

namespace {

constexpr std::size_t kMaxLines = 40;

// ---- the station ---------------------------------------------------------------------------

void setChannel(RecorderSystem& system, int slot, const char* id) {
    system.channels[slot].id = id;
    system.channels[slot].component = "Z";
    system.channels[slot].location = "Vault";
}

void configure(MailerSettings& s, const std::string& root) {
    resetSettings(s);
    s.stationName = "ANMO";
    s.popServer = "pop.example";
    s.popUser = "station";
    s.popPassword = "pw";
    s.popEnable = 1;
    s.popCheckTime = 60;
    s.smtpServer = "smtp.example";
    s.fromUser = "ANMO Robot <robot@anmo.example>";
    s.tempDir = root + "tmp/";
    s.mornakDir = root + "m1/";
    s.mornakReq = root + "req1/";
    s.mornak2Dir = root + "m2/";
    s.mornak2Req = root + "req2/";

    RecorderSystem& a = s.firstSystem;
    a.systemNumber = 1;
    a.samplesPerSecond = 100;
    a.numberChannels = 6;
    const char* first[] = {"BHZ", "BHN", "BHE", "..", "A/B", "C\\D"};
    for (int i = 0; i < 6; ++i) setChannel(a, i, first[i]);
    a.volumes[0].enabled = 1;
    a.volumes[0].name = "VOL";
    a.volumes[0].memberChannels[0] = "BHE";
    a.volumes[0].memberChannels[1] = "X";
    a.volumes[1].name = "../UP";

    RecorderSystem& b = s.secondSystem;
    b.systemNumber = 2;
    b.samplesPerSecond = 40;
    b.numberChannels = 3;
    const char* second[] = {"LHZ", "E..F", "BHZ"};
    for (int i = 0; i < 3; ++i) setChannel(b, i, second[i]);
    b.volumes[0].name = "W\\V";
    b.volumes[1].enabled = 1;
    b.volumes[1].name = "QUIET2";
    b.volumes[1].memberChannels[0] = "LHN";
}

// What each system serves, by the configuration above (IDs compared in lower case).
const std::set<std::string> kServedByFirst = {"bhz", "bhn", "..", "a/b", "c\\d", "vol", "../up"};
const std::set<std::string> kServedBySecond = {"lhz", "e..f", "w\\v", "quiet2"};

bool unsafeId(std::string_view id) {
    return id.find('/') != std::string_view::npos || id.find('\\') != std::string_view::npos ||
           id.find("..") != std::string_view::npos;
}

// ---- the reference reading -----------------------------------------------------------------

bool scanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct Scan {
    std::string_view text;
    std::size_t at = 0;
    void skip() {
        while (at < text.size() && scanSpace(text[at])) ++at;
    }
    bool number(int& value) {
        skip();
        std::size_t p = at;
        bool negative = false;
        if (p < text.size() && (text[p] == '+' || text[p] == '-'))
            negative = text[p++] == '-';
        if (p >= text.size() || text[p] < '0' || text[p] > '9')
            return false;
        long long v = 0;
        for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p)
            v = std::min<long long>(v * 10 + (text[p] - '0'), 1LL << 40);
        v = negative ? -v : v;
        value = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
        at = p;
        return true;
    }
    bool word(std::string& out) {
        skip();
        std::size_t start = at;
        while (at < text.size() && !scanSpace(text[at])) ++at;
        out.assign(text.substr(start, at - start));
        return at > start;
    }
};

// The text as a 256-byte record keeps it: cut at a zero byte and after 255 characters.
std::string asRecordText(std::string_view text, std::size_t capacity) {
    text = text.substr(0, text.find('\0'));
    return std::string(text.substr(0, capacity));
}

std::size_t lengthWithoutLineEnd(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
    return n;
}

int recipients(const std::string& replyTo) {
    int count = 0;
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = replyTo.find(',', at);
        std::size_t end = comma == std::string::npos ? replyTo.size() : comma;
        if (end > at)
            ++count;
        if (comma == std::string::npos)
            return count;
        at = comma + 1;
    }
}

// True when a recipient of the reply address is no mailbox an SMTP server takes as it stands.
bool badRecipient(const std::string& replyTo) {
    static const std::regex mailbox(
        "[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*"
        "@[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*");
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = replyTo.find(',', at);
        std::string name = replyTo.substr(at, comma == std::string::npos ? comma : comma - at);
        if (!name.empty() && (name.size() > 254 || name.find('@') > 64 ||
                              !std::regex_match(name, mailbox)))
            return true;
        if (comma == std::string::npos)
            return false;
        at = comma + 1;
    }
}

struct Expected {
    bool refused = false;
    std::string file[2];  // the content of each system's request file, "" for none
    std::vector<std::string> ids;  // the channels given to a system, in order
    std::string base;
};

Expected expectFor(const std::string& line, const std::string& tempDir) {
    Expected e;
    static constexpr std::string_view fileKey = "eventfilerequest=", infoKey = "stationinfo=";
    std::string_view text = line;
    if (text.substr(0, infoKey.size()) == infoKey) {
        std::string_view rest = text.substr(infoKey.size());
        Scan scan{rest};
        std::string word;
        std::string more;  // words after the address: it ran into them
        if (infoKey.size() + lengthWithoutLineEnd(rest) > 255 || !scan.word(word) || scan.word(more)) {
            e.refused = true;
            return e;
        }
        std::string replyTo = asRecordText(word, 255);
        e.refused = recipients(replyTo) > 5 || badRecipient(replyTo);
        return e;
    }
    if (text.substr(0, fileKey.size()) != fileKey)
        return e;
    std::string_view rest = text.substr(fileKey.size());
    if (fileKey.size() + lengthWithoutLineEnd(rest) > 255) {
        e.refused = true;
        return e;
    }
    Scan scan{rest};
    int n[7];
    std::string list, replyTo;
    for (int& value : n)
        if (!scan.number(value)) {
            e.refused = true;
            return e;
        }
    std::string more;  // words after the address: it ran into them
    if (!scan.word(list) || !scan.word(replyTo) || scan.word(more)) {
        e.refused = true;
        return e;
    }
    std::vector<std::string> pieces;
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t end = list.find_first_of(",\n\r", at);
        if (end == std::string::npos)
            end = list.size();
        if (end > at)
            pieces.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    if (pieces.empty())
        return e;  // dropped without a word
    if (pieces.size() > 16 ||
        std::any_of(pieces.begin(), pieces.end(), [](const std::string& p) { return p.size() > 15; })) {
        e.refused = true;
        return e;
    }
    if (recipients(asRecordText(replyTo, 255)) > 5 || badRecipient(asRecordText(replyTo, 255))) {
        e.refused = true;
        return e;
    }
    std::string lists[2];
    for (const std::string& piece : pieces) {
        std::string id = asRecordText(piece, 15);
        std::string lower = id;  // the line is lower case already
        if (unsafeId(id))
            continue;
        int system = kServedByFirst.count(lower) ? 0 : kServedBySecond.count(lower) ? 1 : -1;
        if (system < 0)
            continue;
        if (!lists[system].empty())
            lists[system] += ',';
        lists[system] += id;
        e.ids.push_back(id);
    }
    const int month = n[0], day = n[1], year = n[2], hour = n[3], minute = n[4], length = n[5],
              rate = n[6];
    if (e.ids.empty() || length <= 0 || rate <= 0 || rate > 200) {
        e.ids.clear();
        return e;
    }
    char number[128];
    std::snprintf(number, sizeof number, "%02d%02d%02d%02d%02d", year % 100, month, day, hour, minute);
    e.base = tempDir + number;
    const int rates[2] = {100, 40};
    for (int system = 0; system < 2; ++system) {
        if (lists[system].empty())
            continue;
        int decimation = rate < rates[system] ? rates[system] / rate : 1;
        char head[256];
        std::snprintf(head, sizeof head, "REQ: %d %d %d %d %d %d %d ", month, day, year, hour,
                      minute, length, decimation);
        e.file[system] = head + lists[system] + " " + e.base + "\n";
    }
    return e;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool startsWithKey(const std::string& line) {
    return line.rfind("eventfilerequest=", 0) == 0 || line.rfind("stationinfo=", 0) == 0;
}

bool isRefusalReport(const MailJob& job) {
    std::string_view body = job.body.view();
    return body.find("\r\nError: Bad Request Line = ") != std::string_view::npos ||
           body.find("\r\nError: Too many ") != std::string_view::npos ||
           body.find("\r\nError: Bad Recipient Address = ") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> mails =
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<CollectedLine> collected;
    for (std::size_t m = 0; m < mails.size() && collected.size() < kMaxLines; ++m) {
        for (const std::string& raw : fuzz::splitLines(mails[m])) {
            std::string text = lowerAscii(raw);
            if (!startsWithKey(text))
                continue;
            CollectedLine line(text);
            line.mail = static_cast<int>(m) + 1;
            line.sender = "sender" + std::to_string(m + 1) + "@example.org";
            line.messageId = "m" + std::to_string(m + 1) + "@example.org";
            collected.push_back(line);
            if (collected.size() == kMaxLines)
                break;
        }
    }
    if (collected.empty())
        return -1;

    fuzz::ScratchDir dir;
    for (const char* sub : {"tmp", "m1", "m2", "req1", "req2"}) fuzz::makeDir(dir.file(sub));
    const std::string tempDir = dir.file("tmp/");
    const std::string requestDirs[2] = {dir.file("req1/"), dir.file("req2/")};

    FakeClock clock;
    MailerSettings settings;
    configure(settings, dir.path());
    ActivityLog log(clock, dir.file("tarnwick.log"));
    Statistics statistics;
    FakeTransport transport;
    Spool spool(dir.path(), log);
    FUZZ_CHECK(spool.open(), "the spool cannot be opened");
    RequestCycle cycle(RequestContext{settings, log, clock}, statistics, transport, spool);
    transport.mailbox = collected;

    // The reference: the refusals a mail gets, counting its lines as they are dispatched.
    std::vector<Expected> expected;
    std::set<int> mailsWithRefusals;
    int previousMail = 0, taken = 0;
    for (const CollectedLine& line : collected) {
        if (line.mail != previousMail) {
            previousMail = line.mail;
            taken = 0;
        }
        Expected e = expectFor(line.text, tempDir);
        if (++taken > 20) {
            e = Expected{};
            e.refused = true;
        }
        if (e.refused)
            mailsWithRefusals.insert(line.mail);
        expected.push_back(e);
    }

    const int total = static_cast<int>(collected.size());
    int dispatched = 0;
    const Expected* served = nullptr;  // the request whose answer is awaited
    std::size_t sentBefore = 0;
    cycle.requestCheckNow();
    for (int tick = 0; tick < total * 3 + 10; ++tick) {
        ++clock.seconds;
        cycle.onTick();
        int now = total - cycle.linesPending();
        // Whatever the recorder finds in its request directories.
        std::string found[2];
        for (int system = 0; system < 2; ++system) {
            for (const std::string& name : fuzz::listDir(requestDirs[system])) {
                FUZZ_CHECK(name[0] != '.', "a hidden request file is left: " + name);
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ack") == 0)
                    continue;
                std::string expectedName = system == 0 ? "RQ070509042.sy1" : "RQ070509042.sy2";
                FUZZ_CHECK(name == expectedName, "request file " + fuzz::visible(name));
                found[system] = fuzz::readBytes(requestDirs[system] + name);
                ::unlink((requestDirs[system] + name).c_str());
            }
        }
        if (now > dispatched) {
            // Lines before the last of the tick: refused lines of the last one's mail.
            for (int i = dispatched; i + 1 < now; ++i) {
                auto at = static_cast<std::size_t>(i);
                FUZZ_CHECK(expected[at].refused && collected[at + 1].mail == collected[at].mail,
                           "a line taken in the same tick after " + fuzz::visible(collected[at].text));
            }
            auto last = static_cast<std::size_t>(now - 1);
            if (expected[last].refused && now < total)
                FUZZ_CHECK(collected[last + 1].mail != collected[last].mail,
                           "a refused line of the mail left for the next tick");
            dispatched = now - 1;
            const Expected& e = expected[static_cast<std::size_t>(dispatched)];
            const std::string& line = collected[static_cast<std::size_t>(dispatched)].text;
            for (int system = 0; system < 2; ++system) {
                FUZZ_CHECK(!(e.refused && !found[system].empty()),
                           "a refused line produced a request file: " + fuzz::visible(line));
                FUZZ_CHECK(found[system] == e.file[system],
                           "system " + std::to_string(system + 1) + " request file\n  " +
                               fuzz::visible(found[system]) + "\nexpected\n  " +
                               fuzz::visible(e.file[system]) + "\nfor " + fuzz::visible(line));
            }
            dispatched = now;
            if (!found[0].empty() || !found[1].empty()) {
                // The recorder cuts every channel it was asked for and says "ok".
                for (const std::string& id : e.ids)
                    fuzz::writeBytes(e.base + "." + id + ".mqx", "event data of " + id);
                for (int system = 0; system < 2; ++system)
                    if (!found[system].empty())
                        fuzz::writeBytes(requestDirs[system] +
                                             (system == 0 ? "RQ070509042.sy1.ack" : "RQ070509042.sy2.ack"),
                                         "ok\n");
                served = &e;
                sentBefore = transport.sent.size();
            }
        } else {
            FUZZ_CHECK(found[0].empty() && found[1].empty(),
                       "a request file written without a line dispatched");
        }
        // Replies with attachments: only the files of the request served.
        for (std::size_t j = sentBefore; j < transport.sent.size(); ++j) {
            const MailJob& job = transport.sent[j];
            for (int a = 0; a < job.attachmentCount; ++a) {
                std::string path = job.attachments[a].str();
                FUZZ_CHECK(served != nullptr, "an attachment without a request: " + fuzz::visible(path));
                FUZZ_CHECK(path.compare(0, tempDir.size(), tempDir) == 0 &&
                               path.find('/', tempDir.size()) == std::string::npos,
                           "attachment outside the temporary directory: " + fuzz::visible(path));
                bool ok = false;
                for (const std::string& id : served->ids)
                    ok = ok || path == served->base + "." + id + ".mqx";
                FUZZ_CHECK(ok, "attachment not of a channel served: " + fuzz::visible(path));
                FUZZ_CHECK(!unsafeId(path.substr(tempDir.size())),
                           "unsafe attachment name: " + fuzz::visible(path));
            }
        }
        sentBefore = transport.sent.size();
        if (dispatched == total && !cycle.busy())
            break;
    }
    FUZZ_CHECK(dispatched == total, "only " + std::to_string(dispatched) + " of " +
                                        std::to_string(total) + " lines dispatched");
    FUZZ_CHECK(!cycle.busy(), "the cycle is still busy");

    fuzz::note(std::to_string(total) + " lines, " + std::to_string(transport.sent.size()) +
               " replies sent, " + std::to_string(mailsWithRefusals.size()) +
               " mails with refused lines");
    std::map<int, int> refusalReports;
    for (const MailJob& job : transport.sent) {
        if (!isRefusalReport(job))
            continue;
        std::string to = job.to.str();
        FUZZ_CHECK(to.rfind("sender", 0) == 0, "a refusal report to " + fuzz::visible(to));
        ++refusalReports[std::atoi(to.c_str() + 6)];
    }
    for (int mail : mailsWithRefusals)
        FUZZ_CHECK(refusalReports[mail] == 1, "mail " + std::to_string(mail) + " got " +
                                                  std::to_string(refusalReports[mail]) +
                                                  " refusal reports");
    for (const auto& [mail, count] : refusalReports)
        FUZZ_CHECK(mailsWithRefusals.count(mail), "mail " + std::to_string(mail) +
                                                      " got a refusal report for no refused line");
    FUZZ_CHECK(fuzz::listDir(dir.file("spool/lines/")).empty(), "lines left in the spool");
    return 0;
}
