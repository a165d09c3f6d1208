// dspfeed-play: plays a text sample stream on the best sound path this machine has, and says which.
// SPDX-License-Identifier: MIT
// Usage: dspfeed-play [--via oss|pulse|alsa|wav] [--] [STREAM.txt | -]
//
// In turn: a PulseAudio or PipeWire server that answers (the player through
// the sound bridge into paplay); a /dev/dsp that opens (the bare player); ALSA
// with a sound card (the bridge into aplay); and with no sound at all, a new
// WAV file named after the stream in the current directory.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "command_line.h"
#include "text_input.h"
#include "tool_files.h"
#include "wav_format.h"
#include "wav_rendering.h"

namespace {

// The sound clients, each with the latency it is asked for: low enough that
// live input plays at once, high enough not to drop out (40 ms did, on
// PipeWire). Each halving costs: at 100 ms the player, paplay and the server
// used three times the CPU they use at 200 ms, nearly all of it wakeups.
struct Client {
    const char* program;
    const char* path;  // what the announcement calls it
    std::vector<std::string> arguments;
    double bufferSeconds;  // what it holds before the sound is heard
};

Client paplay(const std::string& title) {
    return {"paplay",
            "the sound server (paplay)",
            {"paplay", "--latency-msec=200", "--client-name=dspfeed-play", "--stream-name=" + title},
            0.2};
}

const Client aplay = {"aplay", "ALSA (aplay)", {"aplay", "-q", "--buffer-time=400000"}, 0.4};

struct Stream {
    std::string name;   // as given
    std::string title;  // the file's name without its directory and ".txt", or "stdin"
    int input = 0;
};

int usage() {
    std::fputs("usage: dspfeed-play [--via oss|pulse|alsa|wav] [STREAM.txt | -]\n", stderr);
    return exitUsage;
}

int openQuiet() {
    return open("/dev/null", O_RDWR | O_CLOEXEC);
}

bool serverAnswers() {
    if (!isOnPath("paplay") || !isOnPath("pactl")) {
        return false;
    }
    const int quiet = openQuiet();
    const pid_t probe = startProcess({"timeout", "5", "pactl", "info"}, {}, quiet, quiet, quiet);
    close(quiet);
    return probe > 0 && waitForProcess(probe) == 0;
}

// A stream of no frames opens, configures and closes the device, playing nothing.
bool deviceOpens(const ToolParts& parts) {
    static const char probe[] = "SAMPLES: 0 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 44100 NORMALIZED: FALSE\n";
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) {
        return false;
    }
    const bool written = writeAll(pipe[1], probe, sizeof probe - 1);
    close(pipe[1]);
    const int quiet = openQuiet();
    const pid_t player = written ? startProcess({parts.player}, {}, pipe[0], quiet, quiet) : -1;
    close(pipe[0]);
    close(quiet);
    return player > 0 && waitForProcess(player) == 0;
}

bool alsaHasCard() {
    std::ifstream cards("/proc/asound/cards");
    const std::string text((std::istreambuf_iterator<char>(cards)), std::istreambuf_iterator<char>());
    return isOnPath("aplay") && text.find_first_of("0123456789") != std::string::npos;
}

std::string formatTime(double seconds) {
    const auto whole = static_cast<long long>(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string count(long long number, const char* thing) {
    return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}

// The stream's length, read ahead from a regular file; a pipe cannot be read
// twice. Returns the seconds, or -1 when they cannot be told.
double lookAhead(const Stream& stream) {
    struct stat status = {};
    const off_t offset = lseek(stream.input, 0, SEEK_CUR);
    if (fstat(stream.input, &status) != 0 || !S_ISREG(status.st_mode) || offset < 0) {
        return -1;
    }
    std::ifstream file("/proc/self/fd/" + std::to_string(stream.input));
    file.seekg(offset);
    static const char* const keys[] = {"SAMPLES", "BITSPERSAMPLE", "CHANNELS", "SAMPLERATE"};
    std::int32_t values[4] = {};
    for (int field = 0; field < 4; ++field) {
        if (!isKeyToken(readWord(file), keys[field]) || !readHeaderNumber(file, values[field])) {
            return -1;
        }
    }
    if (values[0] < 0 || values[3] <= 0) {
        return -1;
    }
    const double seconds = static_cast<double>(values[0]) / values[3];
    std::fprintf(stderr, "dspfeed-play: %s: %s of %d-bit, %s at %d Hz, %s\n", stream.name.c_str(),
                 count(values[0], "frame").c_str(), values[1], count(values[2], "channel").c_str(), values[3],
                 formatTime(seconds).c_str());
    return seconds;
}

void showProgress(double played, double total) {
    if (total >= 0) {
        const int percent = total > 0 ? static_cast<int>(std::min(played / total, 1.0) * 100) : 100;
        std::fprintf(stderr, "\rdspfeed-play: %s of %s (%d%%) ", formatTime(played).c_str(), formatTime(total).c_str(),
                     percent);
    } else {
        std::fprintf(stderr, "\rdspfeed-play: %s ", formatTime(played).c_str());
    }
}

// Hands the bridge's sound on to the client through a small pipe, showing
// four times a second how much has been played: what went into the client,
// less what waits in the pipe and what the client holds before it is heard.
// Returns the seconds of sound handed on.
double meterInto(int sound, int client, double bytesPerSecond, double bufferSeconds, double total) {
    const std::size_t chunk = std::clamp<std::size_t>(static_cast<std::size_t>(bytesPerSecond / 8), 64, 4096);
    std::vector<char> bytes(chunk);
    std::uint64_t handedOver = 0;
    auto shown = std::chrono::steady_clock::now();
    const auto played = [&] {
        int waiting = 0;
        ioctl(client, FIONREAD, &waiting);
        const double sent = static_cast<double>(handedOver) - wavStreamHeaderBytes - waiting;
        return std::max(sent / bytesPerSecond - bufferSeconds, 0.0);
    };
    for (;;) {
        pollfd ready{sound, POLLIN, 0};
        if (poll(&ready, 1, 250) > 0) {
            const ssize_t got = read(sound, bytes.data(), bytes.size());
            if (got <= 0 || !writeAll(client, bytes.data(), static_cast<std::size_t>(got))) {
                return (static_cast<double>(handedOver) - wavStreamHeaderBytes) / bytesPerSecond;
            }
            handedOver += static_cast<std::uint64_t>(got);
        }
        if (std::chrono::steady_clock::now() - shown >= std::chrono::milliseconds(250)) {
            shown = std::chrono::steady_clock::now();
            showProgress(played(), total);
        }
    }
}

// The bridge's first line: "dspfeed-pcm FORMAT RATE CHANNELS". Read a byte at
// a time, so that the sound after it stays for the client.
bool readFormatLine(int sound, WavFormat& format) {
    std::string line;
    char character = 0;
    while (line.size() < 80 && read(sound, &character, 1) == 1 && character != '\n') {
        line += character;
    }
    char sampleFormat[8] = {};
    if (std::sscanf(line.c_str(), "dspfeed-pcm %7s %d %d", sampleFormat, &format.rate, &format.channels) != 3) {
        return false;
    }
    format.sampleBytes = std::strcmp(sampleFormat, "u8") == 0 ? 1 : 2;
    return true;
}

int playThroughClient(const ToolParts& parts, const Stream& stream, const Client& client, double total) {
    if (!isOnPath(client.program)) {
        std::fprintf(stderr, "dspfeed-play: %s is missing\n", client.program);
        return exitPlayerFailed;
    }
    int sound[2];
    if (pipe2(sound, O_CLOEXEC) != 0) {
        return exitPlayerFailed;
    }
    const pid_t player = startProcess({parts.player}, {"LD_PRELOAD=" + parts.bridge}, stream.input, sound[1]);
    close(sound[1]);
    // No line: the player failed, or had no frames, and no client is started.
    WavFormat format;
    if (player < 0 || !readFormatLine(sound[0], format)) {
        close(sound[0]);
        return player < 0 ? exitPlayerFailed : waitForProcess(player);
    }
    const bool metered = isatty(2) != 0;
    int toClient[2] = {sound[0], -1};
    if (metered && pipe2(toClient, O_CLOEXEC) == 0) {
        fcntl(toClient[1], F_SETPIPE_SZ, 4096);
    } else {
        toClient[0] = sound[0];
    }
    const pid_t clientProcess = startProcess(client.arguments, {}, toClient[0]);
    const int startError = errno;
    double handedOn = 0;
    if (toClient[0] != sound[0]) {
        close(toClient[0]);
        if (clientProcess > 0) {
            const double bytesPerSecond = 1.0 * format.rate * format.channels * format.sampleBytes;
            handedOn = meterInto(sound[0], toClient[1], bytesPerSecond, client.bufferSeconds, total);
        }
        close(toClient[1]);
    }
    close(sound[0]);
    const int playerStatus = waitForProcess(player);
    if (clientProcess < 0) {
        std::fprintf(stderr, "dspfeed-play: cannot start %s: %s\n", client.program, std::strerror(startError));
        return playerStatus != 0 ? playerStatus : exitPlayerFailed;
    }
    const int clientStatus = waitForProcess(clientProcess);
    if (metered) {
        // The client has played what it had: all that went in.
        showProgress(total >= 0 ? total : handedOn, total);
        std::fputs("\n", stderr);
    }
    // The player does not see a client that fails after the last frame went
    // into the pipe, so the client's status counts as much as the player's.
    if (clientStatus != 0) {
        std::fprintf(stderr, "dspfeed-play: %s failed with status %d\n", client.program, clientStatus);
        return playerStatus != 0 ? playerStatus : exitPlayerFailed;
    }
    return playerStatus;
}

int renderIntoNewFile(const ToolParts& parts, const Stream& stream, bool chosen) {
    std::fprintf(stderr, "dspfeed-play: %srendering %s into a WAV file\n", chosen ? "" : "no sound here; ",
                 stream.name.c_str());
    OutputFile output;
    if (const std::string error = openNewOutput(stream.title, ".wav", output); !error.empty()) {
        std::fprintf(stderr, "dspfeed-play: cannot write %s: %s\n", output.name.c_str(), error.c_str());
        return exitPlayerFailed;
    }
    const int status = renderWav("dspfeed-play", parts, stream.input, output);
    if (status == 0) {
        std::fprintf(stderr, "dspfeed-play: wrote %s\n", output.name.c_str());
    }
    return status;
}

int play(std::string via, const char* name) {
    Stream stream;
    stream.name = name;
    if (stream.name == "-") {
        stream.name = "standard input";
        stream.title = "stdin";
    } else {
        stream.title = stream.name.substr(stream.name.rfind('/') + 1);
        if (stream.title.size() > 4 && stream.title.ends_with(".txt")) {
            stream.title.resize(stream.title.size() - 4);
        }
        struct stat status = {};
        stream.input = openInput(stream.name, status);
        if (stream.input < 0) {
            std::fprintf(stderr, "dspfeed-play: cannot read %s: %s\n", stream.name.c_str(), std::strerror(errno));
            return exitUsage;
        }
    }
    ToolParts parts;
    if (!findToolParts("dspfeed-play", parts)) {
        return exitPlayerFailed;
    }
    stopOnSignals();
    const bool chosen = !via.empty();
    if (!chosen) {
        via = serverAnswers() ? "pulse" : deviceOpens(parts) ? "oss" : alsaHasCard() ? "alsa" : "wav";
    }
    if (via == "wav") {
        return renderIntoNewFile(parts, stream, chosen);
    }
    const Client client = via == "pulse" ? paplay(stream.title) : aplay;
    std::fprintf(stderr, "dspfeed-play: playing %s through %s\n", stream.name.c_str(),
                 via == "oss" ? "/dev/dsp" : client.path);
    const double total = isatty(2) != 0 ? lookAhead(stream) : -1;
    if (via == "oss") {
        const pid_t player = startProcess({parts.player}, {}, stream.input);
        return player < 0 ? exitPlayerFailed : waitForProcess(player);
    }
    return playThroughClient(parts, stream, client, total);
}

}  // namespace

int main(int argc, char** argv) {
    std::string via;
    int next = 1;
    for (; next < argc && argv[next][0] == '-' && argv[next][1] != '\0'; ++next) {
        const std::string option = argv[next];
        if (option == "--") {
            ++next;
            break;
        }
        if (option == "--via" && next + 1 < argc) {
            via = argv[++next];
        } else if (option.rfind("--via=", 0) == 0) {
            via = option.substr(6);
        } else {
            return usage();
        }
    }
    if (argc - next > 1 || (via != "" && via != "oss" && via != "pulse" && via != "alsa" && via != "wav")) {
        return usage();
    }
    const char* name = next < argc ? argv[next] : "-";
    return runGuarded("dspfeed-play", exitPlayerFailed, [&] { return play(via, name); });
}
