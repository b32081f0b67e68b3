#include "mail/request_key.h"

#include "settings/text_routines.h"

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view key) {
    if (text.size() < key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != key[i])
            return false;
    }
    return true;
}

}  // namespace

bool startsWithRequestKey(std::string_view text) {
    return startsWithIgnoringCase(text, kFileRequestKey) ||
           startsWithIgnoringCase(text, kInfoRequestKey);
}

std::string requestLineOf(std::string_view line) {
    std::string text;
    text.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\xc2' && i + 1 < line.size() && line[i + 1] == '\xa0') {
            c = ' ';
            ++i;
        } else if (c == '\t' || c == '\r') {
            c = ' ';
        }
        if (c == ' ' && text.empty())
            continue;
        text.push_back(c);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!startsWithRequestKey(text))
        return {};
    return toLowerAscii(std::move(text));
}
