#include "mail/request_key.h"

#include <vector>

#include "mail/mailbox_address.h"
#include "settings/text_routines.h"

namespace {

constexpr std::size_t kFileRequestWords = 9;  // seven numbers, the channels, the addresses

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The words of the text, parted by runs of blanks; at most limit + 1 of them.
std::vector<std::string_view> wordsOf(std::string_view text, std::size_t limit) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (words.size() <= limit) {
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at == text.size())
            break;
        std::size_t start = at;
        while (at < text.size() && !isBlank(text[at])) ++at;
        words.push_back(text.substr(start, at - start));
    }
    return words;
}

bool isWholeNumber(std::string_view word) {
    if (!word.empty() && (word.front() == '+' || word.front() == '-'))
        word.remove_prefix(1);
    return !word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos;
}

// One or more mailboxes parted by commas; empty pieces are skipped.
bool isAddressList(std::string_view list) {
    bool any = false;
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view piece = list.substr(0, comma);
        if (!piece.empty()) {
            if (!isMailboxAddress(piece))
                return false;
            any = true;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return any;
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

bool mentionsRequestKey(std::string_view text) {
    for (std::string_view key : {kFileRequestKey, kInfoRequestKey}) {
        for (std::size_t at = text.find('='); at != std::string_view::npos;
             at = text.find('=', at + 1)) {
            if (at + 1 >= key.size() &&
                startsWithIgnoringCase(text.substr(at + 1 - key.size()), key))
                return true;
        }
    }
    return false;
}

bool isWholeRequestLine(std::string_view line) {
    if (line.starts_with(kInfoRequestKey)) {
        std::vector<std::string_view> words = wordsOf(line.substr(kInfoRequestKey.size()), 1);
        return words.size() == 1 && isAddressList(words[0]);
    }
    if (!line.starts_with(kFileRequestKey))
        return false;
    std::vector<std::string_view> words =
        wordsOf(line.substr(kFileRequestKey.size()), kFileRequestWords);
    if (words.size() != kFileRequestWords)
        return false;
    for (std::size_t i = 0; i < 7; ++i)
        if (!isWholeNumber(words[i]))
            return false;
    return isAddressList(words[8]);
}
