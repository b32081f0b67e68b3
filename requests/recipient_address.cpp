#include "requests/recipient_address.h"

std::vector<std::string> recipientsOf(std::string_view replyTo) {
    std::vector<std::string> names;
    while (!replyTo.empty()) {
        std::size_t comma = replyTo.find(',');
        if (comma != 0)
            names.emplace_back(replyTo.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        replyTo.remove_prefix(comma + 1);
    }
    return names;
}
