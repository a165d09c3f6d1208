// Opens "/dev/dsp" and negotiates format, channels and rate with the driver.
// SPDX-License-Identifier: MIT
#include "sound_device.h"

#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>

#include <iostream>

#include "player_contract.h"

namespace {

// Asks the driver for a setting; the driver writes the value it chose back.
// Only a result of exactly -1 is a refusal.
bool requestSetting(int descriptor, unsigned long request, std::int32_t& value) {
    return ioctl(descriptor, request, &value) != -1;
}

int refuseSetting(const char* message) {
    std::cerr << message << '\n';
    return exitRejected;
}

}  // namespace

bool canWriteFormat(std::int32_t bitsPerSample) {
    return bitsPerSample == AFMT_U8 || bitsPerSample == AFMT_S16_LE;
}

bool canWriteChannels(std::int32_t channels) {
    return channels >= 1;
}

int openSoundDevice(PlaybackSettings& settings) {
    // Blocking mode: each write waits until the driver took all of it, which
    // is what paces the playback.
    const int descriptor = open("/dev/dsp", O_RDWR);
    if (descriptor < 0) {
        std::cerr << openFailedMessage << '\n';
        return exitDeviceFailed;
    }
    // An answer the frames cannot be written in is as good as a refusal.
    if (!requestSetting(descriptor, SNDCTL_DSP_SETFMT, settings.bitsPerSample) ||
        !canWriteFormat(settings.bitsPerSample)) {
        return refuseSetting(formatRefusedMessage);
    }
    if (!requestSetting(descriptor, SNDCTL_DSP_CHANNELS, settings.channels) || !canWriteChannels(settings.channels)) {
        return refuseSetting(channelsRefusedMessage);
    }
    if (!requestSetting(descriptor, SNDCTL_DSP_SPEED, settings.sampleRate)) {
        return refuseSetting(rateRefusedMessage);
    }
    return descriptor;
}
