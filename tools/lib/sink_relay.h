// Plays the players' sound, one after another, on a sink of the tool's own: streams of one format play as one, with no
// gap. SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bridge_protocol.h"
#include "sound_levels.h"
#include "sound_sink.h"

using MakeSink = std::unique_ptr<SoundSink> (*)(const BridgeRequest&, WriteOut);

// The sink, and the stream it plays, open from one player to the next.
struct SinkRelay {
    MakeSink makeSink = nullptr;
    BridgeRequest request;  // what each new sink is asked; its stream is named after the stream that opens it
    std::unique_ptr<SoundSink> sink;
    WavFormat format;            // the open stream's, while there is one
    std::uint64_t handedOn = 0;  // bytes of sound the open stream was given
    std::string failure;         // why the sink failed, once it has
    std::size_t place = 0;       // the place in the run of the stream being relayed
    // Where each stream the open sink stream holds began in it, in seconds,
    // and its place: what is heard tells which stream is heard.
    std::vector<std::pair<double, std::size_t>> starts;
    std::function<void(double heard, const Levels& levels)> showHeard;  // the stream's seconds heard, as told
};

// Hands on one player's sound from `sound` (the bridge's format line and WAV
// stream) until it ends: into the open stream where the format is the same,
// or else into a new one, the open one played out first. False once the
// sink has failed.
bool relaySound(int sound, const std::string& streamName, SinkRelay& relay);
// Plays out what is left and closes the sink. False where it failed.
bool finishRelay(SinkRelay& relay);
