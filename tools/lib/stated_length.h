// What a WAV or AIFF file's own header says of its length, which libsndfile trims to the file's size unsaid.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

// The frames a file's header promises, read from the file at `descriptor`
// without moving its offset: a WAV file's data size in frames or, where its
// samples are compressed, the count of its fact chunk; an AIFF file's frame
// count. Empty for other formats, and where the size is 0 or all ones,
// which writers that cannot seek back leave.
std::optional<std::int64_t> readStatedFrames(int descriptor);
