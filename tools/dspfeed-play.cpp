// dspfeed-play: plays a text sample stream on the best sound path this machine has, and says which.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-play [--via oss|pulse|alsa|wav] [--] [STREAM.txt | -]
//
// In turn: a PulseAudio or PipeWire server that answers (the player through
// the sound bridge, a client of the server); a /dev/dsp that opens (the bare
// player); ALSA with a sound card (the bridge into aplay); and with no sound
// at all, a new WAV file named after the stream in the current directory.
#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "client_relay.h"
#include "command_line.h"
#include "install_paths.h"
#include "player_contract.h"
#include "player_launch.h"
#include "progress_line.h"
#include "server_sink.h"
#include "signals.h"
#include "sound_device.h"
#include "sound_levels.h"
#include "spawning.h"
#include "stream_header.h"
#include "tool_files.h"
#include "wav_format.h"
#include "wav_rendering.h"
#include "wording.h"

namespace {

constexpr const char* usageLine = "usage: dspfeed-play [--via oss|pulse|alsa|wav] [--] [STREAM.txt | -]\n";

// ALSA's client, asked for a latency that does not drop out.
struct Client {
    const char* program;
    std::vector<std::string> arguments;
    double bufferSeconds;  // what it holds before the sound is heard
};
const Client& aplay() {
    static const Client client = {"aplay", {"aplay", "-q", "--buffer-time=400000"}, 0.4};
    return client;
}

struct Stream {
    std::string name;   // as given
    std::string title;  // the file's name without its directory and ".txt", or "stdin"
    int input = 0;
};

// /dev/dsp opens and takes a common setting, 16-bit stereo at 44100 Hz,
// asked as the player asks; it is let go at once.
bool deviceOpens() {
    constexpr int commonRate = 44100;
    const int device = open("/dev/dsp", O_RDWR);
    if (device < 0) {
        return false;
    }
    int format = AFMT_S16_LE;
    int channels = 2;
    int rate = commonRate;
    const bool takes = ioctl(device, SNDCTL_DSP_SETFMT, &format) != -1 && canWriteFormat(format) &&
                       ioctl(device, SNDCTL_DSP_CHANNELS, &channels) != -1 && canWriteChannels(channels) &&
                       ioctl(device, SNDCTL_DSP_SPEED, &rate) != -1;
    close(device);
    return takes;
}

bool alsaHasCard() {
    std::ifstream cards("/proc/asound/cards");
    const std::string text((std::istreambuf_iterator<char>(cards)), std::istreambuf_iterator<char>());
    return isOnPath("aplay") && text.find_first_of("0123456789") != std::string::npos;
}

// The stream's length, read ahead from a regular file before any player
// reads it; a pipe cannot be read twice. Returns the seconds, or -1 when
// they cannot be told, and the line that tells them.
double lookAhead(const Stream& stream, std::string& told) {
    struct stat status = {};
    const off_t offset = lseek(stream.input, 0, SEEK_CUR);
    if (fstat(stream.input, &status) != 0 || !S_ISREG(status.st_mode) || offset < 0) {
        return -1;
    }
    std::ifstream file("/proc/self/fd/" + std::to_string(stream.input));
    file.seekg(offset);
    const StreamHeader header = readStreamHeader(file);
    const std::optional<std::int32_t>* values = header.values;
    if (std::any_of(values, values + numericKeyCount, [](const auto& value) { return !value; })) {
        return -1;
    }
    const std::int32_t frames = values[samplesField].value_or(0);
    const std::int32_t rate = values[rateField].value_or(0);
    if (frames < 0 || rate <= 0) {
        return -1;
    }
    const double seconds = static_cast<double>(frames) / rate;
    told = "dspfeed-play: " + stream.name + ": " + countOf(frames, "frame") + " of " +
           std::to_string(values[bitsField].value_or(0)) + "-bit, " +
           countOf(values[channelsField].value_or(0), "channel") + " at " + std::to_string(rate) + " Hz, " +
           formatTime(seconds) + "\n";
    return seconds;
}

// Says which path plays the stream, and on a terminal its length.
void announce(const Stream& stream, const char* through, const std::string& length) {
    std::fprintf(stderr, "dspfeed-play: playing %s through %s\n%s", stream.name.c_str(), through, length.c_str());
}

// The bridge's first line, read a byte at a time, so that the sound after it
// stays for the client.
bool readBridgeFormat(int sound, WavFormat& format) {
    std::string line;
    char character = 0;
    constexpr std::size_t longestLine = 80;
    while (line.size() < longestLine && read(sound, &character, 1) == 1 && character != '\n') {
        line += character;
    }
    return readFormatLine(line, format);
}

// Passes on what the client said on standard error, but for the ALSA
// library's own lines, which tell of its configuration files rather than of
// the trouble, unless they are all a failed client said. Only the end of a
// long account is kept.
void passOnClientErrors(int said, bool failed) {
    constexpr off_t kept = 1 << 16;
    const off_t length = lseek(said, 0, SEEK_END);
    std::string text(static_cast<std::size_t>(std::clamp<off_t>(length, 0, kept)), '\0');
    if (pread(said, text.data(), text.size(), length - static_cast<off_t>(text.size())) < 0) {
        return;
    }
    const std::string libraryMark = "ALSA lib ";
    std::string own;
    std::string library;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        (text.compare(start, libraryMark.size(), libraryMark) == 0 ? library : own) +=
            text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    std::fputs((own.empty() && failed ? library : own).c_str(), stderr);
}

// The status of a run through a client: the player's, unless it played and
// the client could not start (clientStatus -1, for startError) or failed.
// The player does not see a client that fails after the last frame went
// into the pipe, so the client's status counts as much as the player's.
int mergeClientStatus(const Client& client, int playerStatus, int clientStatus, int startError) {
    if (clientStatus == 0) {
        return playerStatus;
    }
    if (clientStatus < 0) {
        std::fprintf(stderr, "dspfeed-play: cannot start %s: %s\n", client.program, std::strerror(startError));
    } else {
        std::fprintf(stderr, "dspfeed-play: %s failed with status %d\n", client.program, clientStatus);
    }
    return playerStatus != 0 ? playerStatus : exitPlayerFailed;
}

// One run: the stream, the parts that play it, and what shows of it.
struct Run {
    Stream stream;
    ToolParts parts;
    Progress progress;
    std::string length;   // on a terminal, the line that tells the stream's length
    bool chosen = false;  // the path was named on the command line
};

// A way to play, as the automatic choice tries it and --via names it.
struct SoundPath {
    const char* name;     // as --via names it
    const char* through;  // as the announcement names it; a file is named as it is written
    // Whether the machine has it, asked before the player starts; null
    // where it always is.
    bool (*isHere)();
    // Plays the run, and returns its status.
    int (*play)(const SoundPath& path, Run& run);
};

int playThroughClient(const SoundPath& path, Run& run, const Client& client) {
    announce(run.stream, path.through, run.length);
    if (!isOnPath(client.program)) {
        std::fprintf(stderr, "dspfeed-play: %s is missing\n", client.program);
        return exitPlayerFailed;
    }
    int sound[2];
    if (pipe2(sound, O_CLOEXEC) != 0) {
        return exitPlayerFailed;
    }
    const pid_t player = startPlayer(run.parts, BridgeRequest{}, run.stream.input, sound[1]);
    close(sound[1]);
    // No line: the player failed, or had no frames, and no client is started.
    WavFormat format;
    if (player < 0 || !readBridgeFormat(sound[0], format)) {
        close(sound[0]);
        return player < 0 ? exitPlayerFailed : waitForProcess(player);
    }
    // On a terminal the sound goes through this tool, which meters it, into a
    // small pipe of its own; elsewhere the client reads the bridge's pipe.
    const bool metered = isatty(2) != 0;
    int relay[2] = {-1, -1};
    if (metered && pipe2(relay, O_CLOEXEC) == 0) {
        fcntl(relay[1], F_SETPIPE_SZ, 4096);
    }
    const int said = memfd_create("client-errors", MFD_CLOEXEC);
    const pid_t clientProcess = startProcess(client.arguments, {}, relay[0] >= 0 ? relay[0] : sound[0], -1, said);
    const int startError = errno;
    double handedOn = 0;
    if (relay[0] >= 0) {
        close(relay[0]);
        if (clientProcess > 0) {
            handedOn = meterInto(sound[0], relay[1], format, client.bufferSeconds, run.progress);
        }
        close(relay[1]);
    }
    close(sound[0]);
    const int playerStatus = waitForProcess(player);
    const int clientStatus = clientProcess > 0 ? waitForProcess(clientProcess) : -1;
    if (metered && clientProcess > 0) {
        endProgress(run.progress, handedOn, Levels{});
    }
    if (said >= 0) {
        passOnClientErrors(said, clientStatus != 0);
        close(said);
    }
    return mergeClientStatus(client, playerStatus, clientStatus, startError);
}

// What the bridge told of a stream on a server: the last of what was heard,
// and why the server failed, if it did.
struct ServerAccount {
    double heard = 0;
    Levels levels;
    bool shown = false;  // a progress line was shown
    std::string failure;
};

// Reads the bridge's lines until the player ends, showing what is heard.
ServerAccount followServerLines(int lines, Progress& progress) {
    ServerAccount account;
    std::FILE* said = fdopen(lines, "r");
    if (said == nullptr) {
        close(lines);
        return account;
    }
    char* text = nullptr;
    std::size_t room = 0;
    while (getline(&text, &room, said) > 0) {
        std::string line = text;
        line.pop_back();
        if (readHeardLine(line, account.heard, account.levels)) {
            showProgress(progress, account.heard, account.levels);
            account.shown = true;
        } else {
            (void)readFailedLine(line, account.failure);
        }
    }
    std::free(text);
    std::fclose(said);
    return account;
}

// The player plays on the server itself, through the bridge, which says on
// a pipe what has been heard (on a terminal) and why the server failed.
int playThroughServer(const SoundPath& path, Run& run) {
    int lines[2];
    if (pipe2(lines, O_CLOEXEC) != 0) {
        return exitPlayerFailed;
    }
    announce(run.stream, path.through, run.length);
    const BridgeRequest request = {
        .output = BridgeOutput::server, .streamName = run.stream.title, .metered = isatty(2) != 0};
    const pid_t player = startPlayer(run.parts, request, run.stream.input, lines[1]);
    close(lines[1]);
    if (player < 0) {
        close(lines[0]);
        return exitPlayerFailed;
    }
    const ServerAccount account = followServerLines(lines[0], run.progress);
    const int status = waitForProcess(player);
    if (account.shown) {
        endProgress(run.progress, account.heard, account.levels);
    }
    if (!account.failure.empty()) {
        std::fprintf(stderr, "dspfeed-play: the sound server failed: %s\n", account.failure.c_str());
        return status != 0 ? status : exitPlayerFailed;
    }
    return status;
}

int playOnDevice(const SoundPath& path, Run& run) {
    announce(run.stream, path.through, run.length);
    const pid_t player = startPlayer(run.parts, std::nullopt, run.stream.input);
    return player < 0 ? exitPlayerFailed : waitForProcess(player);
}

int playThroughAplay(const SoundPath& path, Run& run) {
    return playThroughClient(path, run, aplay());
}

int renderIntoNewFile(const SoundPath& /*path*/, Run& run) {
    const Stream& stream = run.stream;
    std::fprintf(stderr, "dspfeed-play: %srendering %s into a WAV file\n", run.chosen ? "" : "no sound here; ",
                 stream.name.c_str());
    OutputFile output;
    if (const std::string error = openNewOutput(stream.title, ".wav", output); !error.empty()) {
        return failWriting("dspfeed-play", output.name, error);
    }
    const int status = renderWav("dspfeed-play", run.parts, stream.input, output);
    if (status == 0) {
        std::fprintf(stderr, "dspfeed-play: wrote %s\n", output.name.c_str());
    }
    return status;
}

// In the order the automatic choice tries them; the first that is here
// plays, so that the player starts once.
const SoundPath soundPaths[] = {
    {"pulse", "the sound server", isServerAnswering, playThroughServer},
    {"oss", "/dev/dsp", deviceOpens, playOnDevice},
    {"alsa", "ALSA (aplay)", alsaHasCard, playThroughAplay},
    {"wav", nullptr, nullptr, renderIntoNewFile},
};

// Opens the stream named on the command line, or standard input for "-".
bool openStream(const char* name, Stream& stream) {
    stream.name = nameInput(name);
    stream.title = std::strcmp(name, "-") == 0 ? "stdin" : stream.name.substr(stream.name.rfind('/') + 1);
    if (stream.title.size() > 4 && stream.title.ends_with(".txt")) {
        stream.title.resize(stream.title.size() - 4);
    }
    struct stat status = {};
    stream.input = openInput(name, status);
    if (stream.input < 0) {
        failReading("dspfeed-play", stream.name, std::strerror(errno));
        return false;
    }
    return true;
}

int play(const std::string& via, const char* name) {
    Run run;
    if (!openStream(name, run.stream)) {
        return exitCannotRead;
    }
    if (!findToolParts("dspfeed-play", run.parts)) {
        return exitPlayerFailed;
    }
    stopOnSignals();
    tellHowTerminalInputEnds("dspfeed-play", run.stream.input);
    run.progress.total = isatty(2) != 0 ? lookAhead(run.stream, run.length) : -1;
    run.chosen = !via.empty();
    for (const SoundPath& path : soundPaths) {
        if (run.chosen ? via != path.name : path.isHere != nullptr && !path.isHere()) {
            continue;
        }
        return path.play(path, run);
    }
    return exitPlayerFailed;  // not reached: a WAV file is always there
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = 0; answerHelpOrVersion(argc, argv, usageLine,
                                            "Plays a text sample stream on a sound server, /dev/dsp or ALSA, or "
                                            "renders it into a new WAV file.",
                                            status)) {
        return status;
    }
    std::vector<Option> options = {Option("--via", true)};
    std::vector<std::string> names;
    const std::string& via = options[0].value;
    if (const std::string problem = readArguments(argc, argv, options, names, 1); !problem.empty()) {
        return failUsage(usageLine, problem);
    }
    if (options[0].given && std::none_of(std::begin(soundPaths), std::end(soundPaths),
                                         [&](const SoundPath& path) { return via == path.name; })) {
        return failUsage(usageLine, "--via takes oss, pulse, alsa or wav, not '" + via + "'");
    }
    const std::string name = names.empty() ? "-" : names[0];
    return runGuarded("dspfeed-play", exitPlayerFailed, [&] { return play(via, name.c_str()); });
}
