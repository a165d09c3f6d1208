// The sound bridge: preloaded into dspfeed by the tools, it stands in for "/dev/dsp" and hands the frames on.
// SPDX-License-Identifier: MIT
//
// It answers the player's requests as the kernel's OSS emulation does
// (oss_answers.h), but where its sink takes what was asked as it is: a
// format the emulation keeps, or else 8 bits; 1 to 128 channels, and no
// channel as one, though a sound server or its clients take at most 32; any
// rate a WAV file can hold, or for a server 1 to 384000 Hz, and others held
// to 1000 to 192000 Hz. It opens no capture side.
//
// Where the frames go is the tool's request (bridge_protocol.h), read once
// as the player starts: to the sound server itself, as one of its clients
// (server_sink.h), to an ALSA device through ALSA's library (alsa_sink.h),
// or out on standard output as a WAV stream of unknown length, with or
// without the format line ahead of it (pipe_sink.h). Asked for another OSS
// node, the bridge opens that node in the player's place and stands aside.
// Nothing at all comes out when no frame comes, so that a tool starts no
// client for a player that failed. A WAV stream for a file is written at the
// latest on close.
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

#include "alsa_sink.h"
#include "bridge_protocol.h"
#include "device_interposition.h"
#include "live_pacing.h"
#include "oss_answers.h"
#include "pipe_sink.h"
#include "server_sink.h"
#include "wav_format.h"

namespace {

// The device as the player has set it up, and the sound on its way out.
struct Bridge {
    int output = -1;                        // the device's descriptor: a duplicate of standard output
    std::unique_ptr<SoundSink> sink;        // where the sound goes, as the tool asked
    std::string otherDevice;                // an OSS node opened in place of the device, with no sink
    WavFormat format = {.sampleBytes = 1};  // as the player set it: OSS's defaults, 8 bits mono, until asked
    bool started = false;                   // the first frame came, and the sink has started
    int failure = 0;                        // the errno of a failed hand-over, which every later write reports
    std::vector<unsigned char> gathered;    // its first gatheredBytes are waiting to go out
    std::size_t gatheredBytes = 0;
    std::size_t gatherBytes = gatherLimit;  // what is gathered before it goes out, or all the sink asked for
    std::uint64_t handedOn = 0;             // bytes of sound handed on
    std::uint64_t inputBytes = 0;           // bytes of text the player has read
    bool liveInput = true;                  // the player's input may keep it waiting: it is no regular file
};
Bridge bridge;

// Writes to the tool, past the device.
bool sendOut(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t written = realWrite(bridge.output, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written < 0 ? errno : EIO;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// The sink is made, and a server connected to, as the player starts, before
// it reads any input.
bool setUpAtStart() {
    const BridgeRequest request = readBridgeRequest();
    switch (request.output) {
        case BridgeOutput::server:
            bridge.sink = makeServerSink(request, sendOut);
            break;
        case BridgeOutput::alsa:
            bridge.sink = makeAlsaSink(request, sendOut);
            break;
        case BridgeOutput::oss:
            bridge.otherDevice = request.device;
            break;
        default:
            bridge.sink = makePipeSink(request.output, sendOut);
    }
    // Nothing the player starts, such as a server that libpulse spawns, is
    // to load the bridge as well.
    (void)unsetenv(preloadVariable);
    return true;
}
// Run as the library loads, after `bridge` above. Only running out of
// memory could throw here, which nothing could recover from anyway.
[[maybe_unused]] const bool setUp = setUpAtStart();  // NOLINT(cert-err58-cpp)

// The first failure is the one every later write reports.
void noteFailure(int error) {
    if (bridge.failure == 0) {
        bridge.failure = error;
    }
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

// The sink starts with the first frame; what it puts ahead goes out first.
void start() {
    bridge.gatherBytes = countGatherBytes(bridge.format);
    bridge.started = true;
    std::vector<unsigned char> ahead;
    noteFailure(bridge.sink->start(bridge.format, ahead));
    if (!ahead.empty()) {
        gather(ahead.data(), ahead.size());
    }
}

bool handOver() {
    if (bridge.failure == 0 && bridge.gatheredBytes > 0) {
        noteFailure(bridge.sink->handOver(bridge.gathered.data(), bridge.gatheredBytes));
        bridge.handedOn += bridge.gatheredBytes;
    }
    bridge.gatheredBytes = 0;
    return bridge.failure == 0;
}

}  // namespace

int device::open(const char* /*function*/, int flags) {
    // The other node is the player's own device, which the bridge leaves alone.
    if (!bridge.otherDevice.empty()) {
        return realOpen(bridge.otherDevice.c_str(), flags);
    }
    bridge.output = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (bridge.output < 0) {
        return -1;
    }
    if (const int error = bridge.sink->checkOpen(); error != 0) {
        realClose(bridge.output);
        bridge.output = -1;
        errno = error;
        return -1;
    }
    struct stat input = {};
    bridge.liveInput = fstat(0, &input) != 0 || !S_ISREG(input.st_mode);
    // A reader that went away must come back as a failed write.
    (void)std::signal(SIGPIPE, SIG_IGN);
    bridge.gathered.resize(gatherLimit + wavStreamHeaderBytes + 64);
    return bridge.output;
}

int device::request(unsigned long code, int* value) {
    WavFormat& format = bridge.format;
    // The player goes on only with 8 or 16 bits, and the format is settled
    // first, then the channels, then the rate.
    if (code == SNDCTL_DSP_SETFMT) {
        *value = answerFormat(*value);
        format.sampleBytes = *value == AFMT_U8 ? 1 : 2;
        return 0;
    }
    const std::optional<std::int32_t> channels = answerChannels(*value);
    if (code == SNDCTL_DSP_CHANNELS && channels && bridge.sink->takesChannels(*channels)) {
        format.channels = *value = *channels;
        return 0;
    }
    if (code == SNDCTL_DSP_SPEED) {
        WavFormat asked = format;
        asked.sampleRate = *value;
        format.sampleRate = *value = bridge.sink->takesRate(asked) ? *value : answerRate(*value);
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
    std::size_t room = 0;
    noteFailure(bridge.sink->askRoom(room));
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
    if (!bridge.started && bridge.sink->startsWithoutFrames()) {
        start();
    }
    handOver();
    noteFailure(bridge.sink->finish(static_cast<double>(bridge.handedOn) / countBytesPerSecond(bridge.format)));
    bridge.output = -1;
}

const char* device::path() {
    return "/dev/dsp";
}

bool device::owns(int descriptor) {
    return descriptor == bridge.output && bridge.output >= 0;
}

// The player reads its input through this. Before it waits for more, what is
// gathered goes out, so that nothing it already wrote is held back; and a
// sink that is served meanwhile is, so that the lines of what is heard go
// on. A regular file never keeps it waiting, and is read as the player asks.
extern "C" DEVICE_EXPORT ssize_t read(int descriptor, void* bytes, size_t count) {
    static auto* real = findReal<ssize_t(int, void*, size_t)>("read");
    if (descriptor != 0 || !bridge.liveInput) {
        return real(descriptor, bytes, count);
    }
    if (bridge.output >= 0 && (bridge.gatheredBytes > 0 || bridge.sink->servesWhileWaiting())) {
        pollfd input{0, POLLIN, 0};
        if (poll(&input, 1, 0) == 0) {
            handOver();
            if (bridge.sink->servesWhileWaiting()) {
                noteFailure(bridge.sink->serveUntilReadable(0));
            }
        }
    }
    if (bridge.started && bridge.sink->pacesInput()) {
        count =
            std::min(count, countReadBytes(bridge.inputBytes, bridge.handedOn + bridge.gatheredBytes, bridge.format));
    }
    const ssize_t got = real(descriptor, bytes, count);
    if (got > 0) {
        bridge.inputBytes += static_cast<std::uint64_t>(got);
    }
    return got;
}
