// How much the bridge gathers and reads at a time, so that live sound stays live.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav_format.h"

// The most that is gathered before it goes out.
constexpr std::size_t gatherLimit = 4096;

// What is gathered before it goes out: 20 ms of sound, at most gatherLimit,
// at least a frame.
std::size_t countGatherBytes(const WavFormat& format);

// What the player may read of its input at a time, so that what it reads
// ahead waits no longer than what waits in a pipe: the text of 20 ms of
// sound, by as much text as a frame has taken so far (`inputBytes` of text
// for `soundBytes` of sound), and at least 64 bytes. No bound before the
// first frame.
std::size_t countReadBytes(std::uint64_t inputBytes, std::uint64_t soundBytes, const WavFormat& format);
