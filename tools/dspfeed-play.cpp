// dspfeed-play: plays text sample streams on the best sound path this machine has, or the one named, and says which.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-play [-l] [--via oss|pulse|alsa|wav] [-d NAME] [--] [STREAM.txt | -]...
//
// In turn: a PulseAudio or PipeWire server that answers (the player through
// the sound bridge, a client of the server); a /dev/dsp that opens (the bare
// player); ALSA with a sound card (the bridge, a client of ALSA); and with
// no sound at all, a new WAV file named after the stream in the current
// directory. Several streams play one after another; on a server or ALSA,
// through one sink of the tool's own, so that streams of one format follow
// each other with no gap.
#include <fcntl.h>
#include <glob.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
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

#include "alsa_sink.h"
#include "bridge_protocol.h"
#include "command_line.h"
#include "install_paths.h"
#include "live_pacing.h"
#include "player_contract.h"
#include "player_launch.h"
#include "progress_line.h"
#include "server_sink.h"
#include "signals.h"
#include "sink_relay.h"
#include "sound_device.h"
#include "sound_levels.h"
#include "spawning.h"
#include "stream_header.h"
#include "tool_files.h"
#include "wav_format.h"
#include "wav_rendering.h"
#include "wording.h"

namespace {

constexpr const char* usageLine =
    "usage: dspfeed-play [-l] [--via oss|pulse|alsa|wav] [-d NAME] [--] [STREAM.txt | -]...\n";
constexpr const char* ossDevice = "/dev/dsp";

struct Stream {
    std::string name;   // as given
    std::string title;  // the file's name without its directory and ".txt", or "stdin"
    int input = 0;
};

// Why an OSS node does not open and take a common setting, 16-bit stereo at
// 44100 Hz, asked as the player asks; it is let go at once. Empty where it does.
std::string tryOssDevice(const std::string& path) {
    constexpr int commonRate = 44100;
    if (path.find('/') == std::string::npos) {
        return "an OSS device is named by its path";
    }
    const int device = open(path.c_str(), O_RDWR);
    if (device < 0) {
        return std::strerror(errno);
    }
    int format = AFMT_S16_LE;
    int channels = 2;
    int rate = commonRate;
    const bool takes = ioctl(device, SNDCTL_DSP_SETFMT, &format) != -1 && canWriteFormat(format) &&
                       ioctl(device, SNDCTL_DSP_CHANNELS, &channels) != -1 && canWriteChannels(channels) &&
                       ioctl(device, SNDCTL_DSP_SPEED, &rate) != -1;
    close(device);
    return takes ? "" : "it does not take 16-bit stereo";
}

bool deviceOpens() {
    return tryOssDevice(ossDevice).empty();
}

bool alsaHasCard() {
    std::ifstream cards("/proc/asound/cards");
    const std::string text((std::istreambuf_iterator<char>(cards)), std::istreambuf_iterator<char>());
    return text.find_first_of("0123456789") != std::string::npos;
}

std::string findServerSink(const std::string& name) {
    std::vector<SoundOutput> sinks;
    std::string defaultSink;
    if (std::string error = listServerSinks(sinks, defaultSink); !error.empty()) {
        return error;
    }
    return std::any_of(sinks.begin(), sinks.end(), [&name](const SoundOutput& sink) { return sink.name == name; })
               ? ""
               : "no such sink";
}

std::vector<SoundOutput> listServerOutputs(std::string& chosen) {
    std::vector<SoundOutput> sinks;
    (void)listServerSinks(sinks, chosen);
    return sinks;
}

std::vector<SoundOutput> listAlsaOutputs(std::string& chosen) {
    chosen = alsaDefaultDevice;
    return listAlsaDevices();
}

// The OSS nodes there are, whether or not they open.
std::vector<SoundOutput> listOssOutputs(std::string& chosen) {
    chosen = ossDevice;
    std::vector<SoundOutput> nodes;
    glob_t found{};
    if (glob("/dev/dsp*", 0, nullptr, &found) == 0) {
        for (std::size_t index = 0; index < found.gl_pathc; ++index) {
            struct stat status = {};
            if (stat(found.gl_pathv[index], &status) == 0 && S_ISCHR(status.st_mode)) {
                nodes.push_back({found.gl_pathv[index], ""});
            }
        }
    }
    globfree(&found);
    return nodes;
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

struct SoundPath;

// One run: the streams, the parts that play them, and what shows of the
// one now playing.
struct Run {
    std::vector<std::string> names;
    ToolParts parts;
    std::string device;   // as -d names it, or empty for the default
    bool chosen = false;  // the path was named on the command line
    SinkRelay relay;      // for several streams, the sink they share
    Stream stream;
    std::size_t place = 0;  // the stream's place in the run, from 0
    Progress progress;
    std::string length;  // on a terminal, the line that tells the stream's length
    double heard = 0;    // what was last shown heard of the stream, and its levels
    Levels levels;
};

// A way to play, as the automatic choice tries it and --via names it.
struct SoundPath {
    const char* name;     // as --via names it
    const char* through;  // as the announcement names it; a file is named as it is written
    const char* kind;     // as a message names what failed
    // Whether the machine has it, asked before the player starts; null
    // where it always is.
    bool (*isHere)();
    // Why a device named with -d cannot play, or nothing; the outputs
    // there are, and in `chosen` the one played on unless another is named.
    // Null for a file.
    std::string (*findDevice)(const std::string& name);
    std::vector<SoundOutput> (*listOutputs)(std::string& chosen);
    // Plays the stream, and returns its status.
    int (*play)(const SoundPath& path, Run& run);
    // Where the bridge sends the sound, and where several streams share a
    // sink, how it is made.
    BridgeOutput output;
    MakeSink makeSink;
};

// The stream's name, and of several, its place: "b.txt (2/3)".
std::string nameInPlace(const Run& run) {
    const std::size_t count = run.names.size();
    return run.stream.name +
           (count > 1 ? " (" + std::to_string(run.place + 1) + "/" + std::to_string(count) + ")" : "");
}

// Says which path plays the stream, and on a terminal its length.
void announce(const SoundPath& path, const Run& run) {
    const std::string through = run.device.empty() ? path.through : std::string(path.kind) + " on " + run.device;
    std::fprintf(stderr, "dspfeed-play: playing %s through %s\n%s", nameInPlace(run).c_str(), through.c_str(),
                 run.length.c_str());
}

// The status of a stream whose sound went to a sink that failed: the
// player's, or where it played to the end, the device's failure.
int sayFailure(const SoundPath& path, const std::string& failure, int status) {
    std::fprintf(stderr, "dspfeed-play: %s failed: %s\n", path.kind, failure.c_str());
    return status != 0 ? status : exitPlayerFailed;
}

// What the bridge told of a stream on a sink: the last of what was heard,
// and why the sink failed, if it did.
struct SinkAccount {
    double heard = 0;
    Levels levels;
    bool shown = false;  // a progress line was shown
    std::string failure;
};

// Reads the bridge's lines until the player ends, showing what is heard.
SinkAccount followSinkLines(int lines, Progress& progress) {
    SinkAccount account;
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

// The player plays on the sink itself, through the bridge, which says on a
// pipe what has been heard (on a terminal) and why the sink failed.
int playThroughBridge(const SoundPath& path, Run& run) {
    int lines[2];
    if (pipe2(lines, O_CLOEXEC) != 0) {
        return exitPlayerFailed;
    }
    announce(path, run);
    const BridgeRequest request = {
        .output = path.output, .streamName = run.stream.title, .device = run.device, .metered = isatty(2) != 0};
    const pid_t player = startPlayer(run.parts, request, run.stream.input, lines[1]);
    close(lines[1]);
    if (player < 0) {
        close(lines[0]);
        return exitPlayerFailed;
    }
    const SinkAccount account = followSinkLines(lines[0], run.progress);
    const int status = waitForProcess(player);
    if (account.shown) {
        endProgress(run.progress, account.heard, account.levels);
    }
    return account.failure.empty() ? status : sayFailure(path, account.failure, status);
}

// One of several streams: the player's sound comes back through a small
// pipe, for the run's own sink.
int playIntoRelay(const SoundPath& path, Run& run) {
    int sound[2];
    if (pipe2(sound, O_CLOEXEC) != 0) {
        return exitPlayerFailed;
    }
    // What waits in the pipe is as little as it can be, for live input: a
    // page, until the relay knows the format and sizes it for the sink.
    fcntl(sound[1], F_SETPIPE_SZ, gatherLimit);
    announce(path, run);
    const pid_t player = startPlayer(run.parts, BridgeRequest{}, run.stream.input, sound[1]);
    close(sound[1]);
    const bool played = player >= 0 && relaySound(sound[0], run.stream.title, run.relay);
    close(sound[0]);
    const int status = player < 0 ? exitPlayerFailed : waitForProcess(player);
    return played ? status : sayFailure(path, run.relay.failure, status);
}

int playStream(const SoundPath& path, Run& run) {
    return run.relay.makeSink != nullptr ? playIntoRelay(path, run) : playThroughBridge(path, run);
}

// The bare player, or with a node named, the bridge opens it in its place.
int playOnDevice(const SoundPath& path, Run& run) {
    announce(path, run);
    const std::optional<BridgeRequest> request =
        run.device.empty() ? std::nullopt : std::optional(BridgeRequest{.output = path.output, .device = run.device});
    const pid_t player = startPlayer(run.parts, request, run.stream.input);
    return player < 0 ? exitPlayerFailed : waitForProcess(player);
}

int renderIntoNewFile(const SoundPath& /*path*/, Run& run) {
    const Stream& stream = run.stream;
    std::fprintf(stderr, "dspfeed-play: %srendering %s into a WAV file\n", run.chosen ? "" : "no sound here; ",
                 nameInPlace(run).c_str());
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
    {"pulse", "the sound server", "the sound server", isServerAnswering, findServerSink, listServerOutputs, playStream,
     BridgeOutput::server, makeServerSink},
    {"oss", ossDevice, "OSS", deviceOpens, tryOssDevice, listOssOutputs, playOnDevice, BridgeOutput::oss, nullptr},
    {"alsa", "ALSA", "ALSA", alsaHasCard, tryAlsaDevice, listAlsaOutputs, playStream, BridgeOutput::alsa, makeAlsaSink},
    {"wav", nullptr, "a WAV file", nullptr, nullptr, nullptr, renderIntoNewFile, BridgeOutput::wav, nullptr},
};

// The path --via names, or the first that is here; with a device named and
// no path, the first that has that device. Null, said, where the device is
// not there.
const SoundPath* choosePath(const std::string& via, const std::string& device) {
    const auto fits = [&via, &device](const SoundPath& path) {
        if (!via.empty()) {
            return via == path.name;
        }
        if (!device.empty()) {
            return path.findDevice != nullptr && path.findDevice(device).empty();
        }
        return path.isHere == nullptr || path.isHere();
    };
    const SoundPath* path = std::find_if(std::begin(soundPaths), std::end(soundPaths), fits);
    if (path == std::end(soundPaths)) {
        std::fprintf(stderr, "dspfeed-play: no output named %s here (dspfeed-play -l lists them)\n", device.c_str());
        return nullptr;
    }
    if (!via.empty() && !device.empty()) {
        const std::string problem = path->findDevice != nullptr ? path->findDevice(device) : "a WAV file is no device";
        if (!problem.empty()) {
            std::fprintf(stderr, "dspfeed-play: cannot play through %s on %s: %s\n", path->kind, device.c_str(),
                         problem.c_str());
            return nullptr;
        }
    }
    return path;
}

// The outputs of each path that is here, one a line: the path, the name
// -d takes, and what the system calls it; last, the automatic choice.
int listOutputs() {
    std::string automatic;
    for (const SoundPath& path : soundPaths) {
        if (path.listOutputs == nullptr) {
            continue;
        }
        std::string chosen;
        for (const SoundOutput& output : path.listOutputs(chosen)) {
            constexpr std::size_t nameColumn = 7;
            constexpr std::size_t descriptionColumn = 32;
            std::string line = path.name;
            line.resize(nameColumn, ' ');
            line += output.name;
            std::string description = output.description;
            if (output.name == chosen) {
                description += description.empty() ? "(default)" : " (default)";
            }
            if (!description.empty()) {
                line.resize(std::max(line.size() + 1, descriptionColumn), ' ');
                line += description;
            }
            std::puts(line.c_str());
        }
        if (automatic.empty() && path.isHere()) {
            automatic = std::string(path.name) + " " + chosen;
        }
    }
    std::printf("automatic choice: %s\n", automatic.empty() ? "wav, a new WAV file" : automatic.c_str());
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? exitDone : exitCannotWrite;
}

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

// A stream of several, as the progress line names it.
struct Placed {
    std::string title;
    double total = -1;  // its length in seconds, below 0 where it is not known
};

// On a terminal, what is heard of several streams on one sink, each by its
// name and place, from where it began.
void showRelayed(Run& run, double heard, const Levels& levels, const std::vector<Placed>& placed) {
    const auto& starts = run.relay.starts;
    const auto heardOne =
        std::find_if(starts.rbegin(), starts.rend(), [heard](const auto& start) { return start.first <= heard; });
    if (heardOne == starts.rend()) {
        return;
    }
    const std::size_t place = heardOne->second;
    run.progress.total = placed[place].total;
    run.progress.label = placed[place].title + " " + std::to_string(place + 1) + "/" + std::to_string(run.names.size());
    run.heard = heard - heardOne->first;
    run.levels = levels;
    showProgress(run.progress, run.heard, levels);
}

// Plays each stream in turn; a stream that fails is told and the rest still
// play, but a sink that failed ends the run. Returns the first failure's
// status.
int playAll(const SoundPath& path, Run& run) {
    const bool terminal = isatty(2) != 0;
    std::vector<Placed> placed(run.names.size());
    // Several streams on a sink play as one where they can.
    run.relay.makeSink = run.names.size() > 1 ? path.makeSink : nullptr;
    run.relay.request = {.output = path.output, .device = run.device, .metered = terminal};
    if (terminal) {
        run.relay.showHeard = [&run, &placed](double heard, const Levels& levels) {
            showRelayed(run, heard, levels, placed);
        };
    }
    int firstFailure = 0;
    for (run.place = 0; run.place < run.names.size() && run.relay.failure.empty(); ++run.place) {
        // What is still heard of the last stream shows again below what is
        // said of this one.
        breakProgress(run.progress);
        int status = exitCannotRead;
        if (openStream(run.names[run.place].c_str(), run.stream)) {
            tellHowTerminalInputEnds("dspfeed-play", run.stream.input);
            run.length.clear();
            run.progress.total = terminal ? lookAhead(run.stream, run.length) : -1;
            placed[run.place] = {run.stream.name.substr(run.stream.name.rfind('/') + 1), run.progress.total};
            run.relay.place = run.place;
            status = path.play(path, run);
            if (run.stream.input != 0) {
                close(run.stream.input);
            }
        }
        firstFailure = firstFailure != 0 ? firstFailure : status;
    }
    if (run.relay.makeSink != nullptr && !finishRelay(run.relay)) {
        firstFailure = firstFailure != 0 ? firstFailure : sayFailure(path, run.relay.failure, 0);
    }
    if (run.relay.makeSink != nullptr && run.progress.shown > 0) {
        endProgress(run.progress, run.heard, run.levels);
    }
    return firstFailure;
}

int play(const std::string& via, Run& run) {
    if (!findToolParts("dspfeed-play", run.parts)) {
        return exitPlayerFailed;
    }
    const SoundPath* path = choosePath(via, run.device);
    if (path == nullptr) {
        return exitPlayerFailed;
    }
    stopOnSignals();
    return playAll(*path, run);
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = 0; answerHelpOrVersion(argc, argv, usageLine,
                                            "Plays text sample streams, one after another, on a sound server, an OSS "
                                            "device or ALSA, or renders each into a new WAV file.",
                                            status)) {
        return status;
    }
    std::vector<Option> options = {Option("--via", true), Option("--device", true, "-d"),
                                   Option("--list", false, "-l")};
    Run run;
    const std::string& via = options[0].value;
    if (const std::string problem = readArguments(argc, argv, options, run.names, SIZE_MAX); !problem.empty()) {
        return failUsage(usageLine, problem);
    }
    if (options[0].given && std::none_of(std::begin(soundPaths), std::end(soundPaths),
                                         [&](const SoundPath& path) { return via == path.name; })) {
        return failUsage(usageLine, "--via takes oss, pulse, alsa or wav, not '" + via + "'");
    }
    if (options[1].given && options[1].value.empty()) {
        return failUsage(usageLine, "--device needs a name");
    }
    if (options[2].given) {
        return run.names.empty() && !options[0].given && !options[1].given
                   ? runGuarded("dspfeed-play", exitPlayerFailed, listOutputs)
                   : failUsage(usageLine, "--list takes nothing else");
    }
    if (std::count(run.names.begin(), run.names.end(), "-") > 1) {
        return failUsage(usageLine, "standard input, '-', can be read once");
    }
    if (run.names.empty()) {
        run.names.emplace_back("-");
    }
    run.device = options[1].value;
    run.chosen = options[0].given;
    return runGuarded("dspfeed-play", exitPlayerFailed, [&] { return play(via, run); });
}
