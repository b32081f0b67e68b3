#include "mail/parse_limits.h"

#include <algorithm>
#include <cctype>

#include "settings/text_routines.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::string over(int limit, const char* what) {
    return "more than " + std::to_string(limit) + " " + what;
}

// Where the lower-case word stands in the text, any letter case; npos when it does not.
std::size_t findIgnoringCase(std::string_view text, std::string_view lowerWord) {
    auto equal = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
    };
    auto at = std::search(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(), equal);
    return at == text.end() ? npos : static_cast<std::size_t>(at - text.begin());
}

// What a Content-Type line (or one of its continuation lines) says of the block's part.
enum class PartKind { kLeaf, kMultipart, kMessage };

PartKind kindIn(std::string_view line) {
    if (findIgnoringCase(line, "message/") != npos)
        return PartKind::kMessage;
    if (findIgnoringCase(line, "multipart/") != npos)
        return PartKind::kMultipart;
    return PartKind::kLeaf;
}

// The counts of one mail as its lines go by.
class MailCount {
  public:
    explicit MailCount(bool asMime) : asMime_(asMime) {}

    // Takes the next line (without its line feed). Returns false when a limit is passed at it;
    // cut() then says which. headerEnded() tells when the header block of a plain mail ended.
    bool take(std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (inHeader_)
            return takeHeaderLine(line);
        if (line.size() >= 2 && line[0] == '-' && line[1] == '-') {
            if (++parts_ > kMaxMailParts)
                return fail(over(kMaxMailParts, "parts"));
            inHeader_ = true;
        }
        return true;
    }

    bool headerEnded() const { return !asMime_ && headerEnded_; }
    const std::string& cut() const { return cut_; }

  private:
    bool takeHeaderLine(std::string_view line) {
        if (line.empty()) {
            headerEnded_ = true;
            // The header block of an enclosed message follows that of a message/... part.
            inHeader_ = kind_ == PartKind::kMessage;
            kind_ = PartKind::kLeaf;
            inContentType_ = false;
            return true;
        }
        if (++headerLines_ > kMaxMailHeaderLines)
            return fail(over(kMaxMailHeaderLines, "header lines"));
        if (line[0] != ' ' && line[0] != '\t')
            inContentType_ = startsWithIgnoringCase(line, "content-type:");
        if (inContentType_ && kind_ == PartKind::kLeaf) {
            kind_ = kindIn(line);
            if (kind_ != PartKind::kLeaf && ++containers_ > kMaxMailContainers)
                return fail(over(kMaxMailContainers, "multiparts and enclosed messages"));
        }
        return true;
    }

    bool fail(std::string why) {
        cut_ = std::move(why);
        return false;
    }

    bool asMime_;
    bool inHeader_ = true;
    bool headerEnded_ = false;
    bool inContentType_ = false;
    PartKind kind_ = PartKind::kLeaf;
    int parts_ = 0;
    int containers_ = 0;
    int headerLines_ = 0;
    std::string cut_;
};

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Counts the items of an HTML document the way its parser meets them: tags with their
// attributes, comments and declarations; the text of scripts and styles is raw, as the parser
// reads it.
class HtmlCount {
  public:
    explicit HtmlCount(std::string_view html) : html_(html) {}

    ReadableLength run() {
        std::size_t at = 0;
        while ((at = html_.find('<', at)) != npos && at + 1 < html_.size()) {
            std::size_t tag = at;
            char c = html_[at + 1];
            if (isAsciiLetter(c)) {
                if (!count())
                    return {tag, cut_};
                at = startTag(at + 1);
                if (at == tag)
                    return {tag, cut_};
            } else if (c == '!' || c == '?') {
                if (!count())
                    return {tag, cut_};
                at = html_.compare(at, 4, "<!--") == 0 ? after(at + 4, "-->") : at + 2;
            } else {
                at += 1;
            }
        }
        return {html_.size(), ""};
    }

  private:
    bool count() {
        if (++items_ <= kMaxHtmlItems)
            return true;
        cut_ = over(kMaxHtmlItems, "HTML elements and attributes");
        return false;
    }

    // Past the end mark, or the end of the text.
    std::size_t after(std::size_t from, std::string_view mark) const {
        std::size_t end = html_.find(mark, from);
        return end == npos ? html_.size() : end + mark.size();
    }

    // Reads a start tag from its name; returns where its text ends (after the raw text of a
    // script or style), or the tag's start when an attribute passed the limit.
    std::size_t startTag(std::size_t at) {
        std::size_t nameStart = at;
        while (at < html_.size() && !isHtmlSpace(html_[at]) && html_[at] != '>' && html_[at] != '/')
            ++at;
        std::string name = toLowerAscii(std::string(html_.substr(nameStart, at - nameStart)));
        for (;;) {
            while (at < html_.size() && (isHtmlSpace(html_[at]) || html_[at] == '/')) ++at;
            if (at >= html_.size())
                return at;
            if (html_[at] == '>')
                break;
            if (!count())
                return nameStart - 1;
            at = attribute(at);
        }
        ++at;
        if (name == "script" || name == "style")
            return rawTextEnd(at, name);
        return at;
    }

    // Reads one attribute, name and value; returns where it ends.
    std::size_t attribute(std::size_t at) const {
        while (at < html_.size() && !isHtmlSpace(html_[at]) && html_[at] != '>' &&
               html_[at] != '=' && html_[at] != '/')
            ++at;
        std::size_t equals = at;
        while (equals < html_.size() && isHtmlSpace(html_[equals])) ++equals;
        if (equals >= html_.size() || html_[equals] != '=')
            return at;
        at = equals + 1;
        while (at < html_.size() && isHtmlSpace(html_[at])) ++at;
        if (at < html_.size() && (html_[at] == '"' || html_[at] == '\'')) {
            std::size_t close = html_.find(html_[at], at + 1);
            return close == npos ? html_.size() : close + 1;
        }
        while (at < html_.size() && !isHtmlSpace(html_[at]) && html_[at] != '>') ++at;
        return at;
    }

    // The end of a script's or style's text: its closing tag, or the end of the document.
    std::size_t rawTextEnd(std::size_t at, const std::string& name) const {
        std::size_t close = findIgnoringCase(html_.substr(at), "</" + name);
        return close == npos ? html_.size() : at + close;
    }

    std::string_view html_;
    int items_ = 0;
    std::string cut_;
};

}  // namespace

ReadableLength readableMail(std::string_view mail, bool asMime) {
    MailCount count(asMime);
    std::size_t at = 0;
    while (at < mail.size()) {
        std::size_t end = mail.find('\n', at);
        std::size_t next = end == npos ? mail.size() : end + 1;
        if (!count.take(mail.substr(at, next - at - (end == npos ? 0 : 1))))
            return {at, count.cut()};
        if (count.headerEnded())
            return {next, ""};
        at = next;
    }
    return {mail.size(), ""};
}

ReadableLength readableHtml(std::string_view html) {
    return HtmlCount(html).run();
}
