// Rendering a text sample stream into WAV through the player and the sound bridge, as dspfeed2wav and dspfeed-play do.
// SPDX-License-Identifier: MIT
#pragma once

#include "install_paths.h"
#include "tool_files.h"

// Plays the stream on `input` into `output`: the exact bytes the player
// sends, behind a WAV header whose lengths are filled in where the output
// can be rewritten. Then puts the output in place; after a failure of the
// player or of the writing it is left unfinished, to be given up. Returns
// the exit status for the tool: the player's, exitCannotWrite after a
// message naming `tool` and the output, or exitPlayerFailed when the player
// cannot start or sends no sound.
int renderWav(const char* tool, const ToolParts& parts, int input, OutputFile& output);
