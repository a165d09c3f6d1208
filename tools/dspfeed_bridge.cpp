// The sound bridge: preloaded into dspfeed by the tools, it stands in for "/dev/dsp" and hands the frames on.
// SPDX-License-Identifier: MIT
//
// It answers the player's requests as the kernel's OSS emulation does
// (oss_answers.h), but where its destination takes what was asked as it is:
// a format the emulation keeps, or else 8 bits; 1 to 128 channels, and no
// channel as one, though a sound server or its clients take at most 32; any
// rate a WAV file can hold, or for a server 1 to 384000 Hz, and others held
// to 1000 to 192000 Hz. It opens no capture side.
//
// Where the frames go is DSPFEED_BRIDGE_FORMAT's choice (bridge_protocol.h):
// to the sound server itself, as one of its clients, or out on standard
// output as a WAV stream of unknown length, with or without the format line
// ahead of it; nothing at all comes out when no frame comes, so that a tool
// starts no client for a player that failed. A WAV stream for a file is
// written at the latest on close.
// Frames are gathered into hand-overs of at most 4 KiB or 20 ms of sound, and
// what is gathered goes out whenever the player is about to wait for input,
// so that live input stays live. A server takes a hand-over as soon as it has
// room; until then the write waits, as on a device.
// A downstream that fails reaches the player as a failed write, never as
// SIGPIPE.
#include <linux/soundcard.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "device_interposition.h"
#include "live_pacing.h"
#include "oss_answers.h"
#include "server_stream.h"
#include "sound_levels.h"
#include "wav_format.h"

namespace {

// What a sound server and its clients take.
constexpr int mostChannels = 32;
constexpr int highestRate = 384000;

// The device as the player has set it up, and the sound on its way out.
struct Bridge {
    int output = -1;        // the device's descriptor: a duplicate of standard output
    BridgeRequest request;  // what the tool asked for, read as the player starts
    WavFormat format = {.sampleBytes = 1};  // as the player set it: OSS's defaults, 8 bits mono, until asked
    bool started = false;                 // the first frame came, and the header or stream is there
    int failure = 0;                      // the errno of a failed hand-over, which every later write reports
    std::vector<unsigned char> gathered;  // its first gatheredBytes are waiting to go out
    std::size_t gatheredBytes = 0;
    std::size_t gatherBytes = gatherLimit;  // what is gathered before it goes out, or all a server asked for
    std::uint64_t handedOn = 0;             // bytes of sound handed on
    std::uint64_t inputBytes = 0;           // bytes of text the player has read
    bool liveInput = true;                  // the player's input may keep it waiting: it is no regular file
    std::unique_ptr<LevelTracker> meter;    // what the server was given, for the lines of what is heard
    std::string unreachable;                // why the server could not be reached, for the open to tell
};
Bridge bridge;

// The request is read, and a server connected to, as the player starts,
// before it reads any input (bridge_protocol.h).
bool setUpAtStart() {
    bridge.request = readBridgeRequest();
    // Nothing the player starts, such as a server that libpulse spawns, is
    // to load the bridge as well.
    (void)unsetenv(preloadVariable);
    if (bridge.request.output != BridgeOutput::server) {
        return true;
    }
    bridge.unreachable = connectToServer();
    return true;
}
// Run as the library loads, after `bridge` above. Only running out of
// memory could throw here, which nothing could recover from anyway.
[[maybe_unused]] const bool setUp = setUpAtStart();  // NOLINT(cert-err58-cpp)

bool sendOut(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = realWrite(bridge.output, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            bridge.failure = written < 0 ? errno : EIO;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

[[gnu::noinline]] void makeRoomFor(std::size_t count) {
    bridge.gathered.resize(bridge.gatheredBytes + count);
}

// Runs for every frame, so it is kept to a few instructions.
[[gnu::always_inline]] inline void gather(const void* bytes, std::size_t count) {
    if (bridge.gatheredBytes + count > bridge.gathered.size()) {
        makeRoomFor(count);
    }
    unsigned char* end = bridge.gathered.data() + bridge.gatheredBytes;
    // A frame is a few bytes, which a call to memcpy would cost more than:
    // the usual sizes are copied in place.
    switch (count) {
        case 2:
            std::memcpy(end, bytes, 2);
            break;
        case 4:
            std::memcpy(end, bytes, 4);
            break;
        default:
            std::memcpy(end, bytes, count);
    }
    bridge.gatheredBytes += count;
}

// A server that fails says why, once, for the tool to tell; the player sees
// a failed write.
void failOnServer(const std::string& reason) {
    if (bridge.failure == 0) {
        const std::string line = makeFailedLine(reason);
        (void)sendOut(line.data(), line.size());
        bridge.failure = EIO;
    }
}

double bytesPerSecond() {
    return countBytesPerSecond(bridge.format);
}

void reportHeard(double seconds) {
    const std::string line =
        makeHeardLine(seconds, bridge.meter->takeHeard(static_cast<std::uint64_t>(seconds * bytesPerSecond())));
    (void)sendOut(line.data(), line.size());
}

void reportHeardByServer() {
    const double heard = serverHeardSeconds();
    if (heard >= 0 && bridge.failure == 0) {
        reportHeard(heard);
    }
}

// The header or stream that the first frame needs.
void start() {
    const WavFormat& format = bridge.format;
    bridge.gatherBytes = countGatherBytes(format);
    bridge.started = true;
    if (bridge.request.output == BridgeOutput::server) {
        const bool metered = bridge.request.metered;
        if (const std::string error = openServerStream(format, bridge.request.streamName, metered); !error.empty()) {
            failOnServer(error);
        } else if (metered) {
            bridge.meter = std::make_unique<LevelTracker>(format);
            tickWhileWaiting(reportHeardByServer, updateSeconds);
        }
        return;
    }
    if (bridge.request.output == BridgeOutput::formatLine) {
        const std::string line = makeFormatLine(format);
        gather(line.data(), line.size());
    }
    const std::vector<unsigned char> header = makeWavStreamHeader(format);
    gather(header.data(), header.size());
}

bool handOver() {
    if (bridge.failure == 0 && bridge.gatheredBytes > 0) {
        if (bridge.request.output != BridgeOutput::server) {
            (void)sendOut(bridge.gathered.data(), bridge.gatheredBytes);
        } else if (const std::string error = writeToServer(bridge.gathered.data(), bridge.gatheredBytes);
                   !error.empty()) {
            failOnServer(error);
        } else if (bridge.meter) {
            bridge.meter->add(bridge.gathered.data(), bridge.gatheredBytes);
        }
        bridge.handedOn += bridge.gatheredBytes;
    }
    bridge.gatheredBytes = 0;
    return bridge.failure == 0;
}

}  // namespace

int device::open(const char* /*function*/, int /*flags*/) {
    // Raw sound on a terminal helps nobody.
    const bool toServer = bridge.request.output == BridgeOutput::server;
    if (!toServer && isatty(1) != 0) {
        errno = ENOTTY;
        return -1;
    }
    if (toServer && !bridge.unreachable.empty()) {
        const std::string line = makeFailedLine(bridge.unreachable);
        (void)realWrite(1, line.data(), line.size());
        errno = EIO;
        return -1;
    }
    struct stat input = {};
    bridge.liveInput = fstat(0, &input) != 0 || !S_ISREG(input.st_mode);
    bridge.output = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (bridge.output < 0) {
        return -1;
    }
    // A reader that went away must come back as a failed write.
    (void)std::signal(SIGPIPE, SIG_IGN);
    bridge.gathered.resize(gatherLimit + wavStreamHeaderBytes + 64);
    return bridge.output;
}

int device::request(unsigned long code, int* value) {
    const bool wav = bridge.request.output == BridgeOutput::wav;
    WavFormat& format = bridge.format;
    // The player goes on only with 8 or 16 bits, and the format is settled
    // first, then the channels, then the rate.
    if (code == SNDCTL_DSP_SETFMT) {
        *value = answerFormat(*value);
        format.sampleBytes = *value == AFMT_U8 ? 1 : 2;
        return 0;
    }
    const std::optional<std::int32_t> channels = answerChannels(*value);
    if (code == SNDCTL_DSP_CHANNELS && channels && (wav || *channels <= mostChannels)) {
        format.channels = *value = *channels;
        return 0;
    }
    if (code == SNDCTL_DSP_SPEED) {
        const bool taken = wav ? canHoldInWav(format.sampleBytes, format.channels, *value)
                               : *value >= 1 && *value <= highestRate;
        format.rate = *value = taken ? *value : answerRate(*value);
        return 0;
    }
    errno = EINVAL;
    return -1;
}

ssize_t device::write(const void* bytes, size_t count) {
    if (!bridge.started) {
        start();
    }
    if (bridge.failure != 0) {
        errno = bridge.failure;
        return -1;
    }
    gather(bytes, count);
    if (bridge.gatheredBytes < bridge.gatherBytes) {
        return static_cast<ssize_t>(count);
    }
    // All that a server asks for goes in one write, as each write wakes it;
    // but no more than the server itself holds, so that no more waits here.
    std::size_t room = 0;
    if (bridge.request.output == BridgeOutput::server) {
        if (const std::string error = waitForServerRoom(room); !error.empty()) {
            failOnServer(error);
        }
        room = std::min(room, static_cast<std::size_t>(bytesPerSecond() * serverLatencySeconds));
    }
    if (room > bridge.gatheredBytes) {
        bridge.gatherBytes = room;
    } else {
        bridge.gatherBytes = countGatherBytes(bridge.format);
        handOver();
    }
    if (bridge.failure != 0) {
        errno = bridge.failure;
        return -1;
    }
    return static_cast<ssize_t>(count);
}

void device::close() {
    if (bridge.request.output == BridgeOutput::wav && !bridge.started) {
        start();  // a WAV file of no frames is still a WAV file
    }
    handOver();
    if (bridge.request.output == BridgeOutput::server) {
        if (const std::string error = drainServerStream(); !error.empty() && bridge.started) {
            failOnServer(error);
        }
        if (bridge.meter && bridge.failure == 0) {
            reportHeard(static_cast<double>(bridge.handedOn) / bytesPerSecond());  // all of it, drained
        }
    }
    bridge.output = -1;
}

bool device::owns(int descriptor) {
    return descriptor == bridge.output && bridge.output >= 0;
}

// The player reads its input through this. Before it waits for more, what is
// gathered goes out, so that nothing it already wrote is held back; and a
// server's stream is served meanwhile, so that the lines of what is heard
// go on. A regular file never keeps it waiting, and is read as the player
// asks.
extern "C" DEVICE_EXPORT ssize_t read(int descriptor, void* bytes, size_t count) {
    static auto* real = findReal<ssize_t(int, void*, size_t)>("read");
    if (descriptor != 0 || !bridge.liveInput) {
        return real(descriptor, bytes, count);
    }
    if (bridge.output >= 0 && (bridge.gatheredBytes > 0 || bridge.meter)) {
        pollfd input{0, POLLIN, 0};
        if (poll(&input, 1, 0) == 0) {
            handOver();
            if (bridge.meter && bridge.failure == 0) {
                if (const std::string error = waitForInputBeside(0); !error.empty()) {
                    failOnServer(error);
                }
            }
        }
    }
    if (bridge.request.output == BridgeOutput::server && bridge.started) {
        count =
            std::min(count, countReadBytes(bridge.inputBytes, bridge.handedOn + bridge.gatheredBytes, bridge.format));
    }
    const ssize_t got = real(descriptor, bytes, count);
    if (got > 0) {
        bridge.inputBytes += static_cast<std::uint64_t>(got);
    }
    return got;
}
