#include "app/transcript_printer.h"

#include <cstdio>
#include <ostream>
#include <string>

#include "activity/secret_mask.h"

namespace {

const char* marker(DialogueTranscript::Kind kind) {
    switch (kind) {
        case DialogueTranscript::Kind::kSent:
            return " > ";
        case DialogueTranscript::Kind::kReceived:
            return " < ";
        case DialogueTranscript::Kind::kStep:
            break;
    }
    return " - ";
}

}  // namespace

void TranscriptPrinter::line(const char* dialogue, Kind kind, std::string_view text) {
    std::string masked = secrets_.apply(std::string(text));
    std::string shown;
    shown.reserve(masked.size());
    for (char c : masked) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    out_ << dialogue << marker(kind) << shown << std::endl;
}
