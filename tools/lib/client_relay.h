// Hands the sound bridge's WAV stream on to a client such as aplay through a small pipe, metering what passes.
// SPDX-License-Identifier: MIT
#pragma once

#include "progress_line.h"
#include "wav_format.h"

// Copies the stream from `sound` into `client` until the stream ends or the
// client stops taking it, showing four times a second how much has been
// heard: what went into the client, less what waits in the pipe and the
// `bufferSeconds` the client holds before it is heard. Returns the seconds
// of sound handed on.
double meterInto(int sound, int client, const WavFormat& format, double bufferSeconds, Progress& progress);
