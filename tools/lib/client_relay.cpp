// Relays the bridge's sound to a client, skipping the stream's header for the meter and timing the progress line.
// SPDX-License-Identifier: MIT
#include "client_relay.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "bridge_protocol.h"
#include "sound_levels.h"
#include "tool_files.h"

namespace {

constexpr auto progressInterval = std::chrono::milliseconds(static_cast<int>(updateSeconds * 1000));

// The sound passing on to the client, as the meter takes it: the WAV
// stream's header skipped, and whole frames only, the start of one kept
// until the rest comes.
class PassingSound {
public:
    explicit PassingSound(const WavFormat& format) : meter_(format), frameBytes_(countFrameBytes(format)) {}

    void add(const unsigned char* bytes, std::size_t count) {
        const std::size_t skipped = std::min(headerLeft_, count);
        headerLeft_ -= skipped;
        soundBytes_ += count - skipped;
        partial_.insert(partial_.end(), bytes + skipped, bytes + count);
        const std::size_t whole = partial_.size() / frameBytes_ * frameBytes_;
        meter_.add(partial_.data(), whole);
        partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(whole));
    }

    std::uint64_t soundBytes() const { return soundBytes_; }
    Levels takeHeard(std::uint64_t heardBytes) { return meter_.takeHeard(heardBytes); }

private:
    LevelTracker meter_;
    std::size_t frameBytes_;
    std::size_t headerLeft_ = wavStreamHeaderBytes;
    std::uint64_t soundBytes_ = 0;
    std::vector<unsigned char> partial_;
};

}  // namespace

double meterInto(int sound, int client, const WavFormat& format, double bufferSeconds, Progress& progress) {
    const double bytesPerSecond = countBytesPerSecond(format);
    const std::size_t chunk = std::clamp<std::size_t>(static_cast<std::size_t>(bytesPerSecond / 8), 64, 4096);
    std::vector<unsigned char> bytes(chunk);
    PassingSound passing(format);
    auto shown = std::chrono::steady_clock::now();
    for (;;) {
        pollfd ready{sound, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(progressInterval.count())) > 0) {
            const ssize_t got = read(sound, bytes.data(), chunk);
            if (got <= 0 || !writeAll(client, bytes.data(), static_cast<std::size_t>(got))) {
                return static_cast<double>(passing.soundBytes()) / bytesPerSecond;
            }
            passing.add(bytes.data(), static_cast<std::size_t>(got));
        }
        if (std::chrono::steady_clock::now() - shown >= progressInterval) {
            shown = std::chrono::steady_clock::now();
            int waiting = 0;
            ioctl(client, FIONREAD, &waiting);
            const double heard =
                std::max(((static_cast<double>(passing.soundBytes()) - waiting) / bytesPerSecond) - bufferSeconds, 0.0);
            showProgress(progress, heard, passing.takeHeard(static_cast<std::uint64_t>(heard * bytesPerSecond)));
        }
    }
}
