// Peak levels of the player's sound, as the checker reports them and the progress line shows them.
// SPDX-License-Identifier: MIT
#include "sound_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

int levelOf(int sample, bool eightBit) {
    return eightBit ? std::abs(static_cast<std::uint8_t>(sample) - 128) * 256 : std::abs(sample);
}

bool isFullScale(int sample, bool eightBit) {
    const auto byte = static_cast<std::uint8_t>(sample);
    return eightBit ? byte == 0 || byte == UINT8_MAX : sample == INT16_MAX || sample == INT16_MIN;
}

double levelDecibels(int level) {
    if (level <= 0) {
        return -std::numeric_limits<double>::infinity();
    }
    // To a tenth, rounded first, so that a level just under full scale reads
    // 0.0, not -0.0.
    constexpr double tenths = 10;
    constexpr double decibelsPerDecade = 20;
    const double decibels = decibelsPerDecade * std::log10(static_cast<double>(level) / fullScaleLevel);
    return (std::round(tenths * decibels) / tenths) + 0.0;
}

LevelTracker::LevelTracker(const WavFormat& format) : format_(format) {}

void LevelTracker::add(const unsigned char* bytes, std::size_t count) {
    Levels levels;
    levels.peaks.assign(static_cast<std::size_t>(format_.channels), 0);
    const bool eightBit = format_.sampleBytes == 1;
    const auto channels = static_cast<std::size_t>(format_.channels);
    const auto sampleBytes = static_cast<std::size_t>(format_.sampleBytes);
    for (std::size_t at = 0, channel = 0; at + sampleBytes <= count; at += sampleBytes) {
        const int sample = eightBit ? bytes[at] : static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
        levels.peaks[channel] = std::max(levels.peaks[channel], levelOf(sample, eightBit));
        levels.fullScale = levels.fullScale || isFullScale(sample, eightBit);
        channel = channel + 1 == channels ? 0 : channel + 1;
    }
    stretches_.push_back({handedOn_, handedOn_ + count, std::move(levels)});
    handedOn_ += count;
}

Levels LevelTracker::takeHeard(std::uint64_t heardBytes) {
    Levels heard;
    heard.peaks.assign(static_cast<std::size_t>(format_.channels), 0);
    for (auto stretch = stretches_.begin(); stretch != stretches_.end() && stretch->start < heardBytes; ++stretch) {
        for (std::size_t channel = 0; channel < heard.peaks.size(); ++channel) {
            heard.peaks[channel] = std::max(heard.peaks[channel], stretch->levels.peaks[channel]);
        }
        heard.fullScale = heard.fullScale || stretch->levels.fullScale;
    }
    while (!stretches_.empty() && stretches_.front().end <= heardBytes) {
        stretches_.pop_front();
    }
    return heard;
}
