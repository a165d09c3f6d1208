// dspfeed-check: reads a text sample stream by the player's rules; tells where it breaks and what the player does.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-check [--json] [STREAM.txt | -]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "command_line.h"
#include "frame_streaming.h"
#include "player_contract.h"
#include "sound_device.h"
#include "sound_levels.h"
#include "text_input.h"
#include "tool_files.h"
#include "wording.h"

namespace {

constexpr int exitClean = 0;
constexpr int exitProblem = 1;
constexpr int exitUnreadable = 2;

// The player's exit statuses as the shell sees them.
constexpr int playerPlayed = shellStatusOf(exitPlayed);
constexpr int playerRejected = shellStatusOf(exitRejected);

// Channels past this many share one peak in the notes.
constexpr std::int64_t channelsWithOwnPeak = 64;

// The most of a token a message shows.
constexpr std::size_t longestShown = 24;

struct Position {
    std::uint64_t line;
    std::uint64_t column;
};

// The stream, read a block at a time behind a stream buffer, so that the
// reading rules apply unchanged and memory stays the same at any length. It
// keeps some of what was read, counts lines as text leaves it, and can look
// ahead, so that a finding's position and token can be told when it is made.
class StreamWindow : public std::streambuf {
public:
    explicit StreamWindow(int descriptor) : descriptor_(descriptor), buffer_(keptBytes + blockBytes) {
        setg(buffer_.data(), buffer_.data(), buffer_.data());
    }

    // How many characters have been handed out.
    std::uint64_t offset() const { return start_ + static_cast<std::uint64_t>(gptr() - eback()); }

    // Consumes whitespace as an extraction would before its token.
    void skipSpace() {
        while ((gptr() < egptr() || readMore()) && isSpace(*gptr())) {
            gbump(1);
        }
    }

    // Line and column of an offset read already.
    Position positionOf(std::uint64_t offset) const {
        Position position{lines_ + 1, offset - lineStart_ + 1};
        for (std::uint64_t scanned = start_; scanned < offset && scanned < start_ + size(); ++scanned) {
            if (buffer_[scanned - start_] == '\n') {
                ++position.line;
                position.column = offset - scanned;
            }
        }
        return position;
    }

    // The token at an offset read already: its first bytes, up to the next
    // whitespace, one more than a message shows. It may run on into what is
    // not read yet, which is read for it. (Of a number token longer than
    // what is kept, the bytes still kept are shown.)
    std::string tokenAt(std::uint64_t offset) {
        std::uint64_t from = std::max(offset, start_);
        while (from + longestShown + 1 > start_ + size() && readMore()) {
        }
        std::string token;
        for (; from < start_ + size() && token.size() <= longestShown; ++from) {
            const char character = buffer_[from - start_];
            if (isSpace(character)) {
                break;
            }
            token += character;
        }
        return token;
    }

    // The errno of a read that failed, or 0.
    int error() const { return error_; }

protected:
    int_type underflow() override {
        return gptr() < egptr() || readMore() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
    }

private:
    static constexpr std::size_t keptBytes = 1 << 16;
    static constexpr std::size_t blockBytes = 1 << 16;

    std::size_t size() const { return static_cast<std::size_t>(egptr() - eback()); }

    // Reads another block after what is there. What lies more than keptBytes
    // behind the reading position makes room first, its lines counted.
    bool readMore() {
        char* const base = buffer_.data();
        const std::size_t next = static_cast<std::size_t>(gptr() - base);
        std::size_t end = size();
        if (end + blockBytes > buffer_.size()) {
            const std::size_t dropped = next > keptBytes ? next - keptBytes : 0;
            for (std::size_t index = 0; index < dropped; ++index) {
                if (base[index] == '\n') {
                    ++lines_;
                    lineStart_ = start_ + index + 1;
                }
            }
            std::memmove(base, base + dropped, end - dropped);
            start_ += dropped;
            end -= dropped;
            setg(base, base + (next - dropped), base + end);
        }
        const std::size_t room = std::min(blockBytes, buffer_.size() - end);
        ssize_t got = 0;
        while ((got = read(descriptor_, base + end, room)) < 0 && errno == EINTR) {
        }
        if (got <= 0) {
            error_ = got < 0 ? errno : 0;
            return false;
        }
        setg(base, gptr(), base + end + static_cast<std::size_t>(got));
        return true;
    }

    int descriptor_;
    std::vector<char> buffer_;
    std::uint64_t start_ = 0;      // the offset of the buffer's first character
    std::uint64_t lines_ = 0;      // newlines before it
    std::uint64_t lineStart_ = 0;  // the offset after the last of them
    int error_ = 0;
};

// A place in the stream, told when it is read: later it may be gone.
struct Place {
    std::uint64_t offset;
    Position position;
};

struct Finding {
    Place place;
    bool isError;
    std::string text;
};

struct Prediction {
    std::int64_t framesPlayed = 0;
    std::string message;  // empty when the player says nothing
    int status = playerPlayed;
};

struct Report {
    std::optional<std::int32_t> values[4];  // the numeric header fields, in order, as far as they were read
    std::optional<std::string> flagWord;
    std::vector<Finding> findings;
    std::vector<std::string> notes;
    Prediction player;
};

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

// The bytes of a UTF-8 character that starts with `lead`; 0 for a byte that
// starts none (a continuation, the overlong 0xc0 and 0xc1, and past 0xf4).
std::size_t countCharacterBytes(unsigned lead) {
    // NOLINTBEGIN(readability-magic-numbers): the lead bytes' ranges
    return lead < 0x80                    ? 1
           : lead >= 0xc2 && lead <= 0xdf ? 2
           : lead >= 0xe0 && lead <= 0xef ? 3
           : lead >= 0xf0 && lead <= 0xf4 ? 4
                                          : 0;
    // NOLINTEND(readability-magic-numbers)
}

// How many bytes of valid UTF-8 make the character at `start`; 0 when they do
// not make one (overlong forms, surrogates and what lies past U+10FFFF included).
std::size_t measureCharacter(const std::string& bytes, std::size_t start) {
    const auto byte = [&bytes](std::size_t index) {
        return index < bytes.size() ? static_cast<unsigned char>(bytes[index]) : 0U;
    };
    const unsigned lead = byte(start);
    const std::size_t length = countCharacterBytes(lead);
    // Any continuation byte lies in lowest..highest; after some leads the
    // second lies in a narrower range, which rules out the forms above.
    constexpr unsigned lowest = 0x80;
    constexpr unsigned highest = 0xbf;
    const unsigned secondLowest = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : lowest;
    const unsigned secondHighest = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : highest;
    for (std::size_t index = 1; index < length; ++index) {
        const unsigned next = byte(start + index);
        const bool second = index == 1;
        if (next < (second ? secondLowest : lowest) || next > (second ? secondHighest : highest)) {
            return 0;
        }
    }
    return length;
}

// Bytes as a terminal or a JSON reader may be given them: valid UTF-8 passes,
// control characters and bytes that are not UTF-8 become \xNN escapes, and
// past `most` bytes the text is cut between two characters and "..." follows.
std::string makeShowable(const std::string& bytes, std::size_t most = std::string::npos) {
    std::string shown;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = measureCharacter(bytes, at);
        const std::size_t taken = std::max<std::size_t>(length, 1);
        if (at + taken > most) {
            return shown + "...";
        }
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const bool control =
            lead < 0x20 || lead == 0x7f || (lead == 0xc2 && static_cast<unsigned char>(bytes[at + 1]) < 0xa0);
        if (length == 0 || control) {
            for (std::size_t index = at; index < at + taken; ++index) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(bytes[index]));
                shown += escaped;
            }
        } else {
            shown.append(bytes, at, length);
        }
        at += taken;
    }
    return shown;
}

std::string quoteToken(const std::string& token) {
    return "'" + makeShowable(token, longestShown) + "'";
}

// Why a number whose token starts at `token` failed, the extraction having
// stopped at `stoppedAt`. The library takes the digits of a number too large
// for its type, and nothing of a token that is not a number, so what it took
// tells the two apart.
std::string describeFailedNumber(Check& check, const Place& token, std::uint64_t stoppedAt, const char* range) {
    const std::string text = check.window.tokenAt(token.offset);
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
struct Levels {
    std::vector<std::int32_t> peaks;
    std::int64_t fullScale = 0;
    std::int64_t outsideByte = 0;
    Place firstOutsideByte{};
    std::int16_t firstOutsideByteValue = 0;
};

void addSample(Check& check, Levels& levels, std::int16_t value, std::int64_t channel, bool eightBit,
               std::uint64_t start) {
    std::int32_t level = std::abs(std::int32_t{value});
    if (eightBit) {
        const int played = value & 0xff;  // the low byte, as the player writes it
        if (played != value && levels.outsideByte++ == 0) {
            levels.firstOutsideByte = {start, check.window.positionOf(start)};
            levels.firstOutsideByteValue = value;
        }
        level = std::abs(played - 128);
    }
    levels.fullScale += isFullScale(value, eightBit) ? 1 : 0;
    std::int32_t& peak = levels.peaks[levels.peaks.size() == 1 ? 0 : static_cast<std::size_t>(channel)];
    peak = std::max(peak, level);
}

// An 8-bit peak is its distance from 128.
std::string formatLevel(std::int32_t peak, bool eightBit) {
    if (peak == 0) {
        return "silent";
    }
    constexpr std::size_t room = 48;
    char text[room];
    (void)std::snprintf(text, sizeof text, "%d (%.1f dBFS)", peak, levelDecibels(eightBit ? peak * 256 : peak));
    return text;
}

void describeLevels(Check& check, const Levels& levels, bool eightBit) {
    Report& report = check.report;
    if (levels.outsideByte > 0) {
        const std::int16_t first = levels.firstOutsideByteValue;
        check.find(levels.firstOutsideByte, false,
                   countOf(levels.outsideByte, "8-bit value") + " outside 0..255, the first " + std::to_string(first) +
                       ", which plays as " + std::to_string(static_cast<std::uint8_t>(first)));
    }
    std::string peaks = "peak";
    if (levels.peaks.size() == 1) {
        peaks += (report.values[2] == 1 ? " " : " of all channels ") + formatLevel(levels.peaks[0], eightBit);
    } else {
        for (std::size_t channel = 0; channel < levels.peaks.size(); ++channel) {
            peaks += (channel == 0 ? " channel " : ", channel ") + std::to_string(channel + 1) + " " +
                     formatLevel(levels.peaks[channel], eightBit);
        }
    }
    report.notes.push_back(peaks);
    report.notes.push_back(levels.fullScale == 0
                               ? std::string("no value at full scale")
                               : countOf(levels.fullScale, "value") + " at full scale (possible clipping)");
}

// Reads the body as the player does with a device that granted the header's
// values: a frame counts once all its values were read, and the first failed
// value ends the reading.
void checkBody(Check& check) {
    Report& report = check.report;
    // The header was read whole before the body.
    const std::int64_t frames = std::max<std::int32_t>(report.values[0].value_or(0), 0);
    const std::int64_t channels = report.values[2].value_or(0);
    const bool eightBit = report.values[1] == 8;
    Levels levels;
    levels.peaks.assign(channels > channelsWithOwnPeak ? 1 : static_cast<std::size_t>(channels), 0);

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
        addSample(check, levels, value, channel, eightBit, start);
        channel = channel + 1 == channels ? 0 : channel + 1;
    }
    describeLevels(check, levels, eightBit);
    if (read < values) {
        report.player = {read / channels, brokenInputMessage, playerPlayed};
        return;
    }
    report.player = {frames, "", playerPlayed};
    const Place rest = check.placeNextToken();
    if (const std::string token = check.window.tokenAt(rest.offset); !token.empty()) {
        check.find(rest, false, "data after the last frame, starting " + quoteToken(token));
    }
}

// Reads the header as the player does, noting what will go wrong with it.
// Returns whether the player goes on to the body.
bool checkHeader(Check& check) {
    Report& report = check.report;
    Place valueAt[4] = {};
    for (std::size_t field = 0; field < numericKeyCount; ++field) {
        const std::string key = headerKeys[field];
        const Place keyAt = check.placeNextToken();
        if (const std::string word = readWord(check.input); !isKeyToken(word, key)) {
            check.find(keyAt, true, describeKeyMismatch(word, key));
            report.player = {0, describeMissingKey(key, false), playerRejected};
            return false;
        }
        valueAt[field] = check.placeNextToken();
        std::int32_t value = 0;
        if (!readHeaderNumber(check.input, value)) {
            check.find(
                valueAt[field], true,
                key + " value: " +
                    describeFailedNumber(check, valueAt[field], check.window.offset(), "-2147483648..2147483647"));
            // The player blames the next key, which a failed stream cannot read.
            report.player = {0, describeMissingKey(headerKeys[field + 1], headerKeys[field + 1] == flagKey),
                             playerRejected};
            return false;
        }
        report.values[field] = value;
    }
    const Place keyAt = check.placeNextToken();
    if (const std::string word = readWord(check.input); !isKeyToken(word, flagKey)) {
        check.find(keyAt, true, describeKeyMismatch(word, flagKey));
        report.player = {0, describeMissingKey(flagKey, true), playerRejected};
        return false;
    }
    const Place flagAt = check.placeNextToken();
    report.flagWord = readWord(check.input);
    if (readsAsNumber(*report.flagWord)) {
        check.find(flagAt, false,
                   "NORMALIZED value " + quoteToken(*report.flagWord) +
                       " is a number: the flag word is probably missing, which shifts every frame by one value");
    }

    const std::int32_t frames = report.values[0].value_or(0);
    const std::int32_t bits = report.values[1].value_or(0);
    const std::int32_t channels = report.values[2].value_or(0);
    const std::int32_t rate = report.values[3].value_or(0);
    if (frames <= 0) {
        check.find(valueAt[0], false, "SAMPLES " + std::to_string(frames) + ": nothing is played");
    }
    if (!canWriteFormat(bits)) {
        check.find(valueAt[1], false,
                   "BITSPERSAMPLE " + std::to_string(bits) + ": the player writes only 8 or 16 bits");
    }
    if (!canWriteChannels(channels)) {
        check.find(valueAt[2], false, "CHANNELS " + std::to_string(channels) + ": a frame needs at least one channel");
    }
    if (rate <= 0) {
        check.find(valueAt[3], false, "SAMPLERATE " + std::to_string(rate) + ": not a rate");
    }
    if (!canWriteFormat(bits)) {
        report.player = {0, formatRefusedMessage, playerRejected};
        return false;
    }
    if (!canWriteChannels(channels)) {
        report.player = {0, channelsRefusedMessage, playerRejected};
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

std::optional<double> lengthInSeconds(const Report& report, std::int64_t frames) {
    const std::int32_t rate = report.values[3].value_or(0);
    if (rate <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(frames) / rate;
}

// A header value, or what stands for one the stream lacks.
std::string formatValue(const std::optional<std::int32_t>& value, const char* missing) {
    return value ? std::to_string(*value) : missing;
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string describeHeader(const Report& report) {
    std::string text = "header:";
    for (std::size_t field = 0; field < numericKeyCount; ++field) {
        text += std::string(field == 0 ? " " : ", ") + headerKeys[field] + " " + formatValue(report.values[field], "?");
    }
    text += std::string(", ") + flagKey + " " +
            (!report.flagWord           ? "?"
             : report.flagWord->empty() ? "(none)"
                                        : makeShowable(*report.flagWord, longestShown));
    const std::optional<std::int32_t>& frames = report.values[0];
    if (const auto seconds = frames ? lengthInSeconds(report, std::max(*frames, 0)) : std::nullopt) {
        text += " (" + formatSeconds(*seconds) + ")";
    }
    return text;
}

std::string describePlayer(const Report& report) {
    const Prediction& player = report.player;
    const std::int64_t declared = std::max(report.values[0].value_or(0), 0);
    std::string text = "player: ";
    if (player.status == playerRejected) {
        text += "plays nothing";
    } else if (player.message.empty()) {
        text += declared == 1 ? std::string("plays its 1 frame") : "plays all " + std::to_string(declared) + " frames";
        if (const auto seconds = lengthInSeconds(report, declared)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    } else {
        text += "plays " + std::to_string(player.framesPlayed) + " of " + countOf(declared, "frame");
        if (const auto seconds = lengthInSeconds(report, player.framesPlayed)) {
            text += " (" + formatSeconds(*seconds) + ")";
        }
    }
    if (!player.message.empty()) {
        text += ", then says \"" + player.message + "\"";
    }
    return text + " and exits with status " + std::to_string(player.status);
}

std::string quoteJson(const std::string& text) {
    std::string quoted = "\"";
    for (const char character : text) {
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (static_cast<unsigned char>(character) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", character);
            quoted += escaped;
        } else {
            quoted += character;
        }
    }
    return quoted + "\"";
}

std::string formatReport(const Report& report, const std::string& name, bool json) {
    std::string text;
    if (json) {
        text += "{\"type\":\"header\"";
        for (std::size_t field = 0; field < numericKeyCount; ++field) {
            text += std::string(",\"") + headerKeys[field] + "\":" + formatValue(report.values[field], "null");
        }
        text +=
            ",\"NORMALIZED\":" + (report.flagWord ? quoteJson(makeShowable(*report.flagWord, longestShown)) : "null") +
            "}\n";
    } else {
        text += describeHeader(report) + '\n';
    }
    for (const Finding& finding : report.findings) {
        const std::string kind = finding.isError ? "error" : "warning";
        const std::string line = std::to_string(finding.place.position.line);
        const std::string column = std::to_string(finding.place.position.column);
        // Appended a field at a time, which makes no string in between.
        if (json) {
            text += "{\"type\":\"" + kind;
            text += "\",\"file\":" + quoteJson(name);
            text += ",\"line\":" + line;
            text += ",\"column\":" + column;
            text += ",\"message\":" + quoteJson(finding.text);
            text += "}\n";
        } else {
            text.append(name).append(":").append(line).append(":").append(column);
            text.append(": ").append(kind).append(": ").append(finding.text).append("\n");
        }
    }
    for (const std::string& note : report.notes) {
        text += (json ? "{\"type\":\"note\",\"message\":" + quoteJson(note) + "}" : "note: " + note) + '\n';
    }
    if (json) {
        text += "{\"type\":\"player\",\"framesPlayed\":" + std::to_string(report.player.framesPlayed) +
                ",\"message\":" + quoteJson(report.player.message) +
                ",\"status\":" + std::to_string(report.player.status) + "}\n";
    } else {
        text += describePlayer(report) + '\n';
    }
    return text;
}

constexpr const char* usageLine = "usage: dspfeed-check [--json] [--] [STREAM.txt | -]\n";

int usage() {
    std::fputs(usageLine, stderr);
    return exitUnreadable;
}

int checkAndReport(const std::string& path, bool json) {
    // A report that cannot be written must not pass for a verdict.
    if (fcntl(1, F_GETFD) < 0) {
        std::fprintf(stderr, "dspfeed-check: cannot write the report: %s\n", std::strerror(errno));
        return exitUnreadable;
    }
    struct stat status = {};
    const int descriptor = openInput(path, status);
    if (descriptor < 0) {
        std::fprintf(stderr, "dspfeed-check: cannot read %s: %s\n", makeShowable(path).c_str(), std::strerror(errno));
        return exitUnreadable;
    }
    Check check(descriptor);
    checkStream(check);
    if (check.window.error() != 0) {
        std::fprintf(stderr, "dspfeed-check: cannot read %s: %s\n", makeShowable(path).c_str(),
                     std::strerror(check.window.error()));
        return exitUnreadable;
    }
    const Report& report = check.report;
    const std::string text = formatReport(report, path == "-" ? "<stdin>" : makeShowable(path), json);
    if (!writeAll(1, text.data(), text.size())) {
        std::fprintf(stderr, "dspfeed-check: cannot write the report: %s\n", std::strerror(errno));
        return exitUnreadable;
    }
    const bool clean = report.findings.empty() && report.player.message.empty();
    return clean ? exitClean : exitProblem;
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
    if (!readArguments(argc, argv, options, names) || names.size() > 1) {
        return usage();
    }
    const std::string path = names.empty() ? "-" : names[0];
    return runGuarded("dspfeed-check", exitUnreadable, [&] { return checkAndReport(path, options[0].given); });
}
