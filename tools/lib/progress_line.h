// dspfeed-play's progress line: the time heard and a level meter, fitted to the terminal's width.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

#include "sound_levels.h"

// "dspfeed-play: H:MM:SS of H:MM:SS (P%)", or without " of ..." where the
// length is not known (`total` below 0), then the meter: each channel's peak
// in dBFS (L and R for two, the loudest for more) and "full" where a sample
// was at full scale. Where `width` columns are too few, the meter goes
// first, then the tool's name; what is left is cut to fit.
std::string formatProgress(double heard, double total, const Levels& levels, std::size_t width);

// "H:MM:SS".
std::string formatTime(double seconds);
