#include "mail/quoted_history.h"

#include "settings/text_routines.h"

namespace {

// The line without blanks, tabs and carriage returns at its ends, lower-cased (ASCII letters).
std::string trimmedLower(std::string_view line) {
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = line.find_last_not_of(" \t\r");
    return toLowerAscii(std::string(line.substr(first, last - first + 1)));
}

bool startsWithAny(std::string_view text, std::initializer_list<std::string_view> starts) {
    for (std::string_view start : starts)
        if (text.starts_with(start))
            return true;
    return false;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> words) {
    for (std::string_view word : words)
        if (text.find(word) != std::string_view::npos)
            return true;
    return false;
}

// The words of a line framed by dashes ("-----Original Message-----"); "" for any other line.
std::string_view dashedWords(std::string_view line) {
    if (!line.starts_with("---"))
        return {};
    std::size_t first = line.find_first_not_of("- ");
    std::size_t last = line.find_last_not_of("- ");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, last - first + 1);
}

bool isForwardMarker(std::string_view line) {
    if (startsWithAny(line, {"begin forwarded message:", "anfang der weitergeleiteten e-mail:",
                             "début du message réexpédié :"}))
        return true;
    return containsAny(dashedWords(line),
                       {"forwarded message", "weitergeleitete nachricht", "message transféré",
                        "mensaje reenviado", "messaggio inoltrato", "doorgestuurd bericht",
                        "mensagem encaminhada", "vidarebefordrat meddelande"});
}

bool isOriginalMessage(std::string_view line) {
    std::string_view words = dashedWords(line);
    for (std::string_view phrase :
         {"original message", "ursprüngliche nachricht", "message d'origine", "mensaje original",
          "messaggio originale", "oorspronkelijk bericht", "mensagem original",
          "originalmeddelande", "oprindelig meddelelse", "opprinnelig melding"})
        if (words == phrase)
            return true;
    return false;
}

bool isOutlookFrom(std::string_view line) {
    return startsWithAny(line, {"from:", "von:", "de:", "da:", "van:", "från:", "fra:"});
}

bool isOutlookSent(std::string_view line) {
    return startsWithAny(
        line, {"sent:", "date:", "gesendet:", "datum:", "envoyé :", "envoyé:", "enviado el:",
               "enviado:", "inviato:", "data:", "verzonden:", "skickat:", "sendt:"});
}

// "On <date>, <name> wrote:" and its translations: the opening word, and the verb before the
// closing colon.
bool isAttribution(std::string_view line) {
    struct Form {
        std::string_view opening;
        std::string_view verb;
    };
    static constexpr Form kForms[] = {
        {"on ", "wrote"},      {"am ", "schrieb"}, {"le ", "a écrit"},  {"el ", "escribió"},
        {"il ", "ha scritto"}, {"op ", "schreef"}, {"em ", "escreveu"}, {"den ", "skrev"},
    };
    if (!line.ends_with(":"))
        return false;
    for (const Form& form : kForms)
        if (line.starts_with(form.opening) && line.find(form.verb) != std::string_view::npos)
            return true;
    return false;
}

}  // namespace

LinePlace QuotedHistory::place(std::string_view raw) {
    if (inHistory_)
        return LinePlace::kHistory;
    std::string line = trimmedLower(raw);
    bool quoted = line.starts_with(">");
    if (afterAttribution_) {
        if (line.empty() || quoted) {
            quotedSeen_ = quotedSeen_ || quoted;
            return LinePlace::kHistory;
        }
        if (!quotedSeen_) {
            inHistory_ = true;  // the client did not quote: what follows is the old mail
            return LinePlace::kHistory;
        }
        afterAttribution_ = false;
        lastLine_.clear();
    }
    if (line.empty())
        return LinePlace::kText;
    std::string previous = std::move(lastLine_);
    lastLine_ = line;
    bool fromBefore = fromLine_;
    fromLine_ = isOutlookFrom(line);
    if (quoted)
        return LinePlace::kQuoted;
    if (isForwardMarker(line)) {
        forward_ = true;
        return LinePlace::kText;
    }
    if (forward_)
        return LinePlace::kText;
    if (isOriginalMessage(line) || (fromBefore && isOutlookSent(line))) {
        inHistory_ = true;
        return LinePlace::kHistory;
    }
    bool wrapped = !previous.empty() && !previous.ends_with(":");
    if (isAttribution(line) || (wrapped && isAttribution(previous + " " + line))) {
        afterAttribution_ = true;
        quotedSeen_ = false;
        return LinePlace::kHistory;
    }
    return LinePlace::kText;
}

bool isForwardSubject(std::string_view subject) {
    std::string text = trimmedLower(subject);
    return startsWithAny(text, {"fwd:", "fw:", "wg:", "tr:", "rv:"});
}
