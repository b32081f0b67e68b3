#include "app/transcript_printer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "activity/secret_mask.h"

TEST(TranscriptPrinter, MarksEachLineAndShowsNoSecretAndNoTerminalControl) {
    SecretMask secrets;
    secrets.add("pw");
    std::ostringstream out;
    TranscriptPrinter printer(out, secrets);
    using Kind = DialogueTranscript::Kind;
    printer.line("SMTP", Kind::kSent, "AUTH PLAIN ****");
    printer.line("POP3", Kind::kReceived, "-ERR wrong password pw\x1b[2J");
    printer.line("OAuth2", Kind::kStep, "token for POP3 kept from before");
    EXPECT_EQ("SMTP > AUTH PLAIN ****\n"
              "POP3 < -ERR wrong password ***\\x1b[2J\n"
              "OAuth2 - token for POP3 kept from before\n",
              out.str());
}
