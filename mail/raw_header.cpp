#include "mail/raw_header.h"

#include "settings/text_routines.h"

namespace {

constexpr std::size_t kMaxValueChars = 200;

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The text between the first '<' and the '>' after it, or the whole text.
std::string insideBrackets(const std::string& value) {
    std::size_t open = value.find('<');
    std::size_t close = open == std::string::npos ? open : value.find('>', open);
    if (close == std::string::npos)
        return value;
    return value.substr(open + 1, close - open - 1);
}

}  // namespace

std::string rawHeaderValue(std::string_view mail, std::string_view lowerName) {
    std::string value;
    bool inField = false;
    std::size_t at = 0;
    while (at < mail.size()) {
        std::size_t end = mail.find('\n', at);
        std::string_view line = mail.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? mail.size() : end + 1;
        if (line.empty() || line == "\r")
            break;  // the end of the header block
        bool continuation = line[0] == ' ' || line[0] == '\t';
        if (inField && continuation) {
            value += ' ';
            value += trimmed(line);
        } else if (inField) {
            break;
        } else if (!continuation && line.size() > lowerName.size() &&
                   line[lowerName.size()] == ':' && startsWithIgnoringCase(line, lowerName)) {
            inField = true;
            value = trimmed(line.substr(lowerName.size() + 1));
        }
        if (value.size() > kMaxValueChars) {
            value.resize(kMaxValueChars);
            break;
        }
    }
    return std::string(trimmed(value));
}

std::string rawSender(std::string_view mail) {
    std::string value = rawHeaderValue(mail, "reply-to");
    if (value.empty())
        value = rawHeaderValue(mail, "from");
    return insideBrackets(value);
}

std::string rawMessageId(std::string_view mail) {
    return insideBrackets(rawHeaderValue(mail, "message-id"));
}
