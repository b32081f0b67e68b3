#pragma once

#include <string>
#include <string_view>

// Reads blank-separated items from a text the way the C formatted scan reads "%d" and "%s":
// any run of white space (blank, tab, line feed, carriage return, vertical tab, form feed)
// before an item is skipped; an integer is an optional sign and decimal digits; a word is a
// run of characters that are not white space. Nothing is ever read beyond the text, and no
// item has a size limit of its own: callers cut or refuse what does not fit their records.
class ItemScanner {
  public:
    explicit ItemScanner(std::string_view text) : text_(text) {}

    // Reads one integer. Values beyond the int range stop at its ends. Returns false, with the
    // position after the skipped white space and the value unchanged, when no digit follows
    // (a lone sign does not count).
    bool readInt(int& value);

    // Reads one word. Returns false, with word unchanged, when only white space is left.
    bool readWord(std::string& word);

    // What has not been read yet.
    std::string_view rest() const { return text_.substr(pos_); }

  private:
    void skipSpace();

    std::string_view text_;
    std::size_t pos_ = 0;
};

// The nine items of an event-file request line or of a request file's REQ line.
struct RequestItems {
    int numbers[7] = {};  // month, day, year, hour, minute, length, rate (or decimation)
    std::string channelList;
    std::string lastWord;     // reply address, or the event file base in a request file
    bool wordsAfter = false;  // more than white space follows the ninth item
};

// Scans "%d %d %d %d %d %d %d %s %s"; returns how many items were converted (0 to 9), stopping
// at the first item that does not convert. Text after the ninth item is only noted.
int scanRequestItems(std::string_view text, RequestItems& items);

// True for the characters the formatted scan takes as white space.
inline bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
