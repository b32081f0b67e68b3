#pragma once

#include "settings/fixed_text.h"

// Per requested channel.
enum ChannelStatus : int {
    kChannelAssigned = 0,   // given to a recorder system
    kChannelNotFound = 1,   // no recorder system serves it
    kChannelFileFound = 2,  // its event file was found and attached
};

// The request in progress. Every parse first sets the whole record to zero.
struct EventFileRequest {
    static constexpr int maxChannels = 16;

    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int length = 0;
    int rate = 0;
    FixedText<256> replyTo;
    FixedText<256> requestMessageId;  // the request mail's Message-ID, for the replies' threading
    FixedText<16> channels[maxChannels];
    FixedText<256> requestFile;       // the request file written last
    FixedText<256> responseFiles[2];  // expected from the first and second system; empty: not asked
    int channelCount = 0;
    int channelStatus[maxChannels] = {};
};
