// The bridge's settings and lines, as the tool writes or reads them and the bridge reads or writes them.
// SPDX-License-Identifier: MIT
#include "bridge_protocol.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

namespace {

// What the tool's readers make of a line.
std::string readLine(const std::string& line) {
    WavFormat format;
    double seconds = 0;
    Levels levels;
    std::string reason;
    if (readFormatLine(line, format)) {
        return "format " + std::to_string(format.sampleBytes) + " bytes, " + std::to_string(format.sampleRate) +
               " Hz, " + std::to_string(format.channels) + " channels";
    }
    if (readHeardLine(line, seconds, levels)) {
        std::string heard = "heard " + std::to_string(seconds) + (levels.fullScale ? " full" : "");
        for (const int peak : levels.peaks) {
            heard += " " + std::to_string(peak);
        }
        return heard;
    }
    return readFailedLine(line, reason) ? "failed: " + reason : "nothing";
}

struct LineCase {
    const char* name;
    std::string line;
    const char* read;
};

void PrintTo(const LineCase& row, std::ostream* out) {
    *out << row.name;
}

const LineCase lineCases[] = {
    {"EightBitsMono", makeFormatLine({1, 1, 8000}), "format 1 bytes, 8000 Hz, 1 channels"},
    {"SixteenBitsSix", makeFormatLine({2, 6, 48000}), "format 2 bytes, 48000 Hz, 6 channels"},
    {"NoOtherSampleFormat", "dspfeed-pcm s24le 48000 2", "nothing"},
    {"FormatCutShort", "dspfeed-pcm u8 8000", "nothing"},
    {"HeardWithPeaks", makeHeardLine(1.25, {{16384, 3}, true}), "heard 1.250000 full 16384 3"},
    {"HeardOfSilence", makeHeardLine(0, {{0}, false}), "heard 0.000000 0"},
    {"HeardWithoutTime", "heard", "nothing"},
    {"FailedWithItsReason", makeFailedLine("Connection refused"), "failed: Connection refused"},
    {"AWordThatOnlyBeginsSo", "failedly so", "nothing"},
};

class BridgeLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(BridgeLineTest, ReadsAsWritten) {
    std::string line = GetParam().line;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();  // the tool reads a line without its end
    }
    EXPECT_EQ(readLine(line), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(Lines, BridgeLineTest, testing::ValuesIn(lineCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What a tool asks for, put into the environment, is what the bridge reads.
TEST(BridgeSettings, ReadAsAsked) {
    const BridgeRequest requests[] = {
        {},
        {.output = BridgeOutput::wav},
        {.output = BridgeOutput::server, .streamName = "a tune", .device = "headphones", .metered = true},
        {.output = BridgeOutput::alsa, .device = "hw:1", .metered = true},
        {.output = BridgeOutput::oss, .device = "/dev/dsp1"},
    };
    for (const BridgeRequest& request : requests) {
        for (const std::string& setting : makeBridgeSettings(request)) {
            const std::size_t equals = setting.find('=');
            ASSERT_EQ(setting.rfind(bridgeVariablePrefix, 0), 0U) << setting;
            setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
        }
        const BridgeRequest read = readBridgeRequest();
        EXPECT_EQ(read.output, request.output);
        EXPECT_EQ(read.streamName, request.streamName);
        EXPECT_EQ(read.device, request.device);
        EXPECT_EQ(read.metered, request.metered);
        for (const char* variable :
             {"DSPFEED_BRIDGE_FORMAT", "DSPFEED_BRIDGE_NAME", "DSPFEED_BRIDGE_METER", "DSPFEED_BRIDGE_DEVICE"}) {
            unsetenv(variable);
        }
    }
}

}  // namespace
