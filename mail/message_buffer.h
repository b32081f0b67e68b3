#pragma once

#include <cstddef>
#include <string_view>

// The bytes of one mail as the mailbox reader takes them in: lines ended by "\n", dot
// stuffing undone. Grows in place and keeps its room when cleared, so one buffer serves a
// whole mailbox. Its memory comes from malloc, so the mail reading can lend it to GLib for a
// parse without copying it.
class MessageBuffer {
  public:
    MessageBuffer() = default;
    ~MessageBuffer();
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;

    // Appends the line and a line feed.
    void appendLine(std::string_view line);
    void clear() { size_ = 0; }
    // Makes room for this many bytes at once, so that a mail whose size is known is never
    // copied as it grows (its pages are taken only as they are written).
    void expect(std::size_t size) { reserve(size); }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_, size_}; }
    // The storage itself, for a parser that borrows it; null while nothing was appended.
    char* data() const { return data_; }

  private:
    void reserve(std::size_t size);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
