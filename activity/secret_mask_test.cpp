#include "activity/secret_mask.h"

#include <gtest/gtest.h>

#include "activity/activity_log.h"
#include "testing/fake_clock.h"

// Every form a server could echo a secret in is masked, in every entry of the log.

namespace {

TEST(SecretMask, MasksEveryFormADialogueCouldEcho) {
    SecretMask mask;
    mask.addPlainLogin("robot", "pa55word");
    mask.add("t0ken");
    struct {
        const char* form;
        const char* text;
    } cases[] = {
        {"clear", "535 bad password pa55word"},
        {"base64, AUTH LOGIN", "535 5.7.8 cGE1NXdvcmQ= rejected"},
        {"base64, AUTH PLAIN", "501 AUTH PLAIN AHJvYm90AHBhNTV3b3Jk unknown"},
        {"hex", "-ERR 7061 70613535776f7264 PASS 70613535776F7264"},
        {"a second secret", "token t0ken, dDBrZW4="},
    };
    const char* masked[] = {
        "535 bad password ***",
        "535 5.7.8 *** rejected",
        "501 AUTH PLAIN *** unknown",
        "-ERR 7061 *** PASS ***",
        "token ***, ***",
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(masked[i], mask.apply(cases[i].text)) << cases[i].form;
    EXPECT_EQ("nothing secret", SecretMask().apply("nothing secret"));
}

TEST(SecretMask, NoEntryOfTheLogShowsASecretNotEvenWhereItIsCut) {
    FakeClock clock;
    ActivityLog log(clock, "");
    SecretMask mask;
    mask.add("pa55word");
    log.addSecrets(mask);
    log.logMsg(true, "SMTP server said: %s", "535 cGE1NXdvcmQ=");
    EXPECT_EQ("02/19 07:05:09 SMTP server said: 535 ***", log.entries().back());
    std::string padding(ActivityLog::maxEntryChars - 4, 'x');
    log.logMsg(false, "%s%s", padding.c_str(), "pa55word");
    EXPECT_EQ(std::string::npos, log.entries().back().find("pa55"));
}

}  // namespace
