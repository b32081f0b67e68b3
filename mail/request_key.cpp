#include "mail/request_key.h"

#include "settings/text_routines.h"

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
