// Opens "/dev/dsp" and negotiates format, channels and rate with the driver.
#include "sound_device.h"

#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>

#include <iostream>

namespace {

// Asks the driver for a setting; the driver writes the value it chose back.
// Only a result of exactly -1 is a refusal.
bool requestSetting(int descriptor, unsigned long request, std::int32_t& value) {
    return ioctl(descriptor, request, &value) != -1;
}

int refuseSetting(const char* message) {
    std::cerr << message << std::endl;
    return exitRejected;
}

}  // namespace

int openSoundDevice(PlaybackSettings& settings) {
    // Blocking mode: each write waits until the driver took all of it, which
    // is what paces the playback.
    const int descriptor = open("/dev/dsp", O_RDWR);
    if (descriptor < 0) {
        std::cerr << "Error opening /dev/dsp" << std::endl;
        return exitDeviceFailed;
    }
    // Frames can be written as unsigned 8-bit or signed 16-bit samples only,
    // so any other answered format is as good as a refusal.
    if (!requestSetting(descriptor, SNDCTL_DSP_SETFMT, settings.bitsPerSample) ||
        (settings.bitsPerSample != AFMT_U8 && settings.bitsPerSample != AFMT_S16_LE)) {
        return refuseSetting("Error setting sample size on /dev/dsp");
    }
    if (!requestSetting(descriptor, SNDCTL_DSP_CHANNELS, settings.channels) || settings.channels < 1) {
        return refuseSetting("Error setting number of channels on /dev/dsp");
    }
    if (!requestSetting(descriptor, SNDCTL_DSP_SPEED, settings.sampleRate)) {
        return refuseSetting("Error setting sample rate on /dev/dsp");
    }
    return descriptor;
}
