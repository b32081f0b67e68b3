#include "mail/mailbox_address.h"

#include <string_view>

namespace {

constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxDomain = 255;
constexpr std::size_t kMaxLabel = 63;

bool isLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isAtext(char c) {
    return isLetterOrDigit(c) ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool isDotString(std::string_view local) {
    if (local.empty() || local.size() > kMaxLocalPart || local.front() == '.' ||
        local.back() == '.' || local.find("..") != std::string_view::npos)
        return false;
    for (char c : local)
        if (c != '.' && !isAtext(c))
            return false;
    return true;
}

bool isLabel(std::string_view label) {
    if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label)
        if (c != '-' && !isLetterOrDigit(c))
            return false;
    return true;
}

// "[192.0.2.1]" or "[IPv6:...]": printable characters other than brackets and backslash.
bool isAddressLiteral(std::string_view domain) {
    if (domain.size() < 3 || domain.front() != '[' || domain.back() != ']')
        return false;
    for (char c : domain.substr(1, domain.size() - 2))
        if (c <= ' ' || c > '~' || c == '[' || c == ']' || c == '\\')
            return false;
    return true;
}

bool isDomain(std::string_view domain) {
    if (domain.empty() || domain.size() > kMaxDomain)
        return false;
    if (domain.front() == '[')
        return isAddressLiteral(domain);
    while (true) {
        std::size_t dot = domain.find('.');
        if (!isLabel(domain.substr(0, dot)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        domain.remove_prefix(dot + 1);
    }
}

}  // namespace

bool isMailboxAddress(std::string_view text) {
    std::size_t at = text.rfind('@');
    if (at == std::string_view::npos)
        return false;
    return isDotString(text.substr(0, at)) && isDomain(text.substr(at + 1));
}
