#include "mail/mailbox_address.h"

#include <cstring>

namespace {

constexpr std::size_t kMaxLocalChars = 64;
constexpr std::size_t kMaxAddressChars = 254;

bool isLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isAtomChar(char c) {
    return isLetterOrDigit(c) || (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

// Dot-separated pieces, none empty, each of which passes the test.
template <typename Test>
bool dotSeparated(std::string_view text, Test pieceIsGood) {
    while (true) {
        std::size_t dot = text.find('.');
        std::string_view piece = text.substr(0, dot);
        if (piece.empty() || !pieceIsGood(piece))
            return false;
        if (dot == std::string_view::npos)
            return true;
        text.remove_prefix(dot + 1);
    }
}

bool isAtom(std::string_view atom) {
    for (char c : atom)
        if (!isAtomChar(c))
            return false;
    return true;
}

bool isLabel(std::string_view label) {
    if (label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label)
        if (!isLetterOrDigit(c) && c != '-')
            return false;
    return true;
}

}  // namespace

bool isMailboxAddress(std::string_view address) {
    std::size_t at = address.find('@');
    if (at == std::string_view::npos || address.size() > kMaxAddressChars || at > kMaxLocalChars)
        return false;
    return dotSeparated(address.substr(0, at), isAtom) &&
           dotSeparated(address.substr(at + 1), isLabel);
}
