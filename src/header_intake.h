// Reading the five header fields of a text sample stream.
// SPDX-License-Identifier: MIT
#pragma once

#include "playback_settings.h"

// Fills settings from the header on standard input, field by field in the
// fixed order. Returns only when every key token matched.
void readHeader(PlaybackSettings& settings);
