#include "mail/flowed_text.h"

namespace {

// One physical line split into its quote depth and its content.
struct FlowedLine {
    std::size_t depth = 0;
    std::string_view content;
};

FlowedLine splitQuotes(std::string_view line) {
    FlowedLine split;
    while (split.depth < line.size() && line[split.depth] == '>') ++split.depth;
    split.content = line.substr(split.depth);
    if (!split.content.empty() && split.content.front() == ' ')
        split.content.remove_prefix(1);  // space-stuffing
    return split;
}

}  // namespace

std::string unflowText(std::string_view text, bool delSp) {
    std::string out;
    out.reserve(text.size());
    bool open = false;  // a paragraph is being joined
    std::size_t openDepth = 0;
    auto endParagraph = [&] {
        if (open)
            out += '\n';
        open = false;
    };
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        FlowedLine split = splitQuotes(line);
        if (open && split.depth != openDepth)
            endParagraph();
        if (!open) {
            out.append(split.depth, '>');
            if (split.depth > 0)
                out += ' ';
            open = true;
            openDepth = split.depth;
        }
        std::string_view content = split.content;
        bool flowed = !content.empty() && content.back() == ' ' && content != "-- ";
        if (flowed && delSp)
            content.remove_suffix(1);
        out += content;
        if (!flowed)
            endParagraph();
    }
    endParagraph();
    return out;
}
