// The bridge's pacing as a table: what it gathers, and what it lets the player read, for each format and history.
// SPDX-License-Identifier: MIT
#include "live_pacing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct PacingCase {
    const char* name;
    WavFormat format;
    std::uint64_t inputBytes;  // text read so far
    std::uint64_t soundBytes;  // sound made of it
    std::size_t gather;
    std::size_t read;
};

const PacingCase pacingCases[] = {
    // 20 ms of 48 kHz stereo is 3840 bytes; of 96 kHz stereo 7680, past the limit.
    {"TwentyMillisecondsAt48k", {2, 2, 48000}, 0, 0, 3840, SIZE_MAX},
    {"NoMoreThanTheLimit", {2, 2, 96000}, 0, 0, gatherLimit, SIZE_MAX},
    // 8 kHz 8-bit mono: 160 frames, however few bytes.
    {"TimeNotBytesAt8k", {1, 1, 8000}, 0, 0, 160, SIZE_MAX},
    // A rate under 50 Hz makes no whole frame in 20 ms: one frame still goes.
    {"AtLeastAFrame", {2, 6, 10}, 0, 0, 12, SIZE_MAX},
    // 12 bytes of text a frame, 960 frames in 20 ms at 48 kHz.
    {"ReadsTheTextOfTwentyMilliseconds", {2, 2, 48000}, 12'000, 4'000, 3840, 11'520},
    {"ReadsNoLessThan64Bytes", {1, 1, 8000}, 100, 1000, 160, 64},
};

void PrintTo(const PacingCase& row, std::ostream* out) {
    *out << row.name;
}

class PacingTest : public testing::TestWithParam<PacingCase> {};

TEST_P(PacingTest, GathersAndReadsByTime) {
    const PacingCase& row = GetParam();
    EXPECT_EQ(countGatherBytes(row.format), row.gather);
    EXPECT_EQ(countReadBytes(row.inputBytes, row.soundBytes, row.format), row.read);
}

INSTANTIATE_TEST_SUITE_P(Pacing, PacingTest, testing::ValuesIn(pacingCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
