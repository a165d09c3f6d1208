// The bridge's way out to an ALSA device: a playback stream that the player's blocking writes keep full.
// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge_protocol.h"
#include "sound_sink.h"

// What the device holds ahead of what is heard, as aplay is asked for it.
// With the bridge's gathering (gatherLimit) on top, less than half a second
// of 48 kHz 16-bit stereo ever waits between the player's write and the
// output.
constexpr double alsaBufferSeconds = 0.4;

// Opens the device `request` names, or ALSA's default, as the player opens
// /dev/dsp; one that does not open fails the device's open, with the failed
// line. Where the request asks for a meter, the lines of what is heard are
// written out as the sound goes and while the player waits for input.
std::unique_ptr<SoundSink> makeAlsaSink(const BridgeRequest& request, WriteOut writeOut);

// Opens and closes a playback device at once: why it does not open, in
// ALSA's words, or nothing.
std::string tryAlsaDevice(const std::string& name);
// The devices ALSA's configuration offers for playback, by their names.
std::vector<SoundOutput> listAlsaDevices();
// The name ALSA's default device goes by.
constexpr const char* alsaDefaultDevice = "default";
