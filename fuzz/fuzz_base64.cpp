// Base64: the coder of the project against a strict decoder and a reference of its own
// documented lenient decoding, both written here.
//
// The input is used twice: as bytes to encode, and as text to decode.
//
// Oracle:
// - encoding n bytes gives base64EncodedSize(n) characters of the alphabet with "=" padding
//   only at the end, zero-terminated, which the strict decoder accepts and decodes back to the
//   bytes; base64EncodeTo into a buffer of exactly that size, from a copy of exactly n bytes,
//   writes that many characters and reads and writes nothing beyond them (AddressSanitizer);
// - the coder's own decoding of an encoding gives the bytes back (padding groups give their
//   three bytes, the extra ones zero);
// - decoding any text reads nothing beyond it and gives exactly what the documented rules give
//   (white space skipped, every group of four three bytes, "=" 0 in the third or fourth place
//   and 63 before, a character outside the alphabet 62, the top bit ignored, one to three
//   characters left giving as many bytes), followed by a zero byte; where the strict decoder
//   accepts the text, the bytes agree with it;
// - encode(const char*) stops at the first zero byte.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "settings/base64.h"

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The documented decoding, one character at a time.
std::string referenceDecode(std::string_view text) {
    std::string kept;
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (!((b >= 7 && b <= 13) || b == ' '))
            kept += c;
    }
    auto value = [](char c, int place) -> unsigned {
        char plain = static_cast<char>(static_cast<unsigned char>(c) & 0x7f);
        if (plain == '=')
            return place >= 2 ? 0 : 63;
        std::size_t v = kAlphabet.find(plain);
        return v == std::string_view::npos ? 62 : static_cast<unsigned>(v);
    };
    std::string out;
    std::size_t i = 0;
    for (; i + 4 <= kept.size(); i += 4) {
        unsigned v = (value(kept[i], 0) << 18) | (value(kept[i + 1], 1) << 12) |
                     (value(kept[i + 2], 2) << 6) | value(kept[i + 3], 3);
        out += static_cast<char>(v >> 16);
        out += static_cast<char>((v >> 8) & 0xff);
        out += static_cast<char>(v & 0xff);
    }
    std::size_t left = kept.size() - i;
    if (left > 0) {
        unsigned values[4] = {0, 0, 0, 0};
        for (std::size_t p = 0; p < left; ++p) {
            char plain = static_cast<char>(static_cast<unsigned char>(kept[i + p]) & 0x7f);
            values[p] = plain == '=' ? 0 : value(kept[i + p], static_cast<int>(p));
        }
        unsigned v = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
        char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>((v >> 8) & 0xff),
                         static_cast<char>(v & 0xff)};
        out.append(bytes, left);
    }
    return out;
}

void checkEncoding(std::string_view bytes, const char* encoded, std::size_t length) {
    FUZZ_CHECK(length == base64EncodedSize(bytes.size()),
               "encoded length " + std::to_string(length) + " for " + std::to_string(bytes.size()));
    std::string_view text(encoded, length);
    std::string decoded;
    FUZZ_CHECK(fuzz::strictBase64Decode(text, decoded),
               "the strict decoder refuses the encoding " + fuzz::visible(text));
    FUZZ_CHECK(decoded == bytes, "the encoding decodes to other bytes: " + fuzz::visible(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // base64EncodeTo with exact buffers on the heap.
    {
        std::unique_ptr<unsigned char[]> in(new unsigned char[size ? size : 1]);
        if (size)
            std::memcpy(in.get(), data, size);
        std::size_t room = base64EncodedSize(size);
        std::unique_ptr<char[]> out(new char[room ? room : 1]);
        std::size_t written = base64EncodeTo(in.get(), size, out.get());
        checkEncoding(input, out.get(), written);
    }

    // The coder: encode, then decode its own encoding.
    Base64Coder coder;
    coder.encode(data, size);
    checkEncoding(input, coder.encodedData(), coder.encodedLength());
    FUZZ_CHECK(coder.encodedData()[coder.encodedLength()] == '\0', "encoding not zero-terminated");
    FUZZ_CHECK(coder.decodedLength() == size &&
                   std::memcmp(coder.decodedData(), data, size) == 0,
               "after an encode the decoded buffer does not hold the input");
    std::string encoding(coder.encodedData(), coder.encodedLength());
    Base64Coder back;
    back.decode(encoding.data(), encoding.size());
    std::size_t groups = (size + 2) / 3 * 3;
    FUZZ_CHECK(back.decodedLength() == groups, "decoding an encoding gives " +
                                                   std::to_string(back.decodedLength()) + " bytes");
    FUZZ_CHECK(std::memcmp(back.decodedData(), data, size) == 0,
               "decoding an encoding does not give the bytes back");
    for (std::size_t i = size; i < groups; ++i)
        FUZZ_CHECK(back.decodedData()[i] == 0, "a padding byte is not zero");

    // Decoding the input as text, from a copy of exactly its size.
    std::unique_ptr<char[]> chars(new char[size ? size : 1]);
    if (size)
        std::memcpy(chars.get(), data, size);
    Base64Coder decoder;
    decoder.decode(chars.get(), size);
    std::string expected = referenceDecode(input);
    std::string_view got(reinterpret_cast<const char*>(decoder.decodedData()), decoder.decodedLength());
    FUZZ_CHECK(got == expected, "decoded " + fuzz::visible(got) + "\nexpected " + fuzz::visible(expected));
    FUZZ_CHECK(decoder.decodedData()[decoder.decodedLength()] == 0, "decoding not followed by a zero");
    std::string strict;
    if (fuzz::strictBase64Decode(input, strict))
        FUZZ_CHECK(got.substr(0, strict.size()) == strict,
                   "the strict and the lenient decoding differ");

    // The zero-terminated forms.
    std::string asText(input.substr(0, input.find('\0')));
    Base64Coder textCoder;
    textCoder.encode(std::string(input).c_str());
    checkEncoding(asText, textCoder.encodedData(), textCoder.encodedLength());
    textCoder.decode(static_cast<const char*>(nullptr));
    FUZZ_CHECK(textCoder.decodedLength() == asText.size(), "decode(nullptr) changed the coder");
    return 0;
}
