// The WAV file header against libsndfile: every frame readable, below 4 GiB and past it, where the file becomes RF64.
// SPDX-License-Identifier: MIT
#include "wav_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

struct LengthCase {
    const char* name;
    std::uint64_t frames;  // of 32 channels at 16 bits, 64 bytes each
    const char* id;
};

const LengthCase lengthCases[] = {
    {"LastPlainLength", (0xfffffffeULL - (wavFileHeaderBytes - 8)) / 64, "RIFF"},
    // The RIFF size, not the data's, decides: here only the RIFF size is past 32 bits.
    {"FirstRf64Length", ((0xfffffffeULL - (wavFileHeaderBytes - 8)) / 64) + 1, "RF64"},
    {"PastFourGiB", 67'200'000, "RF64"},
};

void PrintTo(const LengthCase& lengthCase, std::ostream* out) {
    *out << lengthCase.name << " (" << lengthCase.frames << " frames)";
}

class WavLengthTest : public testing::TestWithParam<LengthCase> {};

// The sound itself is a hole in a sparse file: only the header is written.
TEST_P(WavLengthTest, ReadersSeeEveryFrame) {
    char path[] = "/tmp/dspfeed-wav-XXXXXX";
    const int file = mkstemp(path);
    const WavFormat format{2, 32, 48000};
    const std::vector<unsigned char> header = makeWavFileHeader(format, GetParam().frames * 64);
    ASSERT_EQ(write(file, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    ASSERT_EQ(ftruncate(file, static_cast<off_t>(header.size() + (GetParam().frames * 64))), 0);
    close(file);
    SF_INFO info{};
    SNDFILE* sound = sf_open(path, SFM_READ, &info);
    unlink(path);
    ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
    sf_close(sound);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), GetParam().id);
    EXPECT_EQ(static_cast<std::uint64_t>(info.frames), GetParam().frames);
    EXPECT_EQ(info.channels, 32);
    // The RIFF size, where RF64 keeps it in its ds64 chunk, is all that follows it.
    const bool large = GetParam().id == std::string("RF64");
    std::uint64_t riffBytes = 0;
    for (int index = large ? 7 : 3; index >= 0; --index) {
        riffBytes = riffBytes << 8 | header[(large ? 20 : 4) + index];
    }
    EXPECT_EQ(riffBytes + 8, header.size() + (GetParam().frames * 64));
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavLengthTest, testing::ValuesIn(lengthCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
