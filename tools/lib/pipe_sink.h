// The bridge's way out to a tool: a WAV stream on its standard output, led by the format line where asked.
// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "bridge_protocol.h"
#include "sound_sink.h"

// For BridgeOutput::formatLine (a client's path, which takes what a client
// takes) or BridgeOutput::wav (a file's, which takes what a WAV file holds).
std::unique_ptr<SoundSink> makePipeSink(BridgeOutput output, WriteOut writeOut);
