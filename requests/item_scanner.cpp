#include "requests/item_scanner.h"

#include <climits>

void ItemScanner::skipSpace() {
    while (pos_ < text_.size() && isScanSpace(text_[pos_])) ++pos_;
}

bool ItemScanner::readInt(int& value) {
    skipSpace();
    std::size_t p = pos_;
    bool negative = false;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-'))
        negative = text_[p++] == '-';
    if (p >= text_.size() || text_[p] < '0' || text_[p] > '9')
        return false;
    long long magnitude = 0;
    for (; p < text_.size() && text_[p] >= '0' && text_[p] <= '9'; ++p)
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (text_[p] - '0');
    long long v = negative ? -magnitude : magnitude;
    value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    pos_ = p;
    return true;
}

bool ItemScanner::readWord(std::string& word) {
    skipSpace();
    std::size_t start = pos_;
    while (pos_ < text_.size() && !isScanSpace(text_[pos_])) ++pos_;
    if (pos_ == start)
        return false;
    word.assign(text_.substr(start, pos_ - start));
    return true;
}

int scanRequestItems(std::string_view text, RequestItems& items) {
    ItemScanner scanner(text);
    int converted = 0;
    for (int& number : items.numbers) {
        if (!scanner.readInt(number))
            return converted;
        ++converted;
    }
    if (!scanner.readWord(items.channelList))
        return converted;
    ++converted;
    if (!scanner.readWord(items.lastWord))
        return converted;
    std::string more;
    items.wordsAfter = scanner.readWord(more);
    return converted + 1;
}
