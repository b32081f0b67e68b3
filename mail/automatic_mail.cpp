#include "mail/automatic_mail.h"

#include <string>

#include "settings/text_routines.h"

namespace {

// The value without its blanks around it and without parameters after ';', lower-cased.
std::string keyword(std::string_view value) {
    value = value.substr(0, value.find(';'));
    std::size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = value.find_last_not_of(" \t\r\n");
    return toLowerAscii(std::string(value.substr(first, last - first + 1)));
}

std::string localPart(std::string_view address) {
    return keyword(address.substr(0, address.rfind('@')));
}

}  // namespace

bool isAutomaticMail(const AutomaticMailSigns& signs) {
    if (signs.listHeader)
        return true;
    std::string submitted = keyword(signs.autoSubmitted);
    if (!submitted.empty() && submitted != "no")
        return true;
    std::string precedence = keyword(signs.precedence);
    if (precedence == "bulk" || precedence == "junk" || precedence == "list" ||
        precedence == "auto_reply")
        return true;
    if (keyword(signs.contentType) == "multipart/report")
        return true;
    std::string from = localPart(signs.fromAddress);
    if (from == "mailer-daemon" || from == "postmaster")
        return true;
    std::string returnPath = keyword(signs.returnPath);
    std::erase(returnPath, ' ');
    return returnPath == "<>";
}
