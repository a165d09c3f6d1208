// dspfeed-play's progress line: the time heard and a level meter, fitted to the terminal's width.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

#include "sound_levels.h"

// "dspfeed-play: H:MM:SS of H:MM:SS (P%)", or without " of ..." where the
// length is not known (`total` below 0), the time led by `label` where there
// is one (the stream's name and place in the run), then the meter: each channel's peak
// in dBFS (L and R for two, the loudest for more) and "full" where a sample
// was at full scale. Where `width` columns are too few, the meter goes
// first, then the tool's name; what is left is cut to fit.
std::string formatProgress(double heard, double total, const Levels& levels, std::size_t width,
                           const std::string& label = "");

// "H:MM:SS".
std::string formatTime(double seconds);

// The progress line on a terminal, rewritten in place: never wider than the
// terminal, so that it never wraps onto a new line.
struct Progress {
    double total = -1;      // the stream's length in seconds, below 0 where it is not known
    std::string label;      // which stream of several, or empty
    std::size_t shown = 0;  // the columns it took last time
};

// Shows the line on standard error for `heard` seconds and their levels.
void showProgress(Progress& progress, double heard, const Levels& levels);
// Ends the line where it stands, for a message below it; the next showing
// starts a new line.
void breakProgress(Progress& progress);
// Shows it a last time, all of the stream heard where its length is known,
// and ends it.
void endProgress(Progress& progress, double heard, const Levels& levels);
