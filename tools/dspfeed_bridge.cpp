// The sound bridge: preloaded into dspfeed by the tools, it stands in for "/dev/dsp" and hands the frames on.
// SPDX-License-Identifier: MIT
//
// It answers the player's requests as a driver would: unsigned 8-bit and
// signed 16-bit little-endian samples (any other format is answered with 16
// bits); for a sound server's client 1 to 32 channels and rates of 1 to
// 384000 Hz, and for a WAV file whatever one can hold (anything else is
// refused). It opens no capture side.
//
// The frames go out as a WAV stream of unknown length, and the negotiated
// format ahead of it, as DSPFEED_BRIDGE_FORMAT says:
//   unset or "line"  first one text line, "dspfeed-pcm FORMAT RATE CHANNELS",
//                    FORMAT being u8 or s16le, then the WAV stream; nothing
//                    at all when no frame comes, so that a tool starts no
//                    client for a player that failed
//   "wav"            the WAV stream alone, written at the latest on close,
//                    for a tool that writes it into a file
// Frames are gathered into writes of at most 4 KiB or 20 ms of sound, and
// what is gathered goes out whenever the player is about to wait for input,
// so that live input stays live. A client whose pipe already holds a second
// of sound loses nothing when frames wait longer: the bridge then gathers up
// to 64 KiB (at most a quarter of a pipe that holds two seconds or more),
// and sleeps until the pipe has room for them, so that the player wakes a
// few times a second instead of at every read the client makes.
// A downstream that fails reaches the player as a failed write, never as
// SIGPIPE.
#include <linux/soundcard.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device_interposition.h"
#include "wav_format.h"

namespace {

constexpr std::size_t gatherLimit = 4096;
constexpr int gathersPerSecond = 50;  // 20 ms
constexpr std::size_t suppliedGatherLimit = 1 << 16;
constexpr int clientPipeBytes = 1 << 20;  // asked for: 5.5 s at 48 kHz 16-bit stereo
// What a sound server's clients take.
constexpr int mostChannels = 32;
constexpr int highestRate = 384000;

int output = -1;  // the device's descriptor: a duplicate of standard output
bool wav = false;
int format = AFMT_U8;  // OSS's defaults until asked
int channels = 1;
int rate = 8000;
bool headerSent = false;
int failure = 0;                      // the errno of a failed hand-over, which every later write reports
std::vector<unsigned char> gathered;  // its first gatheredBytes are waiting to go out
std::size_t gatheredBytes = 0;
std::size_t gatherBytes = gatherLimit;  // what is gathered before it goes out
std::size_t liveGatherBytes = gatherLimit;
std::size_t suppliedGatherBytes = 0;  // 0: the client's pipe is never paced
int clientPipeCapacity = 0;

int sampleBytes() {
    return format == AFMT_U8 ? 1 : 2;
}

void gather(const void* bytes, std::size_t count) {
    if (gatheredBytes + count > gathered.size()) {
        gathered.resize(gatheredBytes + count);
    }
    std::memcpy(gathered.data() + gatheredBytes, bytes, count);
    gatheredBytes += count;
}

void gatherHeader() {
    if (!wav) {
        const std::string line = std::string("dspfeed-pcm ") + (format == AFMT_U8 ? "u8 " : "s16le ") +
                                 std::to_string(rate) + " " + std::to_string(channels) + "\n";
        gather(line.data(), line.size());
    }
    const std::vector<unsigned char> header = makeWavStreamHeader({sampleBytes(), channels, rate});
    gather(header.data(), header.size());
    headerSent = true;
}

bool writeAll(const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = realWrite(output, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            failure = written < 0 ? errno : EIO;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// In size_t: a WAV file may hold more than an int's worth of bytes a second.
std::size_t countFrameBytes() {
    return static_cast<std::size_t>(channels) * static_cast<std::size_t>(sampleBytes());
}

std::size_t countBytesPerSecond() {
    return countFrameBytes() * static_cast<std::size_t>(rate);
}

// Waits until the client's pipe has room for what is gathered, as the client
// plays what it holds, and settles how much to gather next.
void paceClient() {
    static auto* realIoctl = findReal<int(int, unsigned long, ...)>("ioctl");
    int waiting = 0;
    if (suppliedGatherBytes == 0 || realIoctl(output, FIONREAD, &waiting) != 0) {
        return;
    }
    const auto overflow = static_cast<double>(waiting) + static_cast<double>(gatheredBytes) - clientPipeCapacity;
    if (overflow > 0) {
        std::this_thread::sleep_for(
            std::chrono::duration<double>(overflow / static_cast<double>(countBytesPerSecond())));
    }
    const bool wellSupplied = static_cast<std::size_t>(waiting) + gatheredBytes >= countBytesPerSecond();
    gatherBytes = wellSupplied ? suppliedGatherBytes : liveGatherBytes;
}

bool handOver() {
    if (failure == 0 && gatheredBytes > 0) {
        paceClient();
        writeAll(gathered.data(), gatheredBytes);
    }
    gatheredBytes = 0;
    return failure == 0;
}

}  // namespace

int device::open(const char* /*function*/, int /*flags*/) {
    // Raw sound on a terminal helps nobody.
    if (isatty(1) != 0) {
        errno = ENOTTY;
        return -1;
    }
    output = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (output < 0) {
        return -1;
    }
    // A reader that went away must come back as a failed write.
    (void)std::signal(SIGPIPE, SIG_IGN);
    const char* chosen = std::getenv("DSPFEED_BRIDGE_FORMAT");
    wav = chosen != nullptr && std::strcmp(chosen, "wav") == 0;
    // A client plays in real time, and a larger pipe lets it hold more.
    if (!wav) {
        (void)fcntl(output, F_SETPIPE_SZ, clientPipeBytes);
        clientPipeCapacity = std::max(fcntl(output, F_GETPIPE_SZ), 0);
    }
    gathered.resize(suppliedGatherLimit + wavStreamHeaderBytes);
    return output;
}

int device::request(unsigned long code, int* value) {
    if (code == SNDCTL_DSP_SETFMT) {
        format = *value == AFMT_U8 ? AFMT_U8 : AFMT_S16_LE;
        *value = format;
        return 0;
    }
    // The format is settled first, then the channels, then the rate.
    if (code == SNDCTL_DSP_CHANNELS &&
        (wav ? canHoldInWav(sampleBytes(), *value, 1) : *value >= 1 && *value <= mostChannels)) {
        channels = *value;
        return 0;
    }
    if (code == SNDCTL_DSP_SPEED &&
        (wav ? canHoldInWav(sampleBytes(), channels, *value) : *value >= 1 && *value <= highestRate)) {
        rate = *value;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

ssize_t device::write(const void* bytes, size_t count) {
    if (!headerSent) {
        const std::size_t frameBytes = countFrameBytes();
        const std::size_t twentyMilliseconds = frameBytes * static_cast<std::size_t>(rate / gathersPerSecond);
        liveGatherBytes = std::max(frameBytes, std::min(gatherLimit, twentyMilliseconds));
        gatherBytes = liveGatherBytes;
        const auto capacity = static_cast<std::size_t>(clientPipeCapacity);
        if (capacity >= 2 * countBytesPerSecond()) {
            suppliedGatherBytes = std::max(liveGatherBytes, std::min(suppliedGatherLimit, capacity / 4));
        }
        gatherHeader();
    }
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    gather(bytes, count);
    if (gatheredBytes >= gatherBytes && !handOver()) {
        errno = failure;
        return -1;
    }
    return static_cast<ssize_t>(count);
}

void device::close() {
    if (wav && !headerSent) {
        gatherHeader();  // a WAV file of no frames is still a WAV file
    }
    handOver();
    output = -1;
}

bool device::owns(int descriptor) {
    return descriptor == output && output >= 0;
}

// The player reads its input through this. Before it waits for more, what is
// gathered goes out, so that nothing it already wrote is held back.
extern "C" ssize_t read(int descriptor, void* bytes, size_t count) {
    static auto* real = findReal<ssize_t(int, void*, size_t)>("read");
    if (descriptor == 0 && output >= 0 && gatheredBytes > 0) {
        pollfd input{0, POLLIN, 0};
        if (poll(&input, 1, 0) == 0) {
            handOver();
        }
    }
    return real(descriptor, bytes, count);
}
