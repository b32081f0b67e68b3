#include "settings/base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr unsigned char kOutside = 0xFE;  // not in the alphabet: decodes like 62
constexpr unsigned char kPadding = 0xFF;  // "=": 0 in the third or fourth place, else 63

// Two alphabet characters for every 12-bit value, first character in the low byte, so that
// one lookup and one 16-bit store on a little-endian machine write both in order.
constexpr std::array<std::uint16_t, 4096> makePairTable() {
    std::array<std::uint16_t, 4096> table{};
    for (unsigned v = 0; v < 4096; ++v) {
        auto first = static_cast<unsigned char>(kAlphabet[v >> 6]);
        auto second = static_cast<unsigned char>(kAlphabet[v & 63]);
        table[v] = static_cast<std::uint16_t>(first | (second << 8));
    }
    return table;
}

constexpr std::array<unsigned char, 256> makeDecodeTable() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table) entry = kOutside;
    for (unsigned i = 0; i < 64; ++i) {
        auto c = static_cast<unsigned char>(kAlphabet[i]);
        table[c] = static_cast<unsigned char>(i);
        table[c | 0x80] = static_cast<unsigned char>(i);
    }
    table['='] = kPadding;
    table['=' | 0x80] = kPadding;
    return table;
}

constexpr auto kPairs = makePairTable();
constexpr auto kDecode = makeDecodeTable();

bool isWhiteSpace(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}

// Four characters for one group of three bytes.
inline void encodeGroup(const unsigned char* in, char* out) {
    std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = kAlphabet[(v >> 6) & 63];
    out[3] = kAlphabet[v & 63];
}

// Eight characters for the first six of eight readable bytes.
inline void encodeSix(const unsigned char* in, char* out) {
    std::uint64_t v;
    std::memcpy(&v, in, 8);
    v = __builtin_bswap64(v);  // in[0] in the top byte
    std::uint64_t chars = std::uint64_t{kPairs[(v >> 52) & 0xFFF]} |
                          (std::uint64_t{kPairs[(v >> 40) & 0xFFF]} << 16) |
                          (std::uint64_t{kPairs[(v >> 28) & 0xFFF]} << 32) |
                          (std::uint64_t{kPairs[(v >> 16) & 0xFFF]} << 48);
    std::memcpy(out, &chars, 8);
}

// Three bytes from four six-bit values (their low six bits).
inline void joinGroup(const unsigned char values[4], unsigned char* out) {
    std::uint32_t v = (std::uint32_t{values[0] & 63u} << 18) |
                      (std::uint32_t{values[1] & 63u} << 12) |
                      (std::uint32_t{values[2] & 63u} << 6) | (values[3] & 63u);
    out[0] = static_cast<unsigned char>(v >> 16);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v);
}

}  // namespace

std::size_t base64EncodeTo(const unsigned char* in, std::size_t n, char* out) {
    char* start = out;
    if constexpr (std::endian::native == std::endian::little) {
        while (n >= 14) {  // both eight-byte loads stay inside the input
            encodeSix(in, out);
            encodeSix(in + 6, out + 8);
            in += 12;
            out += 16;
            n -= 12;
        }
        if (n >= 8) {  // the eight-byte load stays inside the input
            encodeSix(in, out);
            in += 6;
            out += 8;
            n -= 6;
        }
    }
    while (n >= 3) {
        encodeGroup(in, out);
        in += 3;
        out += 4;
        n -= 3;
    }
    if (n > 0) {
        unsigned char last[3] = {in[0], n == 2 ? in[1] : static_cast<unsigned char>(0), 0};
        encodeGroup(last, out);
        out[3] = '=';
        if (n == 1)
            out[2] = '=';
        out += 4;
    }
    return static_cast<std::size_t>(out - start);
}

Base64Coder::Base64Coder() : encoded_(1, '\0'), decoded_(1, 0) {}

void Base64Coder::encode(const void* bytes, std::size_t n) {
    const auto* in = static_cast<const unsigned char*>(bytes);
    decoded_.assign(in, in + n);
    decoded_.push_back(0);
    decodedLength_ = n;
    encoded_.assign(base64EncodedSize(n) + 1, '\0');
    encodedLength_ = base64EncodeTo(decoded_.data(), n, encoded_.data());
}

void Base64Coder::encode(const char* text) {
    if (text)
        encode(text, std::strlen(text));
}

void Base64Coder::decode(const char* chars, std::size_t n) {
    encoded_.assign(n + 1, '\0');
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!isWhiteSpace(static_cast<unsigned char>(chars[i])))
            encoded_[kept++] = chars[i];
    }
    encodedLength_ = kept;

    decoded_.assign(kept / 4 * 3 + 3 + 1, 0);
    decodedLength_ = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(encoded_.data());
    std::size_t i = 0;
    for (; i + 4 <= kept; i += 4) {
        unsigned char values[4] = {kDecode[in[i]], kDecode[in[i + 1]], kDecode[in[i + 2]],
                                   kDecode[in[i + 3]]};
        for (int place = 2; place < 4; ++place) {
            if (values[place] == kPadding)
                values[place] = 0;
        }
        joinGroup(values, decoded_.data() + decodedLength_);
        decodedLength_ += 3;
    }
    std::size_t left = kept - i;
    if (left > 0) {
        unsigned char values[4] = {0, 0, 0, 0};
        for (std::size_t place = 0; place < left; ++place) {
            unsigned char v = kDecode[in[i + place]];
            values[place] = v == kPadding ? 0 : v;
        }
        joinGroup(values, decoded_.data() + decodedLength_);
        decodedLength_ += left;
    }
}

void Base64Coder::decode(const char* text) {
    if (text)
        decode(text, std::strlen(text));
}
