// The peak of each channel over the stretches of sound a meter shows, kept until they are heard.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "wav_format.h"

// Levels on a 16-bit scale, 32768 being full scale: an 8-bit sample counts
// 256 times its distance from 128.
constexpr int fullScaleLevel = 32768;

struct Levels {
    std::vector<int> peaks;  // one per channel
    bool fullScale = false;  // a sample at either end of its range
};

// A sample's level, and whether it is at full scale. (The player writes the
// low byte of an 8-bit value.)
int levelOf(int sample, bool eightBit);
bool isFullScale(int sample, bool eightBit);

// The level in dBFS, to a tenth; a silent channel is -infinity.
double levelDecibels(int level);

// Sound handed on, by its position in the stream, until a meter takes what
// has been heard of it.
class LevelTracker {
public:
    explicit LevelTracker(const WavFormat& format);
    // The next `count` bytes handed on, of whole frames.
    void add(const unsigned char* bytes, std::size_t count);
    // The peaks of what has begun to be heard, within the first `heardBytes`
    // of the stream, since the last call: a stretch still being heard counts
    // again next time, so that sound being heard always shows.
    Levels takeHeard(std::uint64_t heardBytes);

private:
    struct Stretch {
        std::uint64_t start;
        std::uint64_t end;
        Levels levels;
    };
    WavFormat format_;
    std::uint64_t handedOn_ = 0;
    std::deque<Stretch> stretches_;
};
