// Several players' sound through one sink: every byte once, in whole frames, one stream while the format holds.
// SPDX-License-Identifier: MIT
#include "sink_relay.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the sink was asked, one call a line; the bytes it took.
std::string calls;
std::vector<unsigned char> taken;

class NotingSink : public SoundSink {
public:
    int checkOpen() override { return 0; }
    int start(const WavFormat& format, std::vector<unsigned char>& /*ahead*/) override {
        frameBytes_ = countFrameBytes(format);
        calls += "start " + makeFormatLine(format);
        return 0;
    }
    int handOver(const unsigned char* bytes, std::size_t count) override {
        if (count % frameBytes_ != 0) {
            calls += "a part frame\n";
        }
        taken.insert(taken.end(), bytes, bytes + count);
        return 0;
    }
    int finish(double seconds) override {
        calls += "finish " + std::to_string(seconds) + "\n";
        return 0;
    }

private:
    std::size_t frameBytes_ = 1;
};

std::unique_ptr<SoundSink> makeNotingSink(const BridgeRequest& /*request*/, WriteOut /*writeOut*/) {
    return std::make_unique<NotingSink>();
}

struct RelayCase {
    const char* name;
    std::vector<std::pair<WavFormat, int>> streams;  // each player's format and frames; no frames, no sound at all
    const char* calls;
};

void PrintTo(const RelayCase& row, std::ostream* out) {
    *out << row.name;
}

const WavFormat sixChannels = {.sampleBytes = 2, .channels = 6, .sampleRate = 48000};
const WavFormat monoBytes = {.sampleBytes = 1, .channels = 1, .sampleRate = 8000};

const RelayCase relayCases[] = {
    {"OneFormatIsOneStream",
     {{sixChannels, 1000}, {sixChannels, 2000}},
     "start dspfeed-pcm s16le 48000 6\nfinish 0.062500\n"},
    {"ANewFormatStartsAgain",
     {{sixChannels, 1000}, {monoBytes, 3000}, {monoBytes, 1000}},
     "start dspfeed-pcm s16le 48000 6\nfinish 0.020833\nstart dspfeed-pcm u8 8000 1\nfinish 0.500000\n"},
    {"APlayerThatSentNothingIsPassedOver",
     {{monoBytes, 800}, {monoBytes, 0}, {monoBytes, 800}},
     "start dspfeed-pcm u8 8000 1\nfinish 0.200000\n"},
};

class SinkRelayTest : public testing::TestWithParam<RelayCase> {};

// Each player's sound comes as the bridge writes it, in pieces of no whole
// frame, as a pipe may give them.
TEST_P(SinkRelayTest, HandsOnEveryByteOnce) {
    calls.clear();
    taken.clear();
    SinkRelay relay;
    relay.makeSink = makeNotingSink;
    std::vector<unsigned char> sent;
    for (const auto& [format, frames] : GetParam().streams) {
        std::vector<unsigned char> output;
        if (frames > 0) {
            const std::string line = makeFormatLine(format);
            const std::vector<unsigned char> header = makeWavStreamHeader(format);
            output.assign(line.begin(), line.end());
            output.insert(output.end(), header.begin(), header.end());
            for (std::size_t byte = 0; byte < frames * countFrameBytes(format); ++byte) {
                sent.push_back(static_cast<unsigned char>((byte * 7) + sent.size()));
                output.push_back(sent.back());
            }
        }
        int sound[2];
        ASSERT_EQ(pipe(sound), 0);
        std::thread player([&output, sound] {
            constexpr std::size_t piece = 1001;
            for (std::size_t done = 0; done < output.size(); done += piece) {
                (void)write(sound[1], output.data() + done, std::min(piece, output.size() - done));
            }
            close(sound[1]);
        });
        EXPECT_TRUE(relaySound(sound[0], "stream", relay));
        player.join();
        close(sound[0]);
    }
    EXPECT_TRUE(finishRelay(relay));
    EXPECT_EQ(calls, GetParam().calls);
    EXPECT_TRUE(taken == sent) << taken.size() << " bytes taken of " << sent.size();
}

INSTANTIATE_TEST_SUITE_P(Relay, SinkRelayTest, testing::ValuesIn(relayCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
