// Readers for the header fields of a text sample stream on standard input.
#pragma once

#include <cstdint>
#include <string>

// Reads the key token "key:" and the number after it. Ends the process with
// exitRejected when the next word is not that key token.
std::int32_t readValue(const std::string& key);

// Reads the key token "key:" and the word after it; true only for "TRUE".
// Ends the process with exitRejected when the next word is not that key token.
bool readBool(const std::string& key);
