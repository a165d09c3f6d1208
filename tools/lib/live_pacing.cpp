// How much the bridge gathers and reads at a time: pure functions of the format and what it has seen.
// SPDX-License-Identifier: MIT
#include "live_pacing.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int gathersPerSecond = 50;  // 20 ms
constexpr std::uint64_t leastRead = 64;

}  // namespace

std::size_t countGatherBytes(const WavFormat& format) {
    const std::size_t frameBytes = countFrameBytes(format);
    const std::size_t twentyMilliseconds = frameBytes * static_cast<std::size_t>(format.sampleRate / gathersPerSecond);
    return std::max(frameBytes, std::min(gatherLimit, twentyMilliseconds));
}

std::size_t countReadBytes(std::uint64_t inputBytes, std::uint64_t soundBytes, const WavFormat& format) {
    const std::uint64_t frames = soundBytes / countFrameBytes(format);
    if (frames == 0) {
        return SIZE_MAX;
    }
    const std::uint64_t bytes = inputBytes * static_cast<std::uint64_t>(format.sampleRate / gathersPerSecond) / frames;
    return static_cast<std::size_t>(std::max(bytes, leastRead));
}
