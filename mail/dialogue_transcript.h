#pragma once

#include <string_view>

// Where the mail dialogues show themselves when the operator asks to see them (--verbose):
// every command sent, every reply line read, and the steps around them (connecting, TLS, the
// message text, the OAuth2 token). Without one, nothing is shown and nothing is spent on it.
class DialogueTranscript {
  public:
    enum class Kind {
        kSent,      // a command as the client sent it, its secrets already masked
        kReceived,  // a reply line as the server sent it
        kStep,      // what happened around them
    };

    virtual ~DialogueTranscript() = default;

    // One line of the named dialogue ("POP3", "SMTP", "OAuth2"), without its line end.
    virtual void line(const char* dialogue, Kind kind, std::string_view text) = 0;
};

// What a secret part of a command is shown as.
inline constexpr const char* kMaskedSecret = "****";
