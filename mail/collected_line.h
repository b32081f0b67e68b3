#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

// A mail that held a request key but gave no request line to serve leaves one line of its own
// instead: this mark, then the reason its sender is told. It can never be a request line, which
// begins with its key.
inline constexpr std::string_view kUnservedMailMark = "unserved mail: ";

// One request line taken from a mail, with what its replies need to know of that mail.
struct CollectedLine {
    CollectedLine() = default;
    CollectedLine(std::string line) : text(std::move(line)) {}
    CollectedLine(const char* line) : text(line) {}

    std::string text;       // lower-cased, beginning with its key
    std::string sender;     // the mail's Reply-To address, else its From address; may be empty
    std::string messageId;  // the mail's Message-ID without angle brackets; may be empty
    std::string mailKey;    // the Message-ID, the mail's size and digest; "" without a Message-ID
    int mail = 0;           // which mail of the check it came from, counted from 1
    int linesOfMail = 0;    // how many lines that mail gave; 0 when not known
    std::string spoolId;    // its entry in the spool once kept there; "" before
    std::int64_t arrival = 0;  // its mail's IMAP INTERNALDATE, calendar seconds; 0: not known

    // The line of a mail whose request key gave no request line (kUnservedMailMark).
    bool isUnservedMail() const { return text.starts_with(kUnservedMailMark); }

    friend bool operator==(const CollectedLine& line, std::string_view text) {
        return line.text == text;
    }
    friend std::ostream& operator<<(std::ostream& out, const CollectedLine& line) {
        return out << line.text;
    }
};
