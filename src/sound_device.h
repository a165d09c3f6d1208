// Opening and configuring the OSS sound device.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "playback_settings.h"

// Whether frames can be written in the format and channel count a device
// answered: unsigned 8-bit or signed 16-bit samples, and at least one channel.
bool canWriteFormat(std::int32_t bitsPerSample);
bool canWriteChannels(std::int32_t channels);

// Opens "/dev/dsp" and asks for the format, channel count and rate in that
// order; each answer replaces its field in settings. Returns the descriptor,
// or exitDeviceFailed when the device cannot be opened, or exitRejected when
// a setting was refused or answered with a value the player cannot write.
int openSoundDevice(PlaybackSettings& settings);
