// The mail reader: readMail over a MessageBuffer filled as the POP3 reader fills it, and
// htmlToText over the same bytes.
//
// Oracle:
// - no crash, no hang;
// - readMail, as MIME and as a plain mail: every request line begins with a request key in
//   lower case and holds no capital letter and no line feed; a plain reading gives no lines;
//   the sender, From and Message-ID are empty or one word of at most 200 printable ASCII
//   characters without brackets; an automatic mail gives no lines; the lines together hold at
//   most eight bytes for each byte of the mail (charsets and entities expand a little, nothing
//   more);
// - htmlToText: no CR and no zero byte in the text, which is empty or ends with a line feed,
//   at most three bytes for each byte of the input; an input without '<' and '&' of printable
//   ASCII and white space becomes its words, a blank apart, on one line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/html_text.h"
#include "mail/mime_reader.h"

namespace {

bool isHeaderWord(const std::string& word) {
    if (word.size() > 200)
        return false;
    for (char c : word)
        if (c <= ' ' || c > '~' || c == '<' || c == '>' || c == ',' || c == ';' || c == '"')
            return false;
    return true;
}

void checkReading(const MailReading& reading, bool asMime, std::size_t size) {
    std::string how = asMime ? "MIME reading: " : "plain reading: ";
    FUZZ_CHECK(isHeaderWord(reading.sender), how + "sender " + fuzz::visible(reading.sender));
    FUZZ_CHECK(isHeaderWord(reading.from), how + "From " + fuzz::visible(reading.from));
    FUZZ_CHECK(isHeaderWord(reading.messageId), how + "Message-ID " + fuzz::visible(reading.messageId));
    if (!asMime || reading.automatic)
        FUZZ_CHECK(reading.requestLines.empty(), how + "request lines where none may be");
    std::size_t bytes = 0;
    for (const std::string& line : reading.requestLines) {
        bytes += line.size();
        FUZZ_CHECK(line.rfind("eventfilerequest=", 0) == 0 || line.rfind("stationinfo=", 0) == 0,
                   how + "line without a lower-case key: " + fuzz::visible(line));
        FUZZ_CHECK(!fuzz::hasUpperAscii(line), how + "line with a capital: " + fuzz::visible(line));
        FUZZ_CHECK(line.find('\n') == std::string::npos, how + "line with a line feed");
    }
    FUZZ_CHECK(bytes <= 8 * size + 64, how + std::to_string(bytes) + " bytes of lines from " +
                                           std::to_string(size));
}

bool plainText(std::string_view text) {
    for (char c : text) {
        bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
        if (!space && (c < 33 || c > 126 || c == '<' || c == '&'))
            return false;
    }
    return true;
}

std::string words(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            blank = !out.empty();
        } else {
            if (blank)
                out += ' ';
            blank = false;
            out += c;
        }
    }
    return out.empty() ? out : out + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // The buffer as the POP3 reader fills it: each line without its CR LF, then "\n".
    MessageBuffer buffer;
    for (std::string_view rest = input; !rest.empty();) {
        std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        buffer.appendLine(line);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    }
    MailReading reading = readMail(buffer, true);
    fuzz::note(std::to_string(reading.requestLines.size()) + " request lines, sender \"" +
               reading.sender + "\"" + (reading.automatic ? ", automatic" : ""));
    checkReading(reading, true, size);
    checkReading(readMail(buffer, false), false, size);

    std::string text = htmlToText(input);
    FUZZ_CHECK(text.find('\r') == std::string::npos, "a CR in the text of the HTML");
    FUZZ_CHECK(text.find('\0') == std::string::npos, "a zero byte in the text of the HTML");
    FUZZ_CHECK(text.empty() || text.back() == '\n', "the text does not end with a line feed");
    FUZZ_CHECK(text.size() <= 3 * size + 16,
               std::to_string(text.size()) + " bytes of text from " + std::to_string(size));
    if (plainText(input))
        FUZZ_CHECK(text == words(input), "text without markup became " + fuzz::visible(text));
    return 0;
}
