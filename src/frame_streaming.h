// Streaming the body of a text sample stream to the configured device.
// SPDX-License-Identifier: MIT
#pragma once

#include "playback_settings.h"

// What the player says when the body breaks off.

// Reads up to settings.sampleCount frames from standard input and writes each
// to the device in one write, then frees the frame buffer and closes the
// descriptor. Broken input stops the streaming with a message but still counts
// as played. Returns exitPlayed, exitDeviceFailed when a write failed, or
// exitRejected when no frame buffer could be had.
int playFrames(int descriptor, const PlaybackSettings& settings);
