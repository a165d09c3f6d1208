// Reads the header fields in their fixed order into the run's settings.
// SPDX-License-Identifier: MIT
#include "header_intake.h"

#include "player_contract.h"
#include "text_input.h"

void readHeader(PlaybackSettings& settings) {
    settings.sampleCount = readValue(headerKeys[0]);
    settings.bitsPerSample = readValue(headerKeys[1]);
    settings.channels = readValue(headerKeys[2]);
    settings.sampleRate = readValue(headerKeys[3]);
    // The flag must be present, but every sample is played alike whatever it says.
    readBool(flagKey);
}
