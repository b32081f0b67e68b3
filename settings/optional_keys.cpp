#include "settings/optional_keys.h"

#include <utility>

#include "settings/text_routines.h"

namespace {

// Whether value is one of the words "a|b", in any letter case.
bool isOneOf(const std::string& value, const std::string& words) {
    for (std::size_t at = 0; at <= words.size();) {
        std::size_t bar = words.find('|', at);
        if (bar == std::string::npos)
            bar = words.size();
        if (equalsIgnoreCase(value, words.substr(at, bar - at)))
            return true;
        at = bar + 1;
    }
    return false;
}

}  // namespace

bool storeOptionalKey(MailerSettings& settings, const std::string& key, const std::string& value,
                      std::string& problem) {
    problem.clear();
    for (const OptionalKey& optional : kOptionalKeys) {
        if (!equalsIgnoreCase(key, optional.name))
            continue;
        std::string text = optional.hex ? decodeKeyStr(value) : value;
        if (optional.words && !text.empty() && !isOneOf(text, optional.words)) {
            std::string words = optional.words;
            for (char& c : words)
                if (c == '|')
                    c = '/';
            problem = std::string(optional.name) + " takes " + words + ", not \"" + text +
                      "\": the value was not taken";
            return true;
        }
        const bool noDoneFolder = text.empty() && optional.field == &MailerSettings::imapDoneFolder;
        settings.*optional.field = noDoneFolder ? std::string(kNoDoneFolder) : std::move(text);
        return true;
    }
    return false;
}

std::string optionalKeyLines(const MailerSettings& settings) {
    std::string lines;
    for (const OptionalKey& optional : kOptionalKeys) {
        const std::string& value = settings.*optional.field;
        if (value.empty())
            continue;
        lines.append(optional.name).append("=");
        if (value != kNoDoneFolder)
            lines.append(optional.hex ? encodeKeyStr(value) : value);
        lines.append("\n");
    }
    return lines;
}
