#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mail/collected_line.h"
#include "mail/line_keeper.h"
#include "mail/mail_context.h"
#include "mail/mime_reader.h"
#include "mail/quoted_history.h"
#include "mail/request_key.h"
#include "settings/text_routines.h"

// The reading of one mail into request lines, as a mailbox reader hands its lines over: the
// same for a mail retrieved by POP3 and one fetched by IMAP.

// A reply line keeps at most this many characters.
inline constexpr std::size_t kMaxReplyChars = 1023;
// A message is kept in memory up to this size for reading it as MIME; the rest of a larger
// one is read and dropped.
inline constexpr std::size_t kMaxMessageBytes = 64 << 20;
// The request lines kept of one mail; the cycle serves far fewer of them, and every one kept
// costs memory and a spool entry.
inline constexpr std::size_t kMaxLinesOfMail = 1000;

// The text of a line as a reply or a plain message line counts it: the carriage return of
// its CR LF dropped (any other one is a character of the line), a zero byte read as a blank,
// at most 1023 characters.
std::string replyText(std::string_view raw);

// The lines of one message as they arrive. Every line is looked at as a plain mail line: the
// end of the message, or a request line (lower-cased, kept). The header block says whether
// the mail is MIME; the buffer keeps the whole mail with dot stuffing undone, up to its size
// limit (a mail that must be set aside is kept whole).
class MessageLines {
  public:
    enum Step { kMore, kEnd };

    explicit MessageLines(MessageBuffer& buffer) : buffer_(buffer) { buffer_.clear(); }

    Step take(std::string_view raw) {
        size_ += raw.size() + 1;
        if (mayMatter(raw) && replyText(raw) == ".")
            return kEnd;
        if (plainLines_.size() <= kMaxLinesOfMail) {
            if (!inHeader_ && !mime_)
                takePlainBodyLine(raw);
            else if (mayMatter(raw) && startsWithRequestKey(replyText(raw)))
                plainLines_.push_back(toLowerAscii(replyText(raw)));
        }
        keep(raw);
        return kMore;
    }

    bool isMime() const { return mime_; }
    std::vector<std::string>& plainLines() { return plainLines_; }
    // Where a plain mail's request key stood that gave no line.
    UnservedKey unservedKey() const { return unserved_; }

    // What tells this mail from another that reuses its Message-ID: "<size> <digest>", the
    // size as the server sent it and the start of the mail's digest.
    std::string fingerprint(const std::string& digest) const {
        return std::to_string(size_) + " " + (digest.empty() ? "-" : digest.substr(0, 32));
    }

  private:
    // Only a line that begins with '.' or a key's first letter can end the message or be a
    // request line.
    static bool mayMatter(std::string_view raw) {
        if (raw.empty())
            return false;
        char c = raw[0];
        return c == '.' || c == 'e' || c == 'E' || c == 's' || c == 'S';
    }

    // A line of a plain mail's text: a request line unless it stands in a reply's history.
    void takePlainBodyLine(std::string_view raw) {
        LinePlace place = history_.place(raw);
        if (place == LinePlace::kHistory)
            return;
        if (place == LinePlace::kText && mayMatter(raw) && startsWithRequestKey(replyText(raw)))
            plainLines_.push_back(toLowerAscii(replyText(raw)));
        else if (unserved_ == UnservedKey::kNone && mentionsRequestKey(raw))
            unserved_ = place == LinePlace::kText ? UnservedKey::kInText
                        : history_.forward()      ? UnservedKey::kInQuote
                                                  : UnservedKey::kNone;
    }

    void keep(std::string_view raw) {
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        if (inHeader_) {
            if (raw.empty())
                inHeader_ = false;
            else if (startsWithIgnoringCase(raw, "mime-version:"))
                mime_ = true;
            else if (startsWithIgnoringCase(raw, "subject:"))
                history_ = QuotedHistory(isForwardSubject(raw.substr(8)));
        }
        if (!raw.empty() && raw.front() == '.')
            raw.remove_prefix(1);
        if (buffer_.size() + raw.size() < kMaxMessageBytes)
            buffer_.appendLine(raw);
    }

    MessageBuffer& buffer_;
    std::vector<std::string> plainLines_;
    QuotedHistory history_{false};
    UnservedKey unserved_ = UnservedKey::kNone;
    bool inHeader_ = true;
    bool mime_ = false;
    std::size_t size_ = 0;
};

// Turns the mails of one mailbox session into request lines, appended to lines, each with its
// sender, Message-ID and key (CollectedLine::mailKey).
class MailLineCollector {
  public:
    MailLineCollector(MailContext& ctx, LineKeeper* keeper, std::vector<CollectedLine>& lines)
        : ctx_(ctx), keeper_(keeper), lines_(lines) {}

    // Keeps the request lines of a message read to its end into buffer, numbered mail; an
    // automatic mail gives none, a mail whose lines were taken before (LineKeeper::wasTaken)
    // gives none again. Without keyPrefix a mail is known by its Message-ID, size and digest
    // ("" without a Message-ID); with one, by keyPrefix and then the same ("-" without a
    // Message-ID). False when the message is to stay in the mailbox (it could not be set
    // aside); true when it is done with.
    bool collect(MessageBuffer& buffer, MessageLines& message, int mail,
                 const std::string& keyPrefix = std::string());

  private:
    LineKeeper::Reading mayParse(std::string_view mail, const std::string& digest);
    void noteMailWithoutLines(const MailReading& reading, UnservedKey unserved, int mail);

    MailContext& ctx_;
    LineKeeper* keeper_;
    std::vector<CollectedLine>& lines_;
};
