// dspfeed-check: its report's wording, and its predictions against what the player does on mutated streams.
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "player_run.h"

namespace {

PlayerRun runChecker(const std::string& input, const std::vector<std::string>& arguments = {}) {
    return runPlayer(input, {.arguments = arguments, .fakeDevice = false, .program = DSPFEED_CHECK_BINARY});
}

struct ReportCase {
    const char* name;
    std::string input;
    int status;
    std::string report;
};

const std::string header16 = "SAMPLES: 3\nBITSPERSAMPLE: 16\nCHANNELS: 2\nSAMPLERATE: 8000\nNORMALIZED: FALSE\n";
const std::string header16Line =
    "header: SAMPLES 3, BITSPERSAMPLE 16, CHANNELS 2, SAMPLERATE 8000, NORMALIZED FALSE (0.000 s)\n";

// clang-format off
const ReportCase reportCases[] = {
    {"CleanStreamPlaysWhole", header16 + "1 -1\n2 -2\n32767 -32768\n", 0, header16Line +
     "note: peak channel 1 32767 (0.0 dBFS), channel 2 32768 (0.0 dBFS)\n"
     "note: 2 values at full scale (possible clipping)\n"
     "player: plays all 3 frames (0.000 s) and exits with status 0\n"},
    {"ValueOutOfRange", header16 + "1 -1\n2 40000\n", 1, header16Line +
     "<stdin>:7:3: error: frame 2, channel 2: '40000' is out of -32768..32767\n"
     "note: peak channel 1 2 (-84.3 dBFS), channel 2 1 (-90.3 dBFS)\nnote: no value at full scale\n"
     "player: plays 1 of 3 frames (0.000 s), then says \"Early end of input - text file broken?\" and exits with status 0\n"},
    {"ColumnPastTheReadWindow", header16 + "1 -1\n" + std::string(300000, ' ') + "2 40000\n", 1, header16Line +
     "<stdin>:7:300003: error: frame 2, channel 2: '40000' is out of -32768..32767\n"
     "note: peak channel 1 2 (-84.3 dBFS), channel 2 1 (-90.3 dBFS)\nnote: no value at full scale\n"
     "player: plays 1 of 3 frames (0.000 s), then says \"Early end of input - text file broken?\" and exits with status 0\n"},
    {"KeyOutOfOrder", "SAMPLES: 3\nCHANNELS: 2\n", 1,
     "header: SAMPLES 3, BITSPERSAMPLE ?, CHANNELS ?, SAMPLERATE ?, NORMALIZED ?\n"
     "<stdin>:2:1: error: 'CHANNELS:' is out of order: 'BITSPERSAMPLE:' is due here\n"
     "player: plays nothing, then says \"Error, expected BITSPERSAMPLE\" and exits with status 254\n"},
    {"BadRateBlamesTheFlag", "SAMPLES: 3 BITSPERSAMPLE: 8 CHANNELS: 1 SAMPLERATE: fast", 1,
     "header: SAMPLES 3, BITSPERSAMPLE 8, CHANNELS 1, SAMPLERATE ?, NORMALIZED ?\n"
     "<stdin>:1:53: error: SAMPLERATE value: 'fast' is not a number\n"
     "player: plays nothing, then says \"Error, expected \"NORMALIZED\"\" and exits with status 254\n"},
    {"EightBitWarnings", "SAMPLES: 2 BITSPERSAMPLE: 8 CHANNELS: 1 SAMPLERATE: 0 NORMALIZED: 128\n300 -1 7\n", 1,
     "header: SAMPLES 2, BITSPERSAMPLE 8, CHANNELS 1, SAMPLERATE 0, NORMALIZED 128\n"
     "<stdin>:1:53: warning: SAMPLERATE 0: not a rate: the device answers 1000 Hz\n"
     "<stdin>:1:67: warning: NORMALIZED value '128' is a number: the flag word is probably missing, which shifts every frame by one value\n"
     "<stdin>:2:1: warning: 2 8-bit values outside 0..255, the first 300, which plays as 44\n"
     "<stdin>:2:8: warning: data after the last frame, starting '7'\n"
     "note: peak 127 (-0.1 dBFS)\nnote: 1 value at full scale (possible clipping)\n"
     "player: plays all 2 frames and exits with status 0\n"},
    {"UnwritableFormat", "SAMPLES: 0 BITSPERSAMPLE: 32 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: FALSE\n", 1,
     "header: SAMPLES 0, BITSPERSAMPLE 32, CHANNELS 1, SAMPLERATE 8000, NORMALIZED FALSE (0.000 s)\n"
     "<stdin>:1:10: warning: SAMPLES 0: nothing is played\n"
     "<stdin>:1:27: warning: BITSPERSAMPLE 32: the player writes only 8 or 16 bits\n"
     "player: plays nothing, then says \"Error setting sample size on /dev/dsp\" and exits with status 254\n"},
    // The device answers as the kernel's own does: 8 bits for what is no format, one channel for none.
    {"DeviceAnswersOtherwise", "SAMPLES: 1 BITSPERSAMPLE: 24 CHANNELS: 0 SAMPLERATE: 8000 NORMALIZED: FALSE\n200\n", 1,
     "header: SAMPLES 1, BITSPERSAMPLE 24, CHANNELS 0, SAMPLERATE 8000, NORMALIZED FALSE (0.000 s)\n"
     "<stdin>:1:27: warning: BITSPERSAMPLE 24: not a format: the device answers 8 bits\n"
     "<stdin>:1:40: warning: CHANNELS 0: the device answers 1 channel\n"
     "note: peak 72 (-5.0 dBFS)\nnote: no value at full scale\n"
     "player: plays its 1 frame (0.000 s) and exits with status 0\n"},
    {"DeviceRefusesChannels", "SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 129 SAMPLERATE: 400000 NORMALIZED: FALSE\n1\n", 1,
     "header: SAMPLES 1, BITSPERSAMPLE 16, CHANNELS 129, SAMPLERATE 400000, NORMALIZED FALSE (0.000 s)\n"
     "<stdin>:1:40: warning: CHANNELS 129: the device takes 1 to 128 channels\n"
     "<stdin>:1:56: warning: SAMPLERATE 400000: the device answers 192000 Hz\n"
     "player: plays nothing, then says \"Error setting number of channels on /dev/dsp\" and exits with status 254\n"},
};
// clang-format on

void PrintTo(const ReportCase& reportCase, std::ostream* out) {
    *out << reportCase.name;
}

class CheckReportTest : public testing::TestWithParam<ReportCase> {};

TEST_P(CheckReportTest, Report) {
    const PlayerRun run = runChecker(GetParam().input);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.out, GetParam().report);
    EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(Wording, CheckReportTest, testing::ValuesIn(reportCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckUsage, UnreadableFileAndBadOption) {
    const PlayerRun missing = runChecker("", {"/nonexistent/stream.txt"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "dspfeed-check: cannot read /nonexistent/stream.txt: No such file or directory\n");
    const PlayerRun option = runChecker("", {"--verbose"});
    EXPECT_EQ(option.status, 2);
    EXPECT_EQ(option.err,
              "dspfeed-check: unknown option '--verbose'\nusage: dspfeed-check [--json] [--] [STREAM.txt | -]\n");
}

// Valid streams that the mutations start from.
const std::string validStreams[] = {
    "SAMPLES: 4\nBITSPERSAMPLE: 16\nCHANNELS: 2\nSAMPLERATE: 44100\nNORMALIZED: FALSE\n1 -2\n300 -32768\n32767 0\n5 "
    "6\n",
    "SAMPLES: 5 BITSPERSAMPLE: 8 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: TRUE 0 128 255 7 9",
    "SAMPLES: 3\r\nBITSPERSAMPLE: 16\r\nCHANNELS: 3\r\nSAMPLERATE: 22050\r\nNORMALIZED: FALSE\r\n1 2 3\r\n4 5 6\r\n7 8 "
    "9\r\n",
    // Played by what the device answers: 8 bits, one channel, 1000 Hz.
    "SAMPLES: 3 BITSPERSAMPLE: 0 CHANNELS: 0 SAMPLERATE: 0 NORMALIZED: FALSE\n1 2 3\n",
};

const char* const junkTokens[] = {
    "x",          "40000",     "-32769",      "32767", "-32768",   "256", "-1", "+",        "-",
    "+7",         "1e3",       "0x10",        "TRUE",  "SAMPLES:", "0",   "24", "3",        "12abc",
    "2147483648", "CHANNELS:", "NORMALIZED:", "8",     "1",        "-5",  "",   "samples:", "99999999999"};

// One random edit: a token deleted, replaced, inserted, doubled or run into
// the one before it, or the text cut short or one byte changed.
void mutate(std::string& text, std::mt19937& random) {
    std::vector<std::size_t> starts;
    for (std::size_t offset = 0; offset < text.size(); ++offset) {
        if (std::isspace(static_cast<unsigned char>(text[offset])) == 0 &&
            (offset == 0 || std::isspace(static_cast<unsigned char>(text[offset - 1])) != 0)) {
            starts.push_back(offset);
        }
    }
    const auto pick = [&random](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    if (starts.empty() || text.empty()) {
        text += junkTokens[pick(std::size(junkTokens))];
        return;
    }
    const std::size_t start = starts[pick(starts.size())];
    std::size_t end = start;
    while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])) == 0) {
        ++end;
    }
    const std::string junk = junkTokens[pick(std::size(junkTokens))];
    switch (pick(7)) {
        case 0:
            text.erase(start, end - start);
            break;
        case 1:
            text.replace(start, end - start, junk);
            break;
        case 2:
            text.insert(start, junk + " ");
            break;
        case 3:
            text.insert(start, text.substr(start, end - start) + " ");
            break;
        case 4:
            text.erase(start > 0 ? start - 1 : 0, start > 0 ? 1 : 0);
            break;
        case 5:
            text.resize(pick(text.size() + 1));
            break;
        default:
            text[pick(text.size())] = "0123456789 -+:xT\n"[pick(17)];
            break;
    }
}

// The frames of a WAV file the tools made: its data over its frame size,
// from its chunks.
std::size_t countWavFrames(const std::string& wav) {
    const auto read = [&wav](std::size_t offset, std::size_t bytes) {
        std::size_t value = 0;
        for (std::size_t index = bytes; index-- > 0;) {
            value = (value << 8) | static_cast<unsigned char>(wav[offset + index]);
        }
        return value;
    };
    constexpr std::size_t blockAlignInFormat = 12;
    std::size_t blockAlign = 1;
    for (std::size_t chunk = 12; chunk + 8 <= wav.size(); chunk += 8 + read(chunk + 4, 4)) {
        if (wav.compare(chunk, 4, "fmt ") == 0) {
            blockAlign = read(chunk + 8 + blockAlignInFormat, 2);
        } else if (wav.compare(chunk, 4, "data") == 0) {
            return read(chunk + 4, 4) / std::max<std::size_t>(blockAlign, 1);
        }
    }
    return 0;
}

// What a run came to: the frames played, the status, and the player's
// message, without the lines a tool adds of its own.
std::string describeOutcome(std::size_t frames, const PlayerRun& run) {
    std::string said;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("dspfeed-play: ", 0) != 0) {
            said += line + "\n";
        }
    }
    return std::to_string(frames) + " frames, status " + std::to_string(run.status) + ", " + said;
}

std::size_t countWrites(const std::string& log) {
    std::size_t writes = 0;
    for (std::size_t at = log.find("write "); at != std::string::npos; at = log.find("write ", at + 1)) {
        ++writes;
    }
    return writes;
}

// The requests the player made of the device, as "NAME VALUE " for each.
std::string describeRequests(const std::string& log) {
    static const std::regex request(R"(ioctl SNDCTL_DSP_(\w+) (-?\d+))");
    std::string requests;
    for (std::sregex_iterator match(log.begin(), log.end(), request), end; match != end; ++match) {
        requests += (*match)[1].str() + " " + (*match)[2].str() + " ";
    }
    return requests;
}

// On each stream, four ways to one answer: the checker's prediction, the
// player on a fake driver that answers as the kernel does, and the player
// through the bridge into a WAV file, by dspfeed2wav and by dspfeed-play.
TEST(CheckPrediction, AgreesWithThePlayerOnMutatedStreams) {
    constexpr int streamCount = 332;
    std::mt19937 random(20261208);
    const std::regex prediction(R"re("framesPlayed":(\d+),"message":"((?:[^"\\]|\\.)*)","status":(\d+))re");
    const std::regex wholeHeader(
        R"re("BITSPERSAMPLE":(-?\d+),"CHANNELS":(-?\d+),"SAMPLERATE":(-?\d+),"NORMALIZED":")re");
    const PlayerSetup toWav = {
        .arguments = {"-", "out.wav"}, .fakeDevice = false, .inOwnFolder = true, .program = DSPFEED2WAV_BINARY};
    const PlayerSetup playToWav = {
        .arguments = {"--via", "wav", "-"}, .fakeDevice = false, .inOwnFolder = true, .program = DSPFEED_PLAY_BINARY};
    std::set<std::string> messages;
    for (int index = 0; index < streamCount; ++index) {
        std::string stream = validStreams[index % std::size(validStreams)];
        for (int edits = 1 + (index % 3); edits > 0; --edits) {
            mutate(stream, random);
        }
        const PlayerRun checker = runChecker(stream, {"--json"});
        std::smatch match;
        if (!std::regex_search(checker.out, match, prediction)) {
            ADD_FAILURE() << "no prediction for stream " << index << ":\n" << checker.out;
            continue;
        }
        std::string message = std::regex_replace(match[2].str(), std::regex(R"(\\")"), "\"");
        if (!message.empty()) {
            message += "\n";
        }
        const std::string predicted = match[1].str() + " frames, status " + match[3].str() + ", " + message;
        const PlayerRun player = runPlayer(stream, {.driver = {"FAKE_DSP_ANSWERS=kernel"}});
        const PlayerRun rendered = runPlayer(stream, toWav);
        const PlayerRun played = runPlayer(stream, playToWav);
        EXPECT_EQ(describeOutcome(countWrites(player.log), player), predicted) << "stream " << index << ":\n" << stream;
        EXPECT_EQ(describeOutcome(countWavFrames(rendered.made), rendered), predicted)
            << "dspfeed2wav, stream " << index;
        EXPECT_EQ(describeOutcome(countWavFrames(played.made), played), predicted) << "dspfeed-play, stream " << index;
        // The tools' reading of the header against the player's: of a whole
        // header the player asks for its format, channels and rate, in turn
        // until one is refused; of a broken one, nothing.
        const std::string requests = describeRequests(player.log);
        std::smatch header;
        if (std::regex_search(checker.out, header, wholeHeader)) {
            const std::string asked =
                "SETFMT " + header[1].str() + " CHANNELS " + header[2].str() + " SPEED " + header[3].str() + " ";
            EXPECT_TRUE(!requests.empty() && asked.starts_with(requests))
                << "the header read as " << asked << "; the player asked " << requests << "; stream " << index;
        } else {
            EXPECT_EQ(requests, "") << "the header read as broken; stream " << index;
        }
        messages.insert(message.substr(0, message.find(' ', message.find(' ') + 1)));
    }
    // The mutations reach every kind of end the player has: none, a broken
    // body, a broken header and a refused setting.
    const std::set<std::string> kinds = {"", "Early end", "Error, expected", "Error setting"};
    std::cout << "dspfeed-check: compared " << streamCount
              << " mutated streams with the player, dspfeed2wav and dspfeed-play\n";
    EXPECT_EQ(messages, kinds);
}

}  // namespace
