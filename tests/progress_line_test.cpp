// dspfeed-play's progress line and level meter: the exact line for each width, and the levels of what was heard.
// SPDX-License-Identifier: MIT
#include "progress_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct LineCase {
    const char* name;
    double heard;
    double total;
    std::vector<int> peaks;
    bool fullScale;
    std::size_t width;
    const char* line;
    const char* label = "";  // of one stream of several
};

void PrintTo(const LineCase& row, std::ostream* out) {
    *out << row.name;
}

const LineCase lineCases[] = {
    {"StereoShowsBothChannels",
     13,
     100,
     {16384, 3277},
     false,
     79,
     "dspfeed-play: 0:00:13 of 0:01:40 (13%)  L  -6.0  R -20.0 dBFS"},
    {"FullScaleIsMarked", 3725, -1, {32768, 0}, true, 79, "dspfeed-play: 1:02:05  L   0.0  R  -inf dBFS full"},
    {"MonoShowsItsOne", 1, 2, {32767}, false, 79, "dspfeed-play: 0:00:01 of 0:00:02 (50%)    0.0 dBFS"},
    {"BeyondTwoTheLoudest",
     0,
     0,
     {10, 20000, 3},
     false,
     79,
     "dspfeed-play: 0:00:00 of 0:00:00 (100%)  ch 2  -4.3 dBFS"},
    {"NarrowDropsTheMeterFirst", 13, 100, {16384, 3277}, false, 40, "dspfeed-play: 0:00:13 of 0:01:40 (13%)"},
    {"NarrowerDropsTheName", 13, 100, {16384, 3277}, false, 29, "0:00:13 of 0:01:40 (13%)"},
    {"NarrowestCutsTheTime", 13, 100, {16384, 3277}, false, 10, "0:00:13 of"},
    {"PercentStopsAtTheEnd", 120, 100, {}, false, 79, "dspfeed-play: 0:02:00 of 0:01:40 (100%)"},
    {"OneOfSeveralIsNamed",
     13,
     100,
     {16384, 3277},
     false,
     79,
     "dspfeed-play: b.txt 2/3 0:00:13 of 0:01:40 (13%)  L  -6.0  R -20.0 dBFS",
     "b.txt 2/3"},
    {"NarrowKeepsWhichStream", 13, 100, {16384}, false, 35, "b.txt 2/3 0:00:13 of 0:01:40 (13%)", "b.txt 2/3"},
};

class ProgressLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(ProgressLineTest, FitsTheWidth) {
    const LineCase& row = GetParam();
    EXPECT_EQ(formatProgress(row.heard, row.total, Levels{row.peaks, row.fullScale}, row.width, row.label), row.line);
}

INSTANTIATE_TEST_SUITE_P(Lines, ProgressLineTest, testing::ValuesIn(lineCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The meter shows what has begun to be heard since it last looked, not what
// was handed on: a loud 16-bit stereo frame still on its way does not count,
// and one being heard counts until all of it has been.
TEST(LevelTrackerTest, TakesOnlyWhatWasHeard) {
    LevelTracker tracker({2, 2, 8000});
    const unsigned char quiet[] = {0x00, 0x01, 0x00, 0xff};  // 256, -256
    const unsigned char loud[] = {0xff, 0x7f, 0x00, 0x80};   // 32767, -32768
    tracker.add(quiet, sizeof quiet);
    tracker.add(loud, sizeof loud);
    const Levels first = tracker.takeHeard(4);
    EXPECT_EQ(first.peaks, (std::vector<int>{256, 256}));
    EXPECT_FALSE(first.fullScale);
    for (const std::uint64_t heard : {6, 8}) {
        const Levels loudest = tracker.takeHeard(heard);
        EXPECT_EQ(loudest.peaks, (std::vector<int>{32767, 32768})) << heard;
        EXPECT_TRUE(loudest.fullScale);
    }
    EXPECT_EQ(tracker.takeHeard(8).peaks, (std::vector<int>{0, 0}));
}

// At 8 bits a sample's distance from 128 is its level, and 0 and 255 are full scale.
TEST(LevelTrackerTest, ReadsEightBitsAroundTheMiddle) {
    LevelTracker tracker({1, 1, 8000});
    const unsigned char samples[] = {128, 192, 0};
    tracker.add(samples, 2);
    EXPECT_EQ(tracker.takeHeard(2).peaks, (std::vector<int>{64 * 256}));
    tracker.add(samples + 2, 1);
    const Levels last = tracker.takeHeard(3);
    EXPECT_EQ(last.peaks, (std::vector<int>{128 * 256}));
    EXPECT_TRUE(last.fullScale);
}

}  // namespace
