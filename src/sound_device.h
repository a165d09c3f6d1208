// Opening and configuring the OSS sound device.
#pragma once

#include "playback_settings.h"

// Opens "/dev/dsp" and asks for the format, channel count and rate in that
// order; each answer replaces its field in settings. Returns the descriptor,
// or exitDeviceFailed when the device cannot be opened, or exitRejected when
// a setting was refused or answered with a value the player cannot write.
int openSoundDevice(PlaybackSettings& settings);
