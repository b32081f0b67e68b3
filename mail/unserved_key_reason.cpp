#include "mail/mime_reader.h"

std::string unservedKeyReason(UnservedKey place) {
    const char* where = "";
    switch (place) {
        case UnservedKey::kNone:
            return {};
        case UnservedKey::kInText:
            where = "A request key stands in the mail but not at the start of a line";
            break;
        case UnservedKey::kInQuote:
            where = "A request key stands only in quoted text, which is not read";
            break;
        case UnservedKey::kInAttachment:
            where = "A request key stands only in an attachment, which is not read";
            break;
        case UnservedKey::kUnreadable:
            where =
                "The mail could not be read (it is encrypted or in a form this station "
                "cannot read)";
            break;
    }
    return std::string(where) +
           ": no request was served; write each request at the start of a line in the text of "
           "your mail";
}
