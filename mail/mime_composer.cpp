#include "mail/mime_composer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "settings/base64.h"
#include "mail/mail_error.h"
#include "mail/message_id.h"
#include "mail/smtp_client.h"
#include "settings/text_routines.h"

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::size_t kLineBytes = 57;  // one line of 76 base64 characters
constexpr std::size_t kLineChars = 76;
// Bytes read and encoded at a time: a whole number of lines, about a megabyte.
constexpr std::size_t kChunkBytes = kLineBytes * 16384;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

std::string separatorLine(int boundary) {
    return format("--=====================_%d==_\r\n", boundary);
}

std::string closingLine(int boundary) {
    return format("--=====================_%d==_--\r\n", boundary);
}

std::string attachmentHeaders(const std::string& name) {
    return format(
        "Content-Type: application/octet-stream; name=\"%s\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"%s\"\r\n\r\n",
        name.c_str(), name.c_str());
}

// A header value on one line: a CR or LF in it (which no reply of the robot puts there) becomes
// a blank, so it can never start a header of its own.
std::string headerValue(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    return value;
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A header line that names one Message-ID: on one line when it fits in 78 columns, else
// folded before the "<", so only an ID too long for any line makes the second line longer (the
// ID of a job holds at most 255 characters, far below the 998 a line may hold).
std::string messageIdHeader(const char* name, std::string_view id) {
    constexpr std::size_t kFoldColumns = 78;
    std::string value = headerValue(std::string(id));
    value.insert(value.begin(), '<');
    value.push_back('>');
    std::string line = name;
    line.append(std::strlen(name) + 2 + value.size() <= kFoldColumns ? ": " : ":\r\n ");
    line.append(value).append("\r\n");
    return line;
}

// The lines that place a reply among the mail it answers, right after the To line: its own
// Message-ID, the mark of an automatic reply, and the request mail's Message-ID when known.
std::string replyHeaders(const MailJob& job, const std::string& messageId) {
    std::string text = "Message-ID: " + messageId + "\r\n";
    text += "Auto-Submitted: auto-replied\r\n";
    if (!job.inReplyTo.empty()) {
        text += messageIdHeader("In-Reply-To", job.inReplyTo.view());
        text += messageIdHeader("References", job.inReplyTo.view());
    }
    return text;
}

// The text with every line ended by CR LF: a carriage return or a line feed standing alone
// becomes a CR LF pair, so no line break of the body can be read two ways on the wire.
std::string withCrLfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            ++i;
        } else if (c == '\r' || c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// The header block and the text part, up to where the first attachment part begins. A body
// with bytes beyond US-ASCII (a station name, a requester's line) is declared UTF-8, 8bit.
std::string headerAndBody(const MailJob& job, const LocalTime& time, int utcOffsetMinutes,
                          const std::string& messageId) {
    bool ascii = isAscii(job.body.view());
    const char* textType = ascii ? "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                                 : "Content-Type: text/plain; charset=\"utf-8\"\r\n";
    std::string text = dateLine(time, utcOffsetMinutes);
    text += format("From: %s\r\n", headerValue(job.from.str()).c_str());
    text += format("Subject: %s\r\n", headerValue(job.subject.str()).c_str());
    text += format("To: %s\r\n", headerValue(job.to.str()).c_str());
    text += replyHeaders(job, messageId);
    text += "MIME-Version: 1.0\r\n";
    if (job.attachmentCount <= 0) {
        text += textType;
        text +=
            ascii ? "Content-Transfer-Encoding: 7bit\r\n" : "Content-Transfer-Encoding: 8bit\r\n";
        text += "X-Mailer: Tarnwick\r\n\r\n";
        text += withCrLfLines(job.body.view());
        return text;
    }
    int boundary = boundaryNumber(time);
    text += format("Content-Type: multipart/mixed; boundary=\"=====================_%d==_\"\r\n",
                   boundary);
    text += "X-Mailer: Tarnwick\r\n\r\n";
    text += separatorLine(boundary);
    text += textType;
    if (!ascii)
        text += "Content-Transfer-Encoding: 8bit\r\n";
    text += "\r\n";
    text += withCrLfLines(job.body.view());
    text += "\r\n\r\n";
    text += separatorLine(boundary);
    return text;
}

// What the attachment parts will add, for files that can be looked at now; a file that
// cannot is left out (adding it fails later anyway).
std::size_t attachmentPartsSize(const MailJob& job, int attachmentCount, int boundary) {
    std::size_t total = 0;
    for (int i = 0; i < attachmentCount; ++i) {
        struct stat st;
        if (stat(job.attachments[i].c_str(), &st) != 0)
            continue;
        total += attachmentHeaders(attachmentName(job.attachments[i].str())).size() +
                 encodedLinesSize(static_cast<std::size_t>(st.st_size)) +
                 closingLine(boundary).size();
    }
    return total;
}

// Asks for the reserved room of a large text to be backed by large pages, so that filling
// it takes a fault per two megabytes rather than per four kilobytes. A mere hint: where the
// system declines, nothing changes.
void adviseLargePages(std::string& text) {
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (text.capacity() < 2 * kLargePage)
        return;
    auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    std::uintptr_t last = (begin + text.capacity()) & ~(kLargePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// Reads exactly n bytes unless the file ends or fails first; returns the number read or -1.
long readFully(int fd, unsigned char* buffer, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buffer + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<long>(got);
}

// Encodes n bytes as lines of 76 characters with CR LF; returns the characters written.
std::size_t encodeLines(const unsigned char* in, std::size_t n, char* out) {
    char* start = out;
    while (n > 0) {
        std::size_t line = n < kLineBytes ? n : kLineBytes;
        out += base64EncodeTo(in, line, out);
        *out++ = '\r';
        *out++ = '\n';
        in += line;
        n -= line;
    }
    return static_cast<std::size_t>(out - start);
}

// Appends the base64 lines of the open file of the given size to text. Returns 1, or 0 with
// the text in error.
int appendEncodedFile(int fd, std::size_t size, const std::string& path, std::string& text,
                      std::string& error) {
    std::size_t start = text.size();
    std::vector<unsigned char> chunk;
    try {
        text.resize(start + encodedLinesSize(size));
        chunk.resize(size < kChunkBytes ? size : kChunkBytes);
    } catch (const std::exception&) {
        setMailError(error, "Out of memory error");
        return 0;
    }
    char* out = text.data() + start;
    if (size == 0) {
        out[0] = '\r';
        out[1] = '\n';
        return 1;
    }
    std::size_t left = size;
    while (left > 0) {
        std::size_t want = left < chunk.size() ? left : chunk.size();
        if (readFully(fd, chunk.data(), want) != static_cast<long>(want)) {
            setMailError(error, "error reading file %s", path.c_str());
            return 0;
        }
        out += encodeLines(chunk.data(), want, out);
        left -= want;
    }
    return 1;
}

}  // namespace

int boundaryNumber(const LocalTime& time) {
    return time.year + 65536 * time.month;
}

std::string dateLine(const LocalTime& time, int utcOffsetMinutes) {
    const char* day = time.dayOfWeek >= 0 && time.dayOfWeek <= 6 ? kDayNames[time.dayOfWeek] : "";
    const char* month = time.month >= 1 && time.month <= 12 ? kMonthNames[time.month - 1] : "";
    int offset = std::abs(utcOffsetMinutes);
    return format("Date: %s, %.2d %s %.4d %.2d:%.2d:%.2d %c%02d%02d\r\n", day, time.day, month,
                  time.year, time.hour, time.minute, time.second, utcOffsetMinutes >= 0 ? '+' : '-',
                  offset / 60, offset % 60);
}

std::string attachmentName(const std::string& path) {
    std::size_t last = path.find_last_of("\\/:");
    if (last == std::string::npos || last == 0)
        return path;
    return path.substr(last + 1);
}

std::size_t encodedLinesSize(std::size_t fileSize) {
    std::size_t lines = fileSize == 0 ? 1 : (fileSize + kLineBytes - 1) / kLineBytes;
    return base64EncodedSize(fileSize) + 2 * lines;
}

int addAttachment(const std::string& path, bool last, int boundary, std::string& text,
                  std::string& error) {
    std::string name = attachmentName(path);
    text += attachmentHeaders(name);

    int fd = openRegularFile(path);  // a link or a FIFO at the name is never attached
    struct stat st;
    if (fd < 0 && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        setMailError(error, "error reading file %s", path.c_str());
        return 0;
    }
    if (fd < 0) {
        setMailError(error, "Error Opening %s File", path.c_str());
        return 0;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    int ok;
    if (fstat(fd, &st) != 0) {
        setMailError(error, "error reading file %s", path.c_str());
        ok = 0;
    } else {
        ok = appendEncodedFile(fd, static_cast<std::size_t>(st.st_size), path, text, error);
    }
    close(fd);
    if (!ok)
        return 0;
    text += last ? closingLine(boundary) : separatorLine(boundary);
    return 1;
}

int MakeMimeMsg(Clock& clock, const MailJob& job, std::string& text, std::string& error) {
    error.clear();
    text.clear();
    try {
        text.reserve(job.body.size() + 4096);
    } catch (const std::exception&) {
        setMailError(error, "Out of memory");
        return 0;
    }
    LocalTime time = clock.localTime();
    int offset = clock.utcOffsetMinutes();
    int count = job.attachmentCount < 0                         ? 0
                : job.attachmentCount > MailJob::maxAttachments ? MailJob::maxAttachments
                                                                : job.attachmentCount;
    int boundary = boundaryNumber(time);
    try {
        std::string start =
            headerAndBody(job, time, offset, newMessageId(job.from.str(), clock.now()));
        // The exact final size, so that the attachments are encoded straight into place.
        text.reserve(start.size() + attachmentPartsSize(job, count, boundary));
        adviseLargePages(text);
        text.append(start);
    } catch (const std::exception&) {
        setMailError(error, "Out of memory error");
        text.clear();
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (!addAttachment(job.attachments[i].str(), i == count - 1, boundary, text, error)) {
            std::string().swap(text);
            return 0;
        }
    }
    return 1;
}

int sendMailJob(MailContext& context, const MailJob& job, std::string& error,
                SendFailure* failure) {
    error.clear();
    if (failure)
        *failure = SendFailure::kTryAgain;
    std::string text;
    if (!MakeMimeMsg(context.clock, job, text, error)) {
        context.log.logMsg(true, "MakeMimeMsg Error=%s", error.c_str());
        return 0;
    }
    int sent = SendMimeMsg(context, job, text, error, failure);
    if (!sent)
        context.log.logMsg(true, "SendMimeMsg Error=%s", error.c_str());
    return sent;
}
