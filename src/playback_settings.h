// The header's values as they travel through a run, and the values main returns.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// The numeric header fields. The device setup overwrites the last three with
// the values the device chose, and the frame streaming plays by those.
struct PlaybackSettings {
    std::int32_t sampleCount = 0;
    std::int32_t bitsPerSample = 0;
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
};

// What the run ends with. The shell sees -1 as status 255 and -2 as 254.
constexpr int exitPlayed = 0;         // every frame written, or the body was broken
constexpr int exitDeviceFailed = -1;  // the device could not be opened or stopped taking data
constexpr int exitRejected = -2;      // a bad header key, a refused setting, no room for a frame
