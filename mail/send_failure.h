#pragma once

// What a failed send means for its reply.
enum class SendFailure {
    // The connection or the server failed for now: the reply is tried again, the try counted.
    kTryAgain,
    // The server refused a recipient or the message itself for good (5xx): no try helps, the
    // reply is given up.
    kRefusedForGood,
    // The station's own side was refused: the greeting, HELO/EHLO, STARTTLS or TLS, the login,
    // or the sender. No reply can go until the settings (or the server) change, so every reply
    // is held, no try counted.
    kStationSide,
};
