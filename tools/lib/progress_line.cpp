// Formats dspfeed-play's progress line and its level meter.
// SPDX-License-Identifier: MIT
#include "progress_line.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "signals.h"

namespace {

std::string formatLevel(int level) {
    const double decibels = levelDecibels(level);
    if (std::isinf(decibels)) {
        return " -inf";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%5.1f", decibels);
    return text;
}

std::string formatMeter(const Levels& levels) {
    if (levels.peaks.empty()) {
        return "";
    }
    std::string meter;
    if (levels.peaks.size() == 1) {
        meter = formatLevel(levels.peaks[0]);
    } else if (levels.peaks.size() == 2) {
        meter = "L " + formatLevel(levels.peaks[0]) + "  R " + formatLevel(levels.peaks[1]);
    } else {
        const auto loudest = std::max_element(levels.peaks.begin(), levels.peaks.end());
        meter = "ch " + std::to_string(loudest - levels.peaks.begin() + 1) + " " + formatLevel(*loudest);
    }
    return meter + " dBFS" + (levels.fullScale ? " full" : "");
}

}  // namespace

std::string formatTime(double seconds) {
    const auto whole = static_cast<long long>(std::max(seconds, 0.0));
    char text[32];
    constexpr long long minute = 60;
    constexpr long long minutesPerHour = 60;
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / minute / minutesPerHour,
                  whole / minute % minutesPerHour, whole % minute);
    return text;
}

std::string formatProgress(double heard, double total, const Levels& levels, std::size_t width,
                           const std::string& label) {
    std::string time = (label.empty() ? "" : label + " ") + formatTime(heard);
    if (total >= 0) {
        const int percent = total > 0 ? static_cast<int>(std::min(heard / total, 1.0) * 100) : 100;
        time += " of " + formatTime(total) + " (" + std::to_string(percent) + "%)";
    }
    const std::string meter = formatMeter(levels);
    const std::string name = "dspfeed-play: ";
    for (const std::string& line : {name + time + (meter.empty() ? "" : "  " + meter), name + time, time}) {
        if (line.size() <= width) {
            return line;
        }
    }
    return time.substr(0, width);
}

void showProgress(Progress& progress, double heard, const Levels& levels) {
    winsize window{};
    const std::size_t columns = ioctl(2, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 ? window.ws_col : 80;
    std::string line = formatProgress(heard, progress.total, levels, columns - 1, progress.label);
    const std::size_t length = line.size();
    line.append(progress.shown > length ? std::min(progress.shown, columns - 1) - length : 0, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    progress.shown = length;
    endLineOnSignal(true);
}

void breakProgress(Progress& progress) {
    if (progress.shown > 0) {
        std::fputs("\n", stderr);
        progress.shown = 0;
        endLineOnSignal(false);
    }
}

void endProgress(Progress& progress, double heard, const Levels& levels) {
    showProgress(progress, progress.total >= 0 ? progress.total : heard, levels);
    std::fputs("\n", stderr);
    progress.shown = 0;
    endLineOnSignal(false);
}
