// How the kernel's own OSS emulation answers the player's three requests: the bridge answers so, and the checker
// predicts it. SPDX-License-Identifier: MIT As seen on Debian's kernels in the suite's virtual machine
// (tests/kernel_oss.sh), whatever the card underneath.
#pragma once

#include <linux/soundcard.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>

// A format code the emulation converts from is kept as asked (the player
// then writes only 8 or 16 bits); any other number is answered with
// unsigned 8 bits, the format /dev/dsp opens with.
inline std::int32_t answerFormat(std::int32_t format) {
    // Besides those <linux/soundcard.h> names: signed 32 and 24 bits, each
    // byte order, and 24 bits in three bytes.
    constexpr std::int32_t kept[] = {AFMT_MU_LAW, AFMT_U8, AFMT_S16_LE, AFMT_S16_BE, AFMT_S8, AFMT_U16_LE,
                                     AFMT_U16_BE, 0x1000,  0x2000,      0x8000,      0x10000, 0x40000};
    return std::find(std::begin(kept), std::end(kept), format) != std::end(kept) ? format : AFMT_U8;
}

// The most channels the emulation takes.
constexpr std::int32_t mostOssChannels = 128;

// No channel is answered with one; more than the most is refused, and so is
// a negative count, which the kernel reads as unsigned.
inline std::optional<std::int32_t> answerChannels(std::int32_t channels) {
    if (channels < 0 || channels > mostOssChannels) {
        return std::nullopt;
    }
    return std::max(channels, 1);
}

// Rates are held to 1000 to 192000 Hz.
inline std::int32_t answerRate(std::int32_t rate) {
    constexpr std::int32_t lowest = 1000;
    constexpr std::int32_t highest = 192000;
    return std::clamp(rate, lowest, highest);
}
