#pragma once

#include "settings/fixed_text.h"

// One channel of a recorder system, read from the channel file that CHANFILEn names.
struct RecorderChannel {
    FixedText<16> id;  // at most 6 characters used, upper case
    FixedText<256> location;
    FixedText<256> information;
    FixedText<16> component;
};

// One dataset volume, read from a VOLINFOn value.
struct DatasetVolume {
    int enabled = 0;  // non-zero: the member channels are served only as part of the volume
    FixedText<48> name;
    FixedText<16> memberChannels[3];
};

// One recorder installation's configuration, read from its "mornak.ini" and channel files.
// All zero before it is read; samplesPerSecond 0 means the system is not configured.
struct RecorderSystem {
    static constexpr int maxChannels = 8;
    static constexpr int maxVolumes = 4;

    int samplesPerSecond = 0;
    int numberChannels = 0;  // slots 1..numberChannels in use (0 to 8)
    int systemNumber = 0;
    RecorderChannel channels[maxChannels];
    DatasetVolume volumes[maxVolumes];
};
