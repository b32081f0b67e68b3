#include "mail/greeting_name.h"

#include <gtest/gtest.h>

namespace {

TEST(GreetingName, IsFullyQualifiedWhereAnyPartGivesSuch) {
    struct Case {
        const char* heloName;
        const char* hostName;
        const char* canonicalName;
        const char* fromUser;
        const char* expected;
    } cases[] = {
        {"mx.station.example", "vm", "vm.lan.example", "R <r@anmo.example>", "mx.station.example"},
        {"", "vm", "vm.lan.example", "R <r@anmo.example>", "vm.lan.example"},
        {"", "vm.lan.example", "", "R <r@anmo.example>", "vm.lan.example"},
        {"", "vm", "vm", "ANMO Robot <robot@anmo.example>", "anmo.example"},
        {"", "vm", "", "robot@anmo.example", "anmo.example"},
        {"", "vm", "", "ANMO Robot <robot@localhost>", "vm"},
        {"", "vm", "", "R <r@bad domain.example>", "vm"},
        {"", "vm", "", "", "vm"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, greetingName(c.heloName, c.hostName, c.canonicalName, c.fromUser))
            << c.hostName << " / " << c.canonicalName << " / " << c.fromUser;
}

}  // namespace
