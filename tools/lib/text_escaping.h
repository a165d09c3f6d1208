// How the checker shows bytes it was given: on a terminal, and quoted for JSON.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

// Bytes as a terminal or a JSON reader may be given them: valid UTF-8 passes,
// control characters and bytes that are not UTF-8 become \xNN escapes, and
// past `most` bytes the text is cut between two characters and "..." follows.
std::string makeShowable(const std::string& bytes, std::size_t most = std::string::npos);

// Text as a JSON string, quoted, with its quotes, backslashes and control
// characters escaped.
std::string quoteJson(const std::string& text);
