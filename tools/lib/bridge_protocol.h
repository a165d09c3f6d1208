// What the sound bridge tells the tool that runs the player, one text line at a time on the player's standard output.
// SPDX-License-Identifier: MIT
// How the bridge hands the sound on is chosen by DSPFEED_BRIDGE_FORMAT:
//   unset or "line"  the format line, then the sound as a WAV stream
//   "wav"            the WAV stream alone
//   "server"         the sound goes to the sound server; only the lines of
//                    what is heard (with DSPFEED_BRIDGE_METER set) and of a
//                    failure come out
//   "alsa"           the same, to an ALSA device
//   "oss"            the player opens the OSS device DSPFEED_BRIDGE_DEVICE
//                    in place of /dev/dsp, and the bridge stands aside
// DSPFEED_BRIDGE_DEVICE names the server's sink or the ALSA device; unset,
// the default one.
// To the server, the bridge connects as the player starts, before it reads
// any input; one that does not answer fails the player's open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound_levels.h"
#include "wav_format.h"

// The loader's variable that puts the bridge into the player, and what the
// names of the bridge's own settings begin with.
constexpr const char* preloadVariable = "LD_PRELOAD";
constexpr const char* bridgeVariablePrefix = "DSPFEED_BRIDGE_";

enum class BridgeOutput : std::uint8_t { formatLine, wav, server, alsa, oss };

// What a tool asks of the bridge, in the player's environment.
struct BridgeRequest {
    BridgeOutput output = BridgeOutput::formatLine;
    std::string streamName = "dspfeed";  // the server's name for the stream
    // The sink, ALSA device or OSS node; empty for the default. Initialized,
    // so that a designated initializer may leave it out.
    std::string device{};  // NOLINT(readability-redundant-member-init)
    bool metered = false;  // the server's stream tells what is heard
};
std::vector<std::string> makeBridgeSettings(const BridgeRequest& request);
// Read once, as the player starts.
BridgeRequest readBridgeRequest();
// How often what is heard is told, and the progress line rewritten.
constexpr double updateSeconds = 0.25;

// "dspfeed-pcm FORMAT RATE CHANNELS", FORMAT being u8 or s16le.
std::string makeFormatLine(const WavFormat& format);
bool readFormatLine(const std::string& line, WavFormat& format);

// "heard SECONDS FULL PEAK...": what the server has played, and the levels
// heard since the last such line (FULL is 1 when a sample was at full scale).
std::string makeHeardLine(double seconds, const Levels& levels);
bool readHeardLine(const std::string& line, double& seconds, Levels& levels);

// "failed REASON": the server or device failed the stream, for the tool to say why.
std::string makeFailedLine(const std::string& reason);
bool readFailedLine(const std::string& line, std::string& reason);
