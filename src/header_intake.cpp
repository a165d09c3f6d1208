// Reads the header fields in their fixed order into the run's settings.
// SPDX-License-Identifier: MIT
#include "header_intake.h"

#include "text_input.h"

void readHeader(PlaybackSettings& settings) {
    settings.sampleCount = readValue("SAMPLES");
    settings.bitsPerSample = readValue("BITSPERSAMPLE");
    settings.channels = readValue("CHANNELS");
    settings.sampleRate = readValue("SAMPLERATE");
    // The flag must be present, but every sample is played alike whatever it says.
    readBool("NORMALIZED");
}
