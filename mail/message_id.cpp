#include "mail/message_id.h"

#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

bool isDomainChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-';
}

std::string senderDomain(const std::string& from) {
    std::size_t open = from.find('<');
    std::string address = from;
    if (open != std::string::npos) {
        std::size_t close = from.find('>', open);
        address = from.substr(open + 1, close == std::string::npos ? close : close - open - 1);
    }
    std::size_t at = address.rfind('@');
    if (at == std::string::npos)
        return {};
    std::string domain = address.substr(at + 1);
    for (char c : domain)
        if (!isDomainChar(c))
            return {};
    return domain;
}

std::string hostDomain() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    std::string domain = name;
    for (char c : domain)
        if (!isDomainChar(c))
            return "localhost";
    return domain.empty() ? "localhost" : domain;
}

std::uint64_t processRandom() {
    static const std::uint64_t value = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return value;
}

}  // namespace

std::string newMessageId(const std::string& from, std::int64_t now) {
    static std::atomic<unsigned> count{0};
    std::string domain = senderDomain(from);
    if (domain.empty())
        domain = hostDomain();
    char unique[96];
    std::snprintf(unique, sizeof unique, "%" PRId64 ".%d.%u.%016" PRIx64, now,
                  static_cast<int>(getpid()), ++count, processRandom());
    std::string id;
    id.reserve(std::strlen(unique) + domain.size() + 3);
    id.append(1, '<').append(unique).append(1, '@').append(domain).append(1, '>');
    return id;
}
