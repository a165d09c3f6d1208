// The header's values as they travel through a run.
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
