// What the player promises whoever runs it: the header's keys, its messages and its exit statuses.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// The header's keys, in their fixed order: four numbers, then the flag.
constexpr const char* headerKeys[] = {"SAMPLES", "BITSPERSAMPLE", "CHANNELS", "SAMPLERATE", "NORMALIZED"};
constexpr int numericKeyCount = 4;
constexpr const char* flagKey = headerKeys[numericKeyCount];
// The fields by name, for the tools, which index the keys and values by them.
enum HeaderField : std::uint8_t { samplesField, bitsField, channelsField, rateField, flagField };
static_assert(flagField == numericKeyCount);

// A header as the tools write one: a key and its value a line, the flag FALSE.
inline std::string formatStreamHeader(std::int64_t frames, std::int64_t bits, std::int64_t channels,
                                      std::int64_t rate) {
    const std::int64_t values[numericKeyCount] = {frames, bits, channels, rate};
    std::string text;
    for (int field = 0; field < numericKeyCount; ++field) {
        text.append(headerKeys[field]).append(": ").append(std::to_string(values[field])).append("\n");
    }
    return text.append(flagKey).append(": FALSE\n");
}

// Its messages, each a line on standard error. A key that is not there is
// told as missingKeyMessage and the key, in double quotes for the flag.
constexpr const char* missingKeyMessage = "Error, expected ";
constexpr const char* openFailedMessage = "Error opening /dev/dsp";
constexpr const char* formatRefusedMessage = "Error setting sample size on /dev/dsp";
constexpr const char* channelsRefusedMessage = "Error setting number of channels on /dev/dsp";
constexpr const char* rateRefusedMessage = "Error setting sample rate on /dev/dsp";
constexpr const char* noFrameBufferMessage = "Error allocating frame buffer";
constexpr const char* brokenInputMessage = "Early end of input - text file broken?";
constexpr const char* writeFailedMessage = "Error writing to /dev/dsp";

// What the run ends with, as main returns it.
constexpr int exitPlayed = 0;         // every frame written, or the body was broken
constexpr int exitDeviceFailed = -1;  // the device could not be opened or stopped taking data
constexpr int exitRejected = -2;      // a bad header key, a refused setting, no room for a frame

// The status a shell sees for what main returns: 255 and 254 for the failures.
constexpr int shellStatusOf(int exitValue) {
    return exitValue & 0xff;  // NOLINT(readability-magic-numbers): a status is a byte
}
