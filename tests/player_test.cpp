// Black-box cases: the built dspfeed against the fake OSS driver.
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "player_run.h"

namespace {

std::string stream(int samples, int bits, int channels, int rate, const std::string& body) {
    return "SAMPLES: " + std::to_string(samples) + "\nBITSPERSAMPLE: " + std::to_string(bits) +
           "\nCHANNELS: " + std::to_string(channels) + "\nSAMPLERATE: " + std::to_string(rate) +
           "\nNORMALIZED: FALSE\n" + body;
}

const std::string opened = "open O_RDWR\n";
const std::string closed = "close\n";

std::string request(const std::string& name, int asked, const std::string& answer) {
    return "ioctl SNDCTL_DSP_" + name + " " + std::to_string(asked) + " -> " + answer + "\n";
}

std::string request(const std::string& name, int asked, int answered) {
    return request(name, asked, std::to_string(answered));
}

// The device opened and every setting granted as asked.
std::string granted(int bits, int channels, int rate) {
    return opened + request("SETFMT", bits, bits) + request("CHANNELS", channels, channels) +
           request("SPEED", rate, rate);
}

// One write of the given bytes (hex, blank-separated), accepted up to `accepted`.
std::string written(const std::string& bytes, const std::string& result = "") {
    const std::string count = std::to_string((bytes.size() + 1) / 3);
    return "write " + count + ": " + bytes + " -> " + (result.empty() ? count : result) + "\n";
}

const std::string broken = "Early end of input - text file broken?\n";
const std::string twoStereoFrames = stream(2, 16, 2, 44100, "1 -2\n32767 -32768\n");
const std::string twoStereoWrites = written("01 00 fe ff") + written("ff 7f 00 80");

// A frame of silence, as text.
std::string silentFrame(int channels) {
    std::string frame;
    for (int channel = 0; channel < channels; ++channel) {
        frame += "0 ";
    }
    frame.back() = '\n';
    return frame;
}

// A driver that takes nothing from the first `times` writes.
std::string stalledWrites(int times) {
    std::string script = "FAKE_DSP_WRITES=";
    for (int time = 0; time < times; ++time) {
        script += "0,";
    }
    return script;
}

std::string stalledLog(int times, const std::string& bytes) {
    std::string log;
    for (int time = 0; time < times; ++time) {
        log += written(bytes, "0");
    }
    return log;
}

struct PlayerCase {
    const char* name;
    std::string input;
    PlayerSetup setup;
    int status;
    std::string err;
    std::string log;
    std::string out;  // what the player sends to standard output: only the bridge sends anything
};

// The case tables keep one case to a line or two, as written.
// clang-format off

// Header errors never reach the device.
const PlayerCase headerCases[] = {
    {"EmptyInput", "", {}, 254, "Error, expected SAMPLES\n", ""},
    {"FirstKeyInLowerCase", "samples: 1\n", {}, 254, "Error, expected SAMPLES\n", ""},
    {"KeyApartFromItsColon", "SAMPLES : 1\n", {}, 254, "Error, expected SAMPLES\n", ""},
    {"KeyRunTogetherWithValue", "SAMPLES:1\n", {}, 254, "Error, expected SAMPLES\n", ""},
    {"MisspeltKey", "SAMPLESS: 1\n", {}, 254, "Error, expected SAMPLES\n", ""},
    {"FieldOutOfOrder", "SAMPLES: 1\nCHANNELS: 2\n", {}, 254, "Error, expected BITSPERSAMPLE\n", ""},
    {"SamplesOfLetters", "SAMPLES: many\nBITSPERSAMPLE: 16\n", {}, 254, "Error, expected BITSPERSAMPLE\n", ""},
    {"SamplesAboveInt32", "SAMPLES: 2147483648\nBITSPERSAMPLE: 16\n", {}, 254,
     "Error, expected BITSPERSAMPLE\n", ""},
    {"SignWithoutDigits", "SAMPLES: -\nBITSPERSAMPLE: 16\n", {}, 254, "Error, expected BITSPERSAMPLE\n", ""},
    {"HeaderEndsAfterChannels", "SAMPLES: 1\nBITSPERSAMPLE: 16\nCHANNELS: 2\n", {}, 254,
     "Error, expected SAMPLERATE\n", ""},
    {"BadSampleRateBlamesTheFlag", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: fast NORMALIZED: FALSE\n",
     {}, 254, "Error, expected \"NORMALIZED\"\n", ""},
    {"FlagKeyWithoutColon", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 8000 NORMALIZED FALSE\n", {},
     254, "Error, expected \"NORMALIZED\"\n", ""},
    {"FlagKeyRunTogetherWithValue", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 8000 NORMALIZED:TRUE\n", {}, 254, "Error, expected \"NORMALIZED\"\n", ""},
    {"HeaderErrorWithoutAnyDevice", "samples: 1\n", {.fakeDevice = false}, 254, "Error, expected SAMPLES\n", ""},
    {"StandardInputClosed", twoStereoFrames, {.closedDescriptors = {0}}, 254, "Error, expected SAMPLES\n", ""},
    // A read that fails ends the input where it fails.
    {"InputIsAFolder", twoStereoFrames, {.inputIsFolder = true}, 254, "Error, expected SAMPLES\n", ""},
    {"ReadFailsInsideAKey", twoStereoFrames, {.driver = {"FAKE_DSP_INPUT_FAILS_AFTER=20"}}, 254,
     "Error, expected BITSPERSAMPLE\n", ""},
};

// Headers that read alike however they are laid out.
const PlayerCase layoutCases[] = {
    {"TwoStereoFrames", twoStereoFrames, {}, 0, "", granted(16, 2, 44100) + twoStereoWrites + closed},
    {"ArgumentsAreIgnored", twoStereoFrames, {.arguments = {"-h", "--rate=8000", "file.txt"}}, 0, "",
     granted(16, 2, 44100) + twoStereoWrites + closed},
    {"EveryTokenOnItsOwnLine",
     "SAMPLES:\n2\nBITSPERSAMPLE:\n16\nCHANNELS:\n2\nSAMPLERATE:\n44100\nNORMALIZED:\nFALSE\n1\n-2\n32767\n-32768\n", {}, 0,
     "", granted(16, 2, 44100) + twoStereoWrites + closed},
    {"WholeStreamOnOneLine",
     "SAMPLES: 2 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 44100 NORMALIZED: FALSE 1 -2 32767 -32768\n", {}, 0, "",
     granted(16, 2, 44100) + twoStereoWrites + closed},
    {"CarriageReturnLineFeeds",
     "SAMPLES: 2\r\nBITSPERSAMPLE: 16\r\nCHANNELS: 2\r\nSAMPLERATE: 44100\r\nNORMALIZED: FALSE\r\n1 -2\r\n32767 -32768\r\n",
     {}, 0, "", granted(16, 2, 44100) + twoStereoWrites + closed},
    {"TabsAndFormFeeds",
     "SAMPLES:\t2\vBITSPERSAMPLE:\f16 CHANNELS: 2 SAMPLERATE: 44100 NORMALIZED: FALSE\t1\t-2 +32767 -32768\n", {}, 0, "",
     granted(16, 2, 44100) + twoStereoWrites + closed},
    {"NumbersRunTogetherWithKeys",
     "SAMPLES: 2BITSPERSAMPLE: 16CHANNELS: 2SAMPLERATE: 44100NORMALIZED: FALSE 1 -2 32767 -32768\n", {}, 0, "",
     granted(16, 2, 44100) + twoStereoWrites + closed},
    {"FlagTrue", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: TRUE 1\n", {}, 0, "",
     granted(16, 1, 8000) + written("01 00") + closed},
    {"FlagInLowerCase", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: true 1\n", {}, 0, "",
     granted(16, 1, 8000) + written("01 00") + closed},
    {"FlagValueLeftOut", "SAMPLES: 2 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 8000 NORMALIZED:\n1 2 3 4\n", {}, 0,
     broken, granted(16, 2, 8000) + written("02 00 03 00") + closed},
    {"InputEndsAtFlagKey", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED:", {}, 0, broken,
     granted(16, 1, 8000) + closed},
    {"InputEndsAtFlagKeyWithNoFrames", "SAMPLES: 0 BITSPERSAMPLE: 16 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED:", {}, 0,
     "", granted(16, 1, 8000) + closed},
};

// The device opened and asked for 16 bits, 2 channels and 44100 Hz, with the
// answers given; the requests after the first empty answer were never made.
std::string answered(const std::string& format, const std::string& channels = "", const std::string& rate = "") {
    std::string log = opened + request("SETFMT", 16, format);
    if (!channels.empty()) {
        log += request("CHANNELS", 2, channels);
    }
    if (!rate.empty()) {
        log += request("SPEED", 44100, rate);
    }
    return log;
}

const std::string badFormat = "Error setting sample size on /dev/dsp\n";
const std::string badChannels = "Error setting number of channels on /dev/dsp\n";

// How the player meets the device's answers.
const PlayerCase deviceCases[] = {
    {"OpenFails", twoStereoFrames, {.driver = {"FAKE_DSP_OPEN=fail"}}, 255, "Error opening /dev/dsp\n",
     "open O_RDWR -> ENOENT\n"},
    {"FormatRefused", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=refuse"}}, 254,
     badFormat, answered("refused")},
    {"ChannelsRefused", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=refuse"}}, 254, badChannels,
     answered("16", "refused")},
    {"RateRefused", twoStereoFrames, {.driver = {"FAKE_DSP_SPEED=refuse"}}, 254,
     "Error setting sample rate on /dev/dsp\n",
     answered("16", "2", "refused")},
    {"UnwritableFormatAsked", stream(1, 24, 1, 8000, "1\n"), {}, 254, badFormat,
     opened + request("SETFMT", 24, 24)},
    {"NegativeChannelsAsked", stream(1, 16, -1, 8000, "1\n"), {}, 254, badChannels,
     opened + request("SETFMT", 16, 16) + request("CHANNELS", -1, -1)},
    {"EightBitsAnsweredForSixteen", stream(2, 16, 2, 8000, "0 255\n128 383\n"), {.driver = {"FAKE_DSP_SETFMT=8"}},
     0, "", opened + request("SETFMT", 16, 8) + request("CHANNELS", 2, 2) + request("SPEED", 8000, 8000) +
                written("00 ff") + written("80 7f") + closed},
    {"TwoChannelsAnsweredForSix", stream(2, 16, 6, 8000, "1 2 3 4\n"), {.driver = {"FAKE_DSP_CHANNELS=2"}}, 0, "",
     opened + request("SETFMT", 16, 16) + request("CHANNELS", 6, 2) + request("SPEED", 8000, 8000) +
         written("01 00 02 00") + written("03 00 04 00") + closed},
    {"OneChannelAnsweredForTwo", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=1"}}, 0, "",
     answered("16", "1", "44100") + written("01 00") + written("fe ff") + closed},
    {"OtherRateAnswered", twoStereoFrames, {.driver = {"FAKE_DSP_SPEED=48000"}}, 0, "",
     answered("16", "2", "48000") + twoStereoWrites + closed},
};

// Answers no sane driver gives: none may crash the player or go unreported.
const PlayerCase hostileCases[] = {
    {"FormatZeroIsRefused", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=0"}}, 254, badFormat, answered("0")},
    {"FormatFourIsRefused", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=4"}}, 254, badFormat, answered("4")},
    {"FormatTwentyFourIsRefused", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=24"}}, 254, badFormat, answered("24")},
    {"FormatThirtyTwo", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=32"}}, 254, badFormat, answered("32")},
    {"FormatMinusSixteen", twoStereoFrames, {.driver = {"FAKE_DSP_SETFMT=-16"}}, 254, badFormat, answered("-16")},
    {"ChannelsZero", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=0"}}, 254, badChannels, answered("16", "0")},
    {"ChannelsMinusOne", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=-1"}}, 254, badChannels,
     answered("16", "-1")},
    {"ChannelsPastInt32Bytes", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=1073741825"}}, 0, broken,
     answered("16", "1073741825", "44100") + closed},
    {"ChannelsPastMemory", twoStereoFrames, {.driver = {"FAKE_DSP_CHANNELS=2147483647"}, .memoryLimit = 256 << 20},
     254, "Error allocating frame buffer\n", answered("16", "2147483647", "44100") + closed},
    {"RateZero", twoStereoFrames, {.driver = {"FAKE_DSP_SPEED=0"}}, 0, "",
     answered("16", "2", "0") + twoStereoWrites + closed},
    {"RateMinusOne", twoStereoFrames, {.driver = {"FAKE_DSP_SPEED=-1"}}, 0, "",
     answered("16", "2", "-1") + twoStereoWrites + closed},
};

// The body, frame by frame.
const PlayerCase streamingCases[] = {
    {"NoFrames", stream(0, 16, 2, 8000, "1 2\n"), {}, 0, "", granted(16, 2, 8000) + closed},
    {"NegativeFrameCount", stream(-3, 16, 2, 8000, "1 2\n"), {}, 0, "", granted(16, 2, 8000) + closed},
    {"EightBitMono", stream(3, 8, 1, 8000, "0 128 255\n"), {}, 0, "",
     granted(8, 1, 8000) + written("00") + written("80") + written("ff") + closed},
    {"EightBitStereoTakesOneBytePerChannel", stream(2, 8, 2, 8000, "0 255 127 1\n"), {}, 0, "",
     granted(8, 2, 8000) + written("00 ff") + written("7f 01") + closed},
    {"LastFrameWithoutFinalNewline", stream(2, 16, 2, 44100, "1 -2\n32767 -32768"), {}, 0, "",
     granted(16, 2, 44100) + twoStereoWrites + closed},
    {"EndsInsideThirdOfFiveFrames", stream(5, 16, 1, 8000, "1 2\n"), {}, 0, broken,
     granted(16, 1, 8000) + written("01 00") + written("02 00") + closed},
    {"LastFrameOneValueShort", stream(2, 16, 2, 8000, "1 2 3"), {}, 0, broken,
     granted(16, 2, 8000) + written("01 00 02 00") + closed},
    {"ValueAboveSixteenBits", stream(3, 16, 1, 8000, "1 32768 3\n"), {}, 0, broken,
     granted(16, 1, 8000) + written("01 00") + closed},
    {"ValueBelowSixteenBits", stream(2, 16, 1, 8000, "-32769 1\n"), {}, 0, broken, granted(16, 1, 8000) + closed},
    {"ValueNotANumber", stream(2, 16, 2, 8000, "1 2 x 4\n"), {}, 0, broken,
     granted(16, 2, 8000) + written("01 00 02 00") + closed},
    {"ReadFailsAfterTheFirstFrame", twoStereoFrames, {.driver = {"FAKE_DSP_INPUT_FAILS_AFTER=82"}}, 0, broken,
     granted(16, 2, 44100) + written("01 00 fe ff") + closed},
    {"MoreValuesThanFrames", stream(1, 16, 1, 8000, "7 8 9 junk\n"), {}, 0, "",
     granted(16, 1, 8000) + written("07 00") + closed},
    {"FailedWriteStopsThePlayer", stream(3, 16, 1, 8000, "1 2 3\n"), {.driver = {"FAKE_DSP_WRITES=,fail"}}, 255,
     "Error writing to /dev/dsp\n", granted(16, 1, 8000) + written("01 00") + written("02 00", "EIO") + closed},
    {"ShortWriteIsContinued", twoStereoFrames, {.driver = {"FAKE_DSP_WRITES=1,2"}}, 0, "",
     granted(16, 2, 44100) + written("01 00 fe ff", "1") + written("00 fe ff", "2") + written("ff") +
         written("ff 7f 00 80") + closed},
    {"InterruptedWriteIsRepeated", twoStereoFrames, {.driver = {"FAKE_DSP_WRITES=eintr,3,eintr"}}, 0, "",
     granted(16, 2, 44100) + written("01 00 fe ff", "EINTR") + written("01 00 fe ff", "3") +
         written("ff", "EINTR") + written("ff") + written("ff 7f 00 80") + closed},
    {"StalledWriteIsRepeated", stream(1, 16, 1, 8000, "1\n"), {.driver = {stalledWrites(99)}}, 0, "",
     granted(16, 1, 8000) + stalledLog(99, "01 00") + written("01 00") + closed},
    // The device must not take a closed standard descriptor and be sent the messages.
    {"StandardErrorClosedWithBrokenBody", stream(2, 16, 1, 8000, "1 x\n"), {.closedDescriptors = {2}}, 0, "",
     granted(16, 1, 8000) + written("01 00") + closed},
    {"StandardErrorClosedWithFailingWrite", stream(2, 16, 1, 8000, "1 2\n"),
     {.driver = {"FAKE_DSP_WRITES=fail"}, .closedDescriptors = {2}}, 255, "",
     granted(16, 1, 8000) + written("01 00", "EIO") + closed},
    {"StandardOutputAndErrorClosed", stream(2, 16, 1, 8000, "1 x\n"), {.closedDescriptors = {1, 2}}, 0, "",
     granted(16, 1, 8000) + written("01 00") + closed},
    {"EndlesslyStalledWriteFails", stream(2, 16, 1, 8000, "1 2\n"), {.driver = {stalledWrites(100)}}, 255,
     "Error writing to /dev/dsp\n", granted(16, 1, 8000) + stalledLog(100, "01 00") + closed},
};

// The sound bridge in the fake driver's place: the frames on standard output,
// behind the negotiated format.
const PlayerSetup bridge = {.bridge = BridgeRequest{}};
const PlayerSetup bridgeToWav = {.bridge = BridgeRequest{.output = BridgeOutput::wav}};
const std::string twoStereoBytes("\x01\x00\xfe\xff\xff\x7f\x00\x80", 8);
// Of unknown length, as on a pipe: 16-bit stereo at 44100 Hz.
const std::string stereoWavHeader("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data\xff\xff\xff\xff", 44);
// 8-bit mono at 8000 Hz, of unknown length even in a file: the tool that
// writes the file fills the lengths in.
const std::string eightBitStereoWavHeader("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x08\0data\xff\xff\xff\xff", 44);
const std::string thousandHertzWavHeader("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x01\0\xe8\x03\0\0\xd0\x07\0\0\x02\0\x10\0data\xff\xff\xff\xff", 44);
const std::string thirtyTwoChannelWavHeader("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x20\0\x40\x1f\0\0\0\xd0\x07\0\x40\0\x10\0data\xff\xff\xff\xff", 44);
const std::string monoWavHeader("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\xff\xff\xff\xff", 44);

const PlayerCase bridgeCases[] = {
    {"BridgeHandsOverTheFrames", twoStereoFrames, bridge, 0, "", "",
     "dspfeed-pcm s16le 44100 2\n" + stereoWavHeader + twoStereoBytes},
    // As the kernel's own OSS answers: 8 bits for what is no format, 1000 Hz for no rate.
    {"BridgeAnswersEightBitsForNoFormat", stream(1, 24, 2, 44100, "1 -2\n"), bridge, 0, "", "",
     "dspfeed-pcm u8 44100 2\n" + eightBitStereoWavHeader + "\x01\xfe"},
    {"BridgeTakes32Channels", stream(1, 16, 32, 8000, silentFrame(32)),
     bridge, 0, "", "", "dspfeed-pcm s16le 8000 32\n" + thirtyTwoChannelWavHeader + std::string(64, '\0')},
    {"BridgeRefusesMoreThan32Channels", stream(1, 16, 33, 8000, "1\n"), bridge, 254, badChannels, ""},
    {"BridgeAnswersRateZeroWithAThousand", stream(1, 16, 1, 0, "1\n"), bridge, 0, "", "",
     "dspfeed-pcm s16le 1000 1\n" + thousandHertzWavHeader + std::string("\x01\x00", 2)},
    {"BridgeSendsNothingWithoutFrames", stream(0, 16, 2, 8000, ""), bridge, 0, "", ""},
    {"BridgeSendsNothingOnBrokenFirstFrame", stream(2, 16, 2, 8000, "1 x\n"), bridge, 0, broken, ""},
    {"BridgeAnnouncesEightBits", stream(2, 8, 1, 8000, "1 255\n"), bridge, 0, "", "",
     "dspfeed-pcm u8 8000 1\n" + monoWavHeader + "\x01\xff"},
    {"BridgeWritesEightBitWav", stream(2, 8, 1, 8000, "1 255\n"), bridgeToWav, 0, "", "",
     monoWavHeader + "\x01\xff"},
};

// clang-format on

void PrintTo(const PlayerCase& playerCase, std::ostream* out) {
    *out << playerCase.name;
}

class PlayerTest : public testing::TestWithParam<PlayerCase> {};

TEST_P(PlayerTest, Run) {
    const PlayerCase& expected = GetParam();
    const PlayerRun run = runPlayer(expected.input, expected.setup);
    EXPECT_EQ(run.status, expected.status);
    EXPECT_EQ(run.err, expected.err);
    EXPECT_EQ(run.out, expected.out);
    EXPECT_EQ(run.log, expected.log);
}

std::string caseName(const testing::TestParamInfo<PlayerCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Header, PlayerTest, testing::ValuesIn(headerCases), caseName);
INSTANTIATE_TEST_SUITE_P(Layout, PlayerTest, testing::ValuesIn(layoutCases), caseName);
INSTANTIATE_TEST_SUITE_P(Device, PlayerTest, testing::ValuesIn(deviceCases), caseName);
INSTANTIATE_TEST_SUITE_P(Hostile, PlayerTest, testing::ValuesIn(hostileCases), caseName);
INSTANTIATE_TEST_SUITE_P(Streaming, PlayerTest, testing::ValuesIn(streamingCases), caseName);
INSTANTIATE_TEST_SUITE_P(Bridge, PlayerTest, testing::ValuesIn(bridgeCases), caseName);

TEST(PlayerWithoutDevice, ReportsTheMissingDevice) {
    if (std::filesystem::exists("/dev/dsp")) {
        GTEST_SKIP() << "this machine has a /dev/dsp";
    }
    const PlayerRun run = runPlayer(twoStereoFrames, {.fakeDevice = false});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Error opening /dev/dsp\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
