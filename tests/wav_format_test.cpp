// WAV headers against libsndfile: every frame readable, in RIFF and in RF64 past 4 GiB, and the length a header states.
// SPDX-License-Identifier: MIT
#include "wav_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "stated_length.h"

namespace {

struct LengthCase {
    const char* name;
    WavFormat format;
    std::uint64_t frames;
    const char* id;
};

const WavFormat wide{2, 32, 48000};  // 64 bytes a frame
const LengthCase lengthCases[] = {
    // Odd data is followed by a pad byte, which the RIFF size counts.
    {"OddDataIsPadded", {1, 1, 8000}, 3, "RIFF"},
    {"LastPlainLength", wide, (0xfffffffeULL - (wavFileHeaderBytes - 8)) / 64, "RIFF"},
    // The RIFF size, not the data's, decides: here only the RIFF size is past 32 bits.
    {"FirstRf64Length", wide, ((0xfffffffeULL - (wavFileHeaderBytes - 8)) / 64) + 1, "RF64"},
    {"PastFourGiB", wide, 67'200'000, "RF64"},
};

void PrintTo(const LengthCase& lengthCase, std::ostream* out) {
    *out << lengthCase.name << " (" << lengthCase.frames << " frames)";
}

class WavLengthTest : public testing::TestWithParam<LengthCase> {};

// The sound itself is a hole in a sparse file: only the header is written.
TEST_P(WavLengthTest, ReadersSeeEveryFrame) {
    char path[] = "/tmp/dspfeed-wav-XXXXXX";
    const int file = mkstemp(path);
    const WavFormat& format = GetParam().format;
    const std::uint64_t dataBytes =
        GetParam().frames * static_cast<std::uint64_t>(format.channels * format.sampleBytes);
    const std::vector<unsigned char> header = makeWavFileHeader(format, dataBytes);
    const std::uint64_t fileBytes = header.size() + dataBytes + (dataBytes % 2);
    ASSERT_EQ(write(file, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    ASSERT_EQ(ftruncate(file, static_cast<off_t>(fileBytes)), 0);
    close(file);
    SF_INFO info{};
    SNDFILE* sound = sf_open(path, SFM_READ, &info);
    unlink(path);
    ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
    sf_close(sound);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), GetParam().id);
    EXPECT_EQ(static_cast<std::uint64_t>(info.frames), GetParam().frames);
    EXPECT_EQ(info.channels, format.channels);
    // The RIFF size is all that follows it, and the data size the sound's
    // bytes; RF64 keeps both in its ds64 chunk. (A reader of a sparse file
    // trims a data size too large to the file, so they are read here.)
    const bool large = GetParam().id == std::string("RF64");
    const auto readSize = [&header](std::size_t offset, int bytes) {
        std::uint64_t size = 0;
        for (int index = bytes - 1; index >= 0; --index) {
            size = size << 8 | header[offset + static_cast<std::size_t>(index)];
        }
        return size;
    };
    EXPECT_EQ(readSize(large ? 20 : 4, large ? 8 : 4) + 8, fileBytes);
    EXPECT_EQ(large ? readSize(28, 8) : readSize(header.size() - 4, 4), dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WavLengthTest, testing::ValuesIn(lengthCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A chunk of odd size before the data is padded, and the length the header
// states is found past it.
TEST(StatedLength, ChunksOfOddSizeArePadded) {
    std::vector<unsigned char> header = makeWavFileHeader({1, 1, 8000}, 3);
    const unsigned char list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    header.insert(header.begin() + 12, std::begin(list), std::end(list));
    header[4] = static_cast<unsigned char>(header[4] + sizeof list);
    char path[] = "/tmp/dspfeed-wav-XXXXXX";
    const int file = mkstemp(path);
    unlink(path);
    ASSERT_EQ(write(file, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    EXPECT_EQ(readStatedFrames(file), 3);
    close(file);
}

}  // namespace
