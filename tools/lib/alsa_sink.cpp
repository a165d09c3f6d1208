// Plays through ALSA's library, as its own client aplay does, with no process or pipe between.
// SPDX-License-Identifier: MIT
#include "alsa_sink.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "sound_levels.h"

namespace {

using Clock = std::chrono::steady_clock;

// The library's own messages name its configuration files, not the trouble;
// the reason a call failed is told instead, as the failed line. The library
// calls it as printf is called.
void keepQuiet(  // NOLINT(cert-dcl50-cpp)
    const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/, const char* /*format*/, ...) {}

class AlsaSink : public SoundSink {
public:
    AlsaSink(const BridgeRequest& request, WriteOut writeOut)
        : name_(request.device.empty() ? alsaDefaultDevice : request.device),
          metered_(request.metered),
          report_(writeOut) {}
    AlsaSink(const AlsaSink&) = delete;
    AlsaSink& operator=(const AlsaSink&) = delete;
    AlsaSink(AlsaSink&&) = delete;
    AlsaSink& operator=(AlsaSink&&) = delete;
    ~AlsaSink() override {
        if (pcm_ != nullptr) {
            snd_pcm_close(pcm_);
        }
    }

    int checkOpen() override {
        snd_lib_error_set_handler(keepQuiet);
        if (const int error = snd_pcm_open(&pcm_, name_.c_str(), SND_PCM_STREAM_PLAYBACK, 0); error < 0) {
            pcm_ = nullptr;
            return report_.fail("cannot open '" + name_ + "': " + snd_strerror(error));
        }
        return 0;
    }

    // Asked as aplay asks, with ALSA's own conversions where the device
    // does not take the format as it is.
    int start(const WavFormat& format, std::vector<unsigned char>& /*ahead*/) override {
        format_ = format;
        const auto latency = static_cast<unsigned>(alsaBufferSeconds * 1e6);
        if (const int error =
                snd_pcm_set_params(pcm_, format.sampleBytes == 1 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                                   SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(format.channels),
                                   static_cast<unsigned>(format.sampleRate), 1, latency);
            error < 0) {
            return report_.fail("'" + name_ + "' does not take the stream's format: " + snd_strerror(error));
        }
        if (metered_) {
            meter_ = std::make_unique<LevelTracker>(format);
            nextTick_ = Clock::now();
        }
        return 0;
    }

    // Waits, as a device's write does, until the device has taken it all.
    int handOver(const unsigned char* bytes, std::size_t count) override {
        const std::size_t frameBytes = countFrameBytes(format_);
        if (meter_) {
            meter_->add(bytes, count);
        }
        for (auto frames = static_cast<snd_pcm_uframes_t>(count / frameBytes); frames > 0 && report_.failure() == 0;) {
            snd_pcm_sframes_t written = snd_pcm_writei(pcm_, bytes, frames);
            // A device that ran dry (the input kept it waiting) starts again.
            if (written < 0) {
                written = snd_pcm_recover(pcm_, static_cast<int>(written), 1);
                if (written < 0) {
                    return report_.fail(snd_strerror(static_cast<int>(written)));
                }
                continue;
            }
            framesWritten_ += static_cast<std::uint64_t>(written);
            frames -= static_cast<snd_pcm_uframes_t>(written);
            bytes += static_cast<std::size_t>(written) * frameBytes;
        }
        tellHeardIfDue();
        return report_.failure();
    }

    bool servesWhileWaiting() const override { return meter_ != nullptr && report_.failure() == 0; }

    // Tells what is heard each update until the input has something.
    int serveUntilReadable(int descriptor) override {
        pollfd input{descriptor, POLLIN, 0};
        while (report_.failure() == 0) {
            tellHeardIfDue();
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick_ - Clock::now());
            if (poll(&input, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0))) != 0) {
                break;
            }
        }
        return report_.failure();
    }

    bool pacesInput() const override { return true; }

    // Waits until all of it has been heard, as /dev/dsp's close does.
    int finish(double seconds) override {
        if (pcm_ != nullptr && framesWritten_ > 0 && report_.failure() == 0) {
            if (const int error = snd_pcm_drain(pcm_); error < 0) {
                (void)report_.fail(snd_strerror(error));
            } else if (meter_) {
                report_.tellHeard(seconds, *meter_, format_);
            }
        }
        if (pcm_ != nullptr) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
        return report_.failure();
    }

private:
    void tellHeardIfDue() {
        if (!meter_ || Clock::now() < nextTick_) {
            return;
        }
        nextTick_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(updateSeconds));
        // What the device still holds has not been heard yet.
        snd_pcm_sframes_t waiting = 0;
        if (snd_pcm_delay(pcm_, &waiting) < 0) {
            waiting = 0;
        }
        const auto heard = static_cast<std::int64_t>(framesWritten_) - std::max<snd_pcm_sframes_t>(waiting, 0);
        report_.tellHeard(static_cast<double>(std::max<std::int64_t>(heard, 0)) / format_.sampleRate, *meter_, format_);
    }

    std::string name_;
    bool metered_;
    SinkReport report_;
    snd_pcm_t* pcm_ = nullptr;
    WavFormat format_;
    std::uint64_t framesWritten_ = 0;
    std::unique_ptr<LevelTracker> meter_;
    Clock::time_point nextTick_;
};

}  // namespace

std::unique_ptr<SoundSink> makeAlsaSink(const BridgeRequest& request, WriteOut writeOut) {
    return std::make_unique<AlsaSink>(request, writeOut);
}

std::string tryAlsaDevice(const std::string& name) {
    snd_lib_error_set_handler(keepQuiet);
    snd_pcm_t* pcm = nullptr;
    if (const int error = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, 0); error < 0) {
        return snd_strerror(error);
    }
    snd_pcm_close(pcm);
    return {};
}

std::vector<SoundOutput> listAlsaDevices() {
    std::vector<SoundOutput> devices;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
        return devices;
    }
    // Each hint's fields are the library's, to be freed.
    const auto takeField = [](void* hint, const char* field) {
        char* value = snd_device_name_get_hint(hint, field);
        std::string text = value != nullptr ? value : "";
        std::free(value);
        return text;
    };
    for (void** hint = hints; *hint != nullptr; ++hint) {
        const std::string direction = takeField(*hint, "IOID");
        std::string description = takeField(*hint, "DESC");
        std::replace(description.begin(), description.end(), '\n', ' ');
        if (direction.empty() || direction == "Output") {
            devices.push_back({takeField(*hint, "NAME"), description});
        }
    }
    snd_device_name_free_hint(hints);
    return devices;
}
