#pragma once

#include <cstddef>
#include <vector>

// Base64 of RFC 2045 (alphabet A-Z a-z 0-9 + /, "=" padding), written as one unbroken run of
// characters: the coder never inserts line breaks.

// Characters that encoding n bytes produces: 4 for every started group of three.
constexpr std::size_t base64EncodedSize(std::size_t n) {
    return (n + 2) / 3 * 4;
}

// Encodes n bytes into out, which must have room for base64EncodedSize(n) characters; writes
// no terminating zero. Returns the number of characters written.
std::size_t base64EncodeTo(const unsigned char* in, std::size_t n, char* out);

// Converts between bytes and base64 text, keeping its two buffers for reuse across calls.
// After an encode the encoded data is a zero-terminated text; after a decode the decoded data
// is followed by at least one zero byte.
class Base64Coder final {
  public:
    Base64Coder();

    // Encodes n bytes. The decoded buffer then holds a copy of the input.
    void encode(const void* bytes, std::size_t n);
    // Encodes the characters of a zero-terminated text, without its zero; a null text leaves
    // the coder unchanged.
    void encode(const char* text);

    // Decodes n characters. White space (bytes 7 to 13 and the blank) is skipped. Every whole
    // group of four characters gives three bytes, padding or not; "=" counts as 0 in the third
    // or fourth place and as 63 in the first or second; a character outside the alphabet counts
    // as 62 (characters with the top bit set count as the same character without it). One to
    // three characters left at the end give three bytes of which as many count as characters
    // were left.
    void decode(const char* chars, std::size_t n);
    // Decodes a zero-terminated text; a null text leaves the coder unchanged.
    void decode(const char* text);

    const char* encodedData() const { return encoded_.data(); }
    std::size_t encodedLength() const { return encodedLength_; }
    const unsigned char* decodedData() const { return decoded_.data(); }
    std::size_t decodedLength() const { return decodedLength_; }

  private:
    std::vector<char> encoded_;
    std::vector<unsigned char> decoded_;
    std::size_t encodedLength_ = 0;
    std::size_t decodedLength_ = 0;
};
