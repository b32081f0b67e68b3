#include "settings/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encoded(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    EXPECT_EQ('\0', coder.encodedData()[coder.encodedLength()]);
    return std::string(coder.encodedData(), coder.encodedLength());
}

std::string decoded(const std::string& chars) {
    Base64Coder coder;
    coder.decode(chars.data(), chars.size());
    EXPECT_EQ(0, coder.decodedData()[coder.decodedLength()]);
    return std::string(reinterpret_cast<const char*>(coder.decodedData()), coder.decodedLength());
}

// Every byte value in a pseudo-random order, long enough for the bulk path and every tail.
std::string mixedBytes(std::size_t n) {
    std::string bytes(n, '\0');
    unsigned state = 12345;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 16);
    }
    return bytes;
}

// Base64 written the plain way, one group at a time, to check the bulk encoder against.
std::string referenceEncode(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
    }
    return out;
}

}  // namespace

TEST(Base64Encode, KnownAnswers) {
    EXPECT_EQ("", encoded(""));
    EXPECT_EQ("YQ==", encoded("a"));
    EXPECT_EQ("YWI=", encoded("ab"));
    EXPECT_EQ("YWJj", encoded("abc"));
    EXPECT_EQ("YWJjZA==", encoded("abcd"));
    EXPECT_EQ("YWJjZGU=", encoded("abcde"));
    EXPECT_EQ("VXNlcm5hbWU6", encoded("Username:"));
    EXPECT_EQ("AP+A", encoded(std::string("\x00\xff\x80", 3)));
    EXPECT_EQ("+/+/", encoded("\xfb\xff\xbf"));
}

TEST(Base64Encode, TextFormSkipsTheZeroAndIgnoresNull) {
    Base64Coder coder;
    coder.encode("abcd");
    EXPECT_STREQ("YWJjZA==", coder.encodedData());
    EXPECT_EQ(4u, coder.decodedLength());
    coder.encode(static_cast<const char*>(nullptr));
    EXPECT_STREQ("YWJjZA==", coder.encodedData());
}

TEST(Base64Encode, LongInputIsOneLineMatchingThePlainEncoding) {
    for (std::size_t n : {57u, 58u, 59u, 60u, 100u, 4095u, 4096u, 4097u, 100000u}) {
        std::string bytes = mixedBytes(n);
        std::string text = encoded(bytes);
        EXPECT_EQ(referenceEncode(bytes), text) << n;
        EXPECT_EQ(base64EncodedSize(n), text.size()) << n;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << n;
    }
    EXPECT_EQ(133336u, base64EncodedSize(100000));
}

TEST(Base64Encode, ReusedCoderGivesTheSameAnswerAsAFreshOne) {
    Base64Coder coder;
    coder.encode(mixedBytes(9000).data(), 9000);
    coder.encode("abc");
    EXPECT_STREQ("YWJj", coder.encodedData());
    EXPECT_EQ(4u, coder.encodedLength());
}

TEST(Base64Decode, KnownAnswersCountThreeBytesPerWholeGroup) {
    Base64Coder coder;
    coder.decode("YWJjZA==");
    EXPECT_EQ(6u, coder.decodedLength());  // padding or not, a whole group gives three
    EXPECT_EQ(std::string("abcd\0\0", 6),
              std::string(reinterpret_cast<const char*>(coder.decodedData()), 6));
    EXPECT_STREQ("abcd", reinterpret_cast<const char*>(coder.decodedData()));
    EXPECT_EQ("abc", decoded("YWJj"));
    EXPECT_EQ(std::string("\x00\xff\x80", 3), decoded("AP+A"));
}

TEST(Base64Decode, SkipsWhiteSpaceBytesSevenToThirteenAndBlank) {
    EXPECT_EQ("Username:", decoded("VXNlcm5hbWU6\r\n"));
    EXPECT_EQ("abc", decoded(" Y\aW\bJ\tj\n\v\f\r "));
    Base64Coder coder;
    coder.decode("VXNl cm5h\r\nbWU6\r\n");
    EXPECT_EQ(12u, coder.encodedLength());
    EXPECT_STREQ("VXNlcm5hbWU6", coder.encodedData());
    // Byte 14 is not white space: it decodes like 62.
    EXPECT_EQ(decoded("YWJ+"), decoded("YWJ\x0e"));
}

TEST(Base64Decode, OutsideCharactersAndEarlyPaddingAreNotRejected) {
    // Outside the alphabet: like "+" (62).
    EXPECT_EQ(decoded("++++"), decoded("!!!!"));
    EXPECT_EQ(decoded("YW+j"), decoded("YW*j"));
    // "=" in the first or second place of a whole group: like "/" (63).
    EXPECT_EQ(decoded("//Jj"), decoded("==Jj"));
    EXPECT_EQ(decoded("Y/Jj"), decoded("Y=Jj"));
    // Characters with the top bit set: like the same character without it.
    EXPECT_EQ("abc", decoded("\xd9\xd7\xca\xea"));  // Y W J j with the top bit
    EXPECT_EQ(decoded("YQ=="), decoded("YQ\xbd\xbd"));
}

TEST(Base64Decode, TrailingPartialGroupCountsItsCharacters) {
    Base64Coder coder;
    coder.decode("YWJjZA");  // one whole group, two left over
    EXPECT_EQ(5u, coder.decodedLength());
    EXPECT_EQ(std::string("abcd\0", 5),
              std::string(reinterpret_cast<const char*>(coder.decodedData()), 5));
    EXPECT_EQ(std::string("a", 1), decoded("YQ=").substr(0, 1));
    EXPECT_EQ(3u, decoded("YQ=").size());
    EXPECT_EQ(std::string("\x60", 1), decoded("Y"));  // six bits of 'Y' (24) in the top
    EXPECT_EQ("", decoded(""));
    EXPECT_EQ("", decoded(" \r\n"));
}

TEST(Base64Decode, RoundTripsEveryByteValue) {
    std::string bytes = mixedBytes(3 * 1000);
    EXPECT_EQ(bytes, decoded(encoded(bytes)));
}
