#pragma once

#include <iosfwd>
#include <string_view>

#include "mail/dialogue_transcript.h"

class SecretMask;

// Prints the mail dialogues for --verbose, one line each: "SMTP > EHLO station.example.org"
// for a command sent, "SMTP < 250 OK" for a reply line read, "SMTP - connected to ..." for a
// step. Every line passes through the secrets (a server that echoes a password shows "***"),
// and its control characters are written "\xNN", so a server cannot drive the terminal.
class TranscriptPrinter final : public DialogueTranscript {
  public:
    TranscriptPrinter(std::ostream& out, const SecretMask& secrets)
        : out_(out), secrets_(secrets) {}

    void line(const char* dialogue, Kind kind, std::string_view text) override;

  private:
    std::ostream& out_;
    const SecretMask& secrets_;
};
