// dspfeed-check: reads a text sample stream by the player's rules; tells where it breaks and what the player does.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-check [--json] [STREAM.txt | -]
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "check_report.h"
#include "command_line.h"
#include "oss_answers.h"
#include "player_contract.h"
#include "sound_device.h"
#include "sound_levels.h"
#include "stream_header.h"
#include "stream_window.h"
#include "text_escaping.h"
#include "text_input.h"
#include "tool_files.h"
#include "wording.h"

namespace {

// Channels past this many share one peak in the notes.
constexpr std::int64_t channelsWithOwnPeak = 64;

// The reading of one stream: the window under it, the stream the player's
// readers read, and what was found.
struct Check {
    explicit Check(int descriptor) : window(descriptor), input(&window) {}

    // Skips the whitespace before a token and tells where the token starts.
    Place placeNextToken() {
        window.skipSpace();
        return {window.offset(), window.positionOf(window.offset())};
    }

    void find(const Place& place, bool isError, std::string text) {
        report.findings.push_back({place, isError, std::move(text)});
    }

    StreamWindow window;
    std::istream input;
    Report report;
};

std::string quoteToken(const std::string& token) {
    return "'" + makeShowable(token, longestShown) + "'";
}

// Why a number whose token starts at `token` failed, the extraction having
// stopped at `stoppedAt`. The library takes the digits of a number too large
// for its type, and nothing of a token that is not a number, so what it took
// tells the two apart.
std::string describeFailedNumber(Check& check, const Place& token, std::uint64_t stoppedAt, const char* range) {
    const std::string text = check.window.tokenAt(token.offset, longestShown + 1);
    if (text.empty()) {
        return "input ended";
    }
    const std::uint64_t sign = text[0] == '+' || text[0] == '-' ? 1 : 0;
    const bool tookDigits = stoppedAt > token.offset + sign;
    return quoteToken(text) + (tookDigits ? std::string(" is out of ") + range : " is not a number");
}

std::string describeKeyMismatch(const std::string& word, const std::string& key) {
    const std::string due = "'" + key + ":'";
    if (word.empty()) {
        return "input ended where " + due + " was due";
    }
    for (const char* other : headerKeys) {
        if (other != key && isKeyToken(word, other)) {
            return quoteToken(word) + " is out of order: " + due + " is due here";
        }
    }
    if (word.rfind(key + ":", 0) == 0) {
        return quoteToken(word) + " runs the key token into its value: " + due + " needs a blank after it";
    }
    if (word == key) {
        return quoteToken(word) + " lacks its colon: " + due + " is due here";
    }
    return quoteToken(word) + " is not the key token " + due + " (misspelt?)";
}

// Whether a word would read as a number, by the library's own extraction. A
// word cut at longestWord bytes does not.
bool readsAsNumber(const std::string& word) {
    std::istringstream input(word);
    long long number = 0;
    return word.size() < longestWord && static_cast<bool>(input >> number) &&
           input.peek() == std::char_traits<char>::eof();
}

// What the samples amount to as the device gets them: the peak of each
// channel, how many sit at full scale, and at 8 bits how many do not fit a byte.
struct SampleTally {
    std::int64_t channels = 1;
    std::vector<std::int32_t> peaks;
    std::int64_t fullScale = 0;
    std::int64_t outsideByte = 0;
    Place firstOutsideByte{};
    std::int16_t firstOutsideByteValue = 0;
};

void addSample(Check& check, SampleTally& tally, std::int16_t value, std::int64_t channel, bool eightBit,
               std::uint64_t start) {
    std::int32_t level = std::abs(std::int32_t{value});
    if (eightBit) {
        const int played = value & 0xff;  // the low byte, as the player writes it
        if (played != value && tally.outsideByte++ == 0) {
            tally.firstOutsideByte = {start, check.window.positionOf(start)};
            tally.firstOutsideByteValue = value;
        }
        level = std::abs(played - 128);
    }
    tally.fullScale += isFullScale(value, eightBit) ? 1 : 0;
    std::int32_t& peak = tally.peaks[tally.peaks.size() == 1 ? 0 : static_cast<std::size_t>(channel)];
    peak = std::max(peak, level);
}

// An 8-bit peak is its distance from 128.
std::string describePeak(std::int32_t peak, bool eightBit) {
    if (peak == 0) {
        return "silent";
    }
    constexpr std::size_t room = 48;
    char text[room];
    (void)std::snprintf(text, sizeof text, "%d (%.1f dBFS)", peak, levelDecibels(eightBit ? peak * 256 : peak));
    return text;
}

void describeTally(Check& check, const SampleTally& tally, bool eightBit) {
    Report& report = check.report;
    if (tally.outsideByte > 0) {
        const std::int16_t first = tally.firstOutsideByteValue;
        check.find(tally.firstOutsideByte, false,
                   countOf(tally.outsideByte, "8-bit value") + " outside 0..255, the first " + std::to_string(first) +
                       ", which plays as " + std::to_string(static_cast<std::uint8_t>(first)));
    }
    std::string peaks = "peak";
    if (tally.peaks.size() == 1) {
        peaks += (tally.channels == 1 ? " " : " of all channels ") + describePeak(tally.peaks[0], eightBit);
    } else {
        for (std::size_t channel = 0; channel < tally.peaks.size(); ++channel) {
            peaks += (channel == 0 ? " channel " : ", channel ") + std::to_string(channel + 1) + " " +
                     describePeak(tally.peaks[channel], eightBit);
        }
    }
    report.notes.push_back(peaks);
    report.notes.push_back(tally.fullScale == 0
                               ? std::string("no value at full scale")
                               : countOf(tally.fullScale, "value") + " at full scale (possible clipping)");
}

// Reads the body as the player does with the device's answers: a frame
// counts once all its values were read, and the first failed value ends the
// reading.
void checkBody(Check& check) {
    Report& report = check.report;
    // The header was read whole before the body, and the device took it.
    const StreamHeader& header = report.header;
    const std::int64_t frames = std::max<std::int32_t>(header.values[samplesField].value_or(0), 0);
    const std::int64_t channels = answerChannels(header.values[channelsField].value_or(1)).value_or(1);
    const bool eightBit = answerFormat(header.values[bitsField].value_or(AFMT_U8)) == AFMT_U8;
    SampleTally tally;
    tally.channels = channels;
    tally.peaks.assign(channels > channelsWithOwnPeak ? 1 : static_cast<std::size_t>(channels), 0);

    const std::int64_t values = frames * channels;  // below 2^62
    std::int64_t read = 0;
    for (std::int64_t channel = 0; read < values; ++read) {
        // Its line and column are only counted when they are needed.
        check.window.skipSpace();
        const std::uint64_t start = check.window.offset();
        std::int16_t value = 0;
        if (!readSample(check.input, value)) {
            const Place place{start, check.window.positionOf(start)};
            check.find(place, true,
                       "frame " + std::to_string((read / channels) + 1) + ", channel " +
                           std::to_string((read % channels) + 1) + ": " +
                           describeFailedNumber(check, place, check.window.offset(), "-32768..32767"));
            break;
        }
        addSample(check, tally, value, channel, eightBit, start);
        channel = channel + 1 == channels ? 0 : channel + 1;
    }
    describeTally(check, tally, eightBit);
    if (read < values) {
        report.player = {read / channels, brokenInputMessage, exitDone};
        return;
    }
    report.player = {frames, "", exitDone};
    const Place rest = check.placeNextToken();
    if (const std::string token = check.window.tokenAt(rest.offset, longestShown + 1); !token.empty()) {
        check.find(rest, false, "data after the last frame, starting " + quoteToken(token));
    }
}

// What goes wrong with a numeric header field, as the warning after
// "KEY VALUE: ", and what the player says then, where it stops; no text for
// a field that plays as it is. The device answers as the kernel's own does.
struct FieldFate {
    std::string warning;
    const char* refusal = nullptr;  // null where the player goes on
};

FieldFate judgeField(HeaderField field, std::int32_t value) {
    if (field == samplesField) {
        return {value > 0 ? "" : "nothing is played"};
    }
    if (field == bitsField) {
        const std::int32_t format = answerFormat(value);
        return !canWriteFormat(format) ? FieldFate{"the player writes only 8 or 16 bits", formatRefusedMessage}
               : format != value       ? FieldFate{"not a format: the device answers 8 bits"}
                                       : FieldFate{};
    }
    if (field == channelsField) {
        const std::optional<std::int32_t> channels = answerChannels(value);
        return !channels            ? FieldFate{"the device takes 1 to 128 channels", channelsRefusedMessage}
               : *channels != value ? FieldFate{"the device answers 1 channel"}
                                    : FieldFate{};
    }
    const std::int32_t rate = answerRate(value);
    return {rate == value
                ? ""
                : std::string(value > 0 ? "" : "not a rate: ") + "the device answers " + std::to_string(rate) + " Hz"};
}

// Reads the header as the player does, noting what will go wrong with it.
// Returns whether the player goes on to the body.
bool checkHeader(Check& check) {
    Report& report = check.report;
    Place keyAt[flagField + 1] = {};
    Place valueAt[flagField + 1] = {};
    report.header = readStreamHeader(check.input, [&](HeaderField field, bool isValue) {
        (isValue ? valueAt : keyAt)[field] = check.placeNextToken();
    });
    const StreamHeader& header = report.header;
    if (header.failedField && !header.failedOnValue) {
        const HeaderField field = *header.failedField;
        check.find(keyAt[field], true, describeKeyMismatch(header.wordForKey, headerKeys[field]));
        report.player = {0, describeMissingKey(headerKeys[field], field == flagField), exitPlayerRejected};
        return false;
    }
    if (header.failedField) {
        const HeaderField field = *header.failedField;
        check.find(valueAt[field], true,
                   std::string(headerKeys[field]) + " value: " +
                       describeFailedNumber(check, valueAt[field], check.window.offset(), "-2147483648..2147483647"));
        // The player blames the next key, which a failed stream cannot read.
        const auto next = static_cast<HeaderField>(field + 1);
        report.player = {0, describeMissingKey(headerKeys[next], next == flagField), exitPlayerRejected};
        return false;
    }
    if (const std::string flagWord = header.flagWord.value_or(""); readsAsNumber(flagWord)) {
        check.find(valueAt[flagField], false,
                   std::string(flagKey) + " value " + quoteToken(flagWord) +
                       " is a number: the flag word is probably missing, which shifts every frame by one value");
    }
    // Every field is warned of; the first the device refuses, or answers as
    // the player cannot write, stops the player.
    const char* refusal = nullptr;
    for (int index = samplesField; index < flagField; ++index) {
        const auto field = static_cast<HeaderField>(index);
        const std::int32_t value = header.values[field].value_or(0);
        const FieldFate fate = judgeField(field, value);
        if (!fate.warning.empty()) {
            check.find(valueAt[field], false,
                       std::string(headerKeys[field]) + " " + std::to_string(value) + ": " + fate.warning);
            refusal = refusal != nullptr ? refusal : fate.refusal;
        }
    }
    if (refusal != nullptr) {
        report.player = {0, refusal, exitPlayerRejected};
        return false;
    }
    return true;
}

void checkStream(Check& check) {
    if (checkHeader(check)) {
        checkBody(check);
    }
    std::stable_sort(
        check.report.findings.begin(), check.report.findings.end(),
        [](const Finding& first, const Finding& second) { return first.place.offset < second.place.offset; });
}

constexpr const char* usageLine = "usage: dspfeed-check [--json] [--] [STREAM.txt | -]\n";

int checkAndReport(const std::string& path, bool json) {
    // A report that cannot be written must not pass for a verdict.
    if (fcntl(1, F_GETFD) < 0) {
        return failWriting("dspfeed-check", "the report", std::strerror(errno));
    }
    struct stat status = {};
    const int descriptor = openInput(path, status);
    if (descriptor < 0) {
        return failReading("dspfeed-check", makeShowable(nameInput(path)), std::strerror(errno));
    }
    tellHowTerminalInputEnds("dspfeed-check", descriptor);
    Check check(descriptor);
    checkStream(check);
    if (check.window.error() != 0) {
        return failReading("dspfeed-check", makeShowable(nameInput(path)), std::strerror(check.window.error()));
    }
    const Report& report = check.report;
    const std::string name = path == "-" ? "<stdin>" : makeShowable(path);
    const std::string text = json ? formatJsonReport(report, name) : formatTextReport(report, name);
    if (!writeAll(1, text.data(), text.size())) {
        return failWriting("dspfeed-check", "the report", std::strerror(errno));
    }
    const bool clean = report.findings.empty() && report.player.message.empty();
    return clean ? exitDone : exitFindings;
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = 0; answerHelpOrVersion(argc, argv, usageLine,
                                            "Says where a text sample stream breaks, and what the player will do "
                                            "with it.",
                                            status)) {
        return status;
    }
    std::vector<Option> options = {Option("--json")};
    std::vector<std::string> names;
    if (const std::string problem = readArguments(argc, argv, options, names, 1); !problem.empty()) {
        return failUsage(usageLine, problem);
    }
    const std::string path = names.empty() ? "-" : names[0];
    return runGuarded("dspfeed-check", exitPlayerFailed, [&] { return checkAndReport(path, options[0].given); });
}
