#pragma once

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

// A zero-terminated 8-bit text in a fixed array of N bytes, so records stay plain values
// that copy byte for byte. Whatever is assigned is cut to N - 1 characters; nothing is ever
// written beyond the array.
template <std::size_t N>
class FixedText {
    static_assert(N >= 1);

public:
    static constexpr std::size_t capacity = N - 1;

    FixedText() = default;
    FixedText(std::string_view text) { assign(text); }  // NOLINT: implicit on purpose

    FixedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }

    // Copies at most capacity characters; stops at a zero byte like a C string would.
    void assign(std::string_view text) {
        std::size_t n = text.size() < capacity ? text.size() : capacity;
        if (n == 0) {
            data_[0] = '\0';
            return;
        }
        const void* zero = std::memchr(text.data(), '\0', n);
        if (zero)
            n = static_cast<std::size_t>(static_cast<const char*>(zero) - text.data());
        std::memmove(data_, text.data(), n);
        data_[n] = '\0';
    }

    void clear() { data_[0] = '\0'; }
    const char* c_str() const { return data_; }
    char* data() { return data_; }
    std::size_t size() const { return std::strlen(data_); }
    bool empty() const { return data_[0] == '\0'; }
    std::string str() const { return std::string(data_); }
    std::string_view view() const { return std::string_view(data_); }
    char back() const { return empty() ? '\0' : data_[size() - 1]; }

    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }
    friend std::ostream& operator<<(std::ostream& out, const FixedText& t) { return out << t.view(); }

private:
    char data_[N] = {};
};
