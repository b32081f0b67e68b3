#include "mail/greeting_name.h"

#include <gtest/gtest.h>

TEST(GreetingName, IsFullyQualifiedWheneverAnythingGivesSuchAName) {
    const struct {
        const char* heloName;
        const char* hostName;
        const char* canonicalName;
        const char* fromUser;
        const char* expected;
    } rows[] = {
        {"", "vm.anmo.example", "", "Robot <robot@other.example>", "vm.anmo.example"},
        {"", "vm", "vm.anmo.example", "Robot <robot@other.example>", "vm.anmo.example"},
        {"", "vm", "vm", "ANMO Robot <robot@anmo.example>", "anmo.example"},
        {"", "vm", "", "robot@anmo.example", "anmo.example"},
        {"", "vm", "", "robot@localhost", "vm"},
        {"", "vm", "", "", "vm"},
        {"mx.anmo.example", "vm.other.example", "", "robot@x.example", "mx.anmo.example"},
        {"bad name", "vm", "", "robot@anmo.example", "anmo.example"},
        {"bad\rname", "vm.anmo.example", "", "", "vm.anmo.example"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.heloName) + "|" + row.hostName + "|" + row.fromUser);
        EXPECT_EQ(row.expected,
                  greetingName(row.heloName, row.hostName, row.canonicalName, row.fromUser));
    }
}
