// The MIME composer: MakeMimeMsg with any body, subject and attachment bytes.
//
// Input: records cut at 0x1e: [0] the body, [1] the subject, [2] To, [3] From, [4] the request's
// Message-ID (In-Reply-To), then one record an attachment: a first line with the file's name
// (one made up when it is not a plain name) and the file's bytes after it. A name "!missing",
// "!dir", "!link" or "!fifo" puts no file, a directory, a link or a FIFO there instead. The
// request's Message-ID loses its CR and LF, as the mail reader gives it none.
//
// Oracle:
// - the header block is the composer's lines in their order (Date, From, Subject, To,
//   Message-ID, Auto-Submitted, In-Reply-To and References when known, MIME-Version,
//   Content-Type, Content-Transfer-Encoding without attachments, X-Mailer), each at most 998
//   characters, ended by CR LF, with no other CR or LF, the values being the job's (a CR or LF
//   in From, Subject or To written as a blank, so that it cannot begin a header of its own);
// - without attachments the body follows the blank line, its lines unchanged and each ended by
//   CR LF (a CR LF pair, a lone CR and a lone LF each end a line), declared us-ascii 7bit or
//   utf-8 8bit by its bytes;
// - with attachments the boundary is the one of the month, and a line beginning with "--" and
//   the boundary appears exactly where a part begins or the message ends, nowhere else; the
//   text part holds the body, its lines ended by CR LF; each attachment part has its three header lines (at
//   most 998 characters) naming the file, then base64 lines of 76 characters (the last one at
//   most 76, one empty line for an empty file) ended by CR LF, which the strict decoder turns
//   back into the file's bytes;
// - an attachment that is not a regular file (missing, a directory, a link, a FIFO) fails the
//   composition with an error text and an empty message.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/mime_composer.h"
#include "testing/fake_clock.h"

namespace {

// The body as the message carries it: its lines, split at every CR LF pair, lone CR and lone
// LF, each ended by CR LF (the last one only when the body ended with a line break).
std::string crLfLines(std::string_view body) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\r' && body[i] != '\n')
            continue;
        lines.push_back(body.substr(start, i - start));
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    std::string out;
    for (std::string_view line : lines) out += std::string(line) + "\r\n";
    return out + std::string(body.substr(start));
}

// The value as a header line carries it: each CR or LF a blank.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string withoutLineEnds(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

bool plainName(const std::string& name) {
    return !name.empty() && name.size() <= 100 && name != "." && name != ".." &&
           name.find_first_of(std::string("/\r\n\0", 4)) == std::string::npos;
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A line (without its CR LF) that the composer writes in a header: at most 998 characters, no
// CR or LF of its own.
void checkHeaderLine(std::string_view line, const std::string& where) {
    FUZZ_CHECK(line.size() <= 998, where + " line of " + std::to_string(line.size()) + " characters");
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos,
               where + " line with a CR or LF of its own: " + fuzz::visible(line));
}

// Takes the next CR LF line of text from at; false when there is none.
bool nextLine(std::string_view text, std::size_t& at, std::string_view& line) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos)
        return false;
    line = text.substr(at, end - at);
    at = end + 2;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> records =
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size));
    auto record = [&](std::size_t i, const char* otherwise) {
        return i < records.size() ? records[i] : std::string(otherwise);
    };
    fuzz::ScratchDir dir;
    FakeClock clock;

    MailJob job;
    job.body = record(0, "Hello.\r\n");
    // The part boundary is fixed by the month; a body line that begins with it would end the
    // text part early. The robot's own bodies never hold one (each line begins with its own
    // words, a requester's text only after "Error: "), so such bodies are not composed here.
    std::string lines = "\n" + job.body.str();
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    if (lines.find("\n--=====================_") != std::string::npos)
        return -1;
    job.subject = record(1, "Your Event File");
    job.to = record(2, "ann@example.org");
    job.from = record(3, "Station ANMO <robot@anmo.example.org>");
    job.inReplyTo = withoutLineEnds(record(4, ""));

    std::vector<std::string> contents, names;
    bool expectFailure = false;
    for (std::size_t i = 5; i < records.size() && job.attachmentCount < MailJob::maxAttachments; ++i) {
        std::size_t lf = records[i].find('\n');
        std::string name = records[i].substr(0, lf);
        std::string content = lf == std::string::npos ? "" : records[i].substr(lf + 1);
        std::string path;
        if (name == "!missing" || name == "!dir" || name == "!link" || name == "!fifo") {
            path = dir.file("special" + std::to_string(i));
            if (name == "!dir")
                fuzz::makeDir(path);
            else if (name == "!link") {
                fuzz::writeBytes(path + ".target", content);
                ::symlink((path + ".target").c_str(), path.c_str());
            } else if (name == "!fifo")
                ::mkfifo(path.c_str(), 0600);
            expectFailure = true;
        } else {
            if (!plainName(name) || name.rfind("special", 0) == 0)
                name = "file" + std::to_string(i) + ".mqx";
            path = dir.file(name);
            if (fuzz::exists(path))
                continue;
            fuzz::writeBytes(path, content);
        }
        contents.push_back(content);
        job.attachments[job.attachmentCount++] = path;
        std::size_t cut = path.find_last_of("\\/:");
        names.push_back(path.substr(cut + 1));
    }

    std::string text, error = "old";
    int result = MakeMimeMsg(clock, job, text, error);
    fuzz::note("result " + std::to_string(result) + ", " + std::to_string(job.attachmentCount) +
               " attachments, " + std::to_string(text.size()) + " bytes, error \"" + error + "\"");
    if (expectFailure) {
        FUZZ_CHECK(result == 0 && text.empty() && !error.empty(),
                   "an attachment that is not a regular file was composed");
        return 0;
    }
    FUZZ_CHECK(result == 1 && error.empty(), "composition failed: " + error);

    // The header block.
    std::string_view message = text;
    std::size_t headerEnd = message.find("\r\n\r\n");
    FUZZ_CHECK(headerEnd != std::string_view::npos, "no blank line after the headers");
    const bool attachments = job.attachmentCount > 0;
    const bool ascii = isAscii(job.body.view());
    const std::string boundary =
        "=====================_" + std::to_string(clock.local.year + 65536 * clock.local.month) + "==_";
    std::vector<std::string> expected = {
        "Date: Wed, 19 Feb 2003 07:05:09 +0000",
        "From: " + oneLine(job.from.str()),
        "Subject: " + oneLine(job.subject.str()),
        "To: " + oneLine(job.to.str()),
        "Message-ID: ",
        "Auto-Submitted: auto-replied"};
    if (!job.inReplyTo.empty()) {
        // On one line when it fits in 78 columns, else folded before the "<".
        for (std::string name : {"In-Reply-To", "References"}) {
            std::string value = "<" + job.inReplyTo.str() + ">";
            if (name.size() + 2 + value.size() <= 78) {
                expected.push_back(name + ": " + value);
            } else {
                expected.push_back(name + ":");
                expected.push_back(" " + value);
            }
        }
    }
    expected.push_back("MIME-Version: 1.0");
    if (attachments) {
        expected.push_back("Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
    } else {
        expected.push_back(ascii ? "Content-Type: text/plain; charset=\"us-ascii\""
                                 : "Content-Type: text/plain; charset=\"utf-8\"");
        expected.push_back(ascii ? "Content-Transfer-Encoding: 7bit" : "Content-Transfer-Encoding: 8bit");
    }
    expected.push_back("X-Mailer: Tarnwick");
    std::string_view headers = message.substr(0, headerEnd + 2);
    std::size_t at = 0;
    std::string_view line;
    for (const std::string& want : expected) {
        FUZZ_CHECK(nextLine(headers, at, line), "the header block ends before " + want);
        checkHeaderLine(line, "header");
        if (want == "Message-ID: ") {
            FUZZ_CHECK(line.rfind("Message-ID: <", 0) == 0 && line.back() == '>' &&
                           line.find_first_of(" \t<>", 13) == line.size() - 1,
                       "Message-ID line " + fuzz::visible(line));
        } else {
            FUZZ_CHECK(line == want, "header line " + fuzz::visible(line) + ", expected " + fuzz::visible(want));
        }
    }
    FUZZ_CHECK(at == headers.size(), "more header lines: " + fuzz::visible(headers.substr(at)));

    std::string_view rest = message.substr(headerEnd + 4);
    if (!attachments) {
        FUZZ_CHECK(rest == crLfLines(job.body.view()), "the body changed");
        return 0;
    }

    // Where a line begins with the delimiter.
    const std::string delimiter = "--" + boundary;
    std::vector<std::size_t> delimiters;
    for (std::size_t p = 0; p < rest.size();) {
        if (rest.compare(p, delimiter.size(), delimiter) == 0)
            delimiters.push_back(p);
        std::size_t lf = rest.find('\n', p);
        if (lf == std::string_view::npos)
            break;
        p = lf + 1;
    }
    const std::size_t parts = static_cast<std::size_t>(job.attachmentCount) + 1;
    FUZZ_CHECK(delimiters.size() == parts + 1,
               std::to_string(delimiters.size()) + " lines begin with the boundary, expected " +
                   std::to_string(parts + 1));
    for (std::size_t i = 0; i < delimiters.size(); ++i) {
        std::size_t p = delimiters[i];
        bool last = i + 1 == delimiters.size();
        std::string want = delimiter + (last ? "--\r\n" : "\r\n");
        FUZZ_CHECK(rest.compare(p, want.size(), want) == 0,
                   "delimiter line " + fuzz::visible(rest.substr(p, want.size() + 2)));
        if (i > 0)
            FUZZ_CHECK(p >= 2 && rest.compare(p - 2, 2, "\r\n") == 0, "a delimiter not after CR LF");
        if (last)
            FUZZ_CHECK(p + want.size() == rest.size(), "text after the closing delimiter");
    }
    FUZZ_CHECK(delimiters[0] == 0, "text before the first delimiter");

    // The text part.
    std::string_view textPart =
        rest.substr(delimiter.size() + 2, delimiters[1] - delimiter.size() - 2);
    std::string wantText = ascii ? "Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\n"
                                 : "Content-Type: text/plain; charset=\"utf-8\"\r\n"
                                   "Content-Transfer-Encoding: 8bit\r\n\r\n";
    wantText += crLfLines(job.body.view()) + "\r\n\r\n";
    FUZZ_CHECK(textPart == wantText, "the text part is " + fuzz::visible(textPart));

    // The attachments.
    for (int a = 0; a < job.attachmentCount; ++a) {
        std::size_t start = delimiters[a + 1] + delimiter.size() + 2;
        std::string_view part = rest.substr(start, delimiters[a + 2] - start);
        std::string where = "attachment " + std::to_string(a + 1);
        std::size_t p = 0;
        const std::string& name = names[static_cast<std::size_t>(a)];
        const std::string wantHeaders[3] = {
            "Content-Type: application/octet-stream; name=\"" + name + "\"",
            "Content-Transfer-Encoding: base64",
            "Content-Disposition: attachment; filename=\"" + name + "\""};
        for (const std::string& want : wantHeaders) {
            FUZZ_CHECK(nextLine(part, p, line), where + ": part headers end early");
            checkHeaderLine(line, where + " header");
            FUZZ_CHECK(line == want, where + " header " + fuzz::visible(line));
        }
        FUZZ_CHECK(nextLine(part, p, line) && line.empty(), where + ": no blank line after its headers");
        std::string encoded;
        std::vector<std::size_t> lengths;
        while (p < part.size()) {
            FUZZ_CHECK(nextLine(part, p, line), where + ": a base64 line without CR LF");
            lengths.push_back(line.size());
            encoded += line;
        }
        const std::string& content = contents[static_cast<std::size_t>(a)];
        FUZZ_CHECK(!lengths.empty(), where + ": no base64 line");
        for (std::size_t i = 0; i + 1 < lengths.size(); ++i)
            FUZZ_CHECK(lengths[i] == 76, where + ": a base64 line of " + std::to_string(lengths[i]));
        FUZZ_CHECK(lengths.back() <= 76 && (lengths.back() > 0 || content.empty()),
                   where + ": last base64 line of " + std::to_string(lengths.back()));
        std::string decoded;
        FUZZ_CHECK(fuzz::strictBase64Decode(encoded, decoded), where + ": not strict base64");
        FUZZ_CHECK(decoded == content, where + " does not decode to the file's bytes");
    }
    return 0;
}
