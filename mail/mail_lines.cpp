#include "mail/mail_lines.h"

#include <algorithm>

#include "activity/activity_log.h"
#include "mail/mail_digest.h"
#include "mail/raw_header.h"

std::string replyText(std::string_view raw) {
    if (!raw.empty() && raw.back() == '\r')
        raw.remove_suffix(1);
    std::string text(raw.substr(0, kMaxReplyChars));
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

// Whether the mail in the buffer may be parsed: not when parsing it stopped the robot twice.
// It is then set aside by the keeper and deleted, or left on the server when it could not be.
LineKeeper::Reading MailLineCollector::mayParse(std::string_view mail, const std::string& digest) {
    if (!keeper_)
        return LineKeeper::Reading::kParse;
    LineKeeper::Reading verdict = keeper_->startReading(mail, digest);
    if (verdict == LineKeeper::Reading::kParse)
        return verdict;
    std::string id = rawMessageId(mail), sender = rawSender(mail);
    if (verdict == LineKeeper::Reading::kSetAside)
        ctx_.log.logMsg(true, "Mail <%s> from %s set aside: reading it stopped the robot twice",
                        id.c_str(), sender.c_str());
    else
        ctx_.log.logMsg(true,
                        "Mail <%s> from %s left on the server: reading it stopped the "
                        "robot twice and it could not be set aside",
                        id.c_str(), sender.c_str());
    return verdict;
}

// Keeps the request lines of a message read to its end, with its sender and Message-ID; an
// automatic mail gives none. False when the message is to stay on the server.
bool MailLineCollector::collect(MessageBuffer& buffer, MessageLines& message, int mail,
                                const std::string& keyPrefix) {
    std::string why;
    if (!prepareMailReading(why)) {
        ctx_.log.logMsg(true, "Mail left on the server: %s", why.c_str());
        return false;
    }
    // One digest of the mail serves the note of the mail being parsed and its key.
    std::string_view bytes = buffer.view();
    const std::string digest = keeper_ ? mailDigest(bytes) : std::string();
    LineKeeper::Reading verdict = mayParse(bytes, digest);
    if (verdict != LineKeeper::Reading::kParse)
        return verdict == LineKeeper::Reading::kSetAside;
    MailReading reading = readMail(buffer, message.isMime());
    if (keeper_)
        keeper_->readingDone();
    if (!reading.cut.empty())
        ctx_.log.logNotice("Mail <%s> from %s read only in part: %s", reading.messageId.c_str(),
                           reading.sender.c_str(), reading.cut.c_str());
    if (reading.automatic) {
        std::string from = reading.from.empty() ? "<>" : reading.from;
        ctx_.log.logNotice("Automatic mail from %s not answered", from.c_str());
        return true;
    }
    // Known by its Message-ID and its content, so a different mail that reuses the Message-ID
    // is served.
    std::string content = reading.messageId.empty()
                              ? std::string()
                              : reading.messageId + " " + message.fingerprint(digest);
    std::string mailKey =
        keyPrefix.empty() ? content : keyPrefix + (content.empty() ? std::string("-") : content);
    if (keeper_ && !mailKey.empty() && keeper_->wasTaken(mailKey)) {
        // Read before a stop that came between keeping its lines and the server's deletion.
        ctx_.log.logMsg(false, "Mail <%s> was read before: its requests are already kept",
                        reading.messageId.c_str());
        return true;
    }
    std::vector<std::string>& texts =
        message.isMime() ? reading.requestLines : message.plainLines();
    if (texts.empty()) {
        noteMailWithoutLines(reading,
                             message.isMime() ? reading.unservedKey : message.unservedKey(), mail);
        return true;
    }
    if (texts.size() > kMaxLinesOfMail) {
        ctx_.log.logNotice("Mail <%s> from %s: only its first %zu request lines are read",
                           reading.messageId.c_str(), reading.sender.c_str(), kMaxLinesOfMail);
        texts.resize(kMaxLinesOfMail);
    }
    const int count = static_cast<int>(texts.size());
    for (std::string& text : texts) {
        CollectedLine line(std::move(text));
        line.sender = reading.sender;
        line.messageId = reading.messageId;
        line.mailKey = mailKey;
        line.mail = mail;
        line.linesOfMail = count;
        lines_.push_back(std::move(line));
    }
    return true;
}

// A mail that gave no request line is named in the list; when it held a request key its sender
// is told why nothing was served, through a line of its own.
void MailLineCollector::noteMailWithoutLines(const MailReading& reading, UnservedKey unserved,
                                             int mail) {
    std::string from = reading.from.empty() ? "<>" : reading.from;
    if (unserved == UnservedKey::kNone) {
        ctx_.log.logMsg(false, "Mail from %s: no request lines", from.c_str());
        return;
    }
    std::string reason = unservedKeyReason(unserved);
    ctx_.log.logMsg(true, "Mail from %s: no request line served: %s", from.c_str(),
                    reason.substr(0, reason.find(':')).c_str());
    CollectedLine line(std::string(kUnservedMailMark) + reason);
    line.sender = reading.sender;
    line.messageId = reading.messageId;
    line.mail = mail;
    line.linesOfMail = 1;
    lines_.push_back(std::move(line));
}
