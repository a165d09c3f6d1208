// A stream's header as the tools read it: by the player's own token rules, field by field, as far as it goes.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>

#include "player_contract.h"

struct StreamHeader {
    std::optional<std::int32_t> values[numericKeyCount];  // indexed by HeaderField, as far as they were read
    std::optional<std::string> flagWord;                  // the flag's word, once its key was read
    // Where the reading stopped short of the flag's word: the field whose key
    // or value failed, and the word that stood where the key was due.
    std::optional<HeaderField> failedField;
    bool failedOnValue = false;
    std::string wordForKey;
};

// Reads the header from `input`, calling `beforeToken` (when given) before
// each key and each value, so that a caller can note where it stands.
StreamHeader readStreamHeader(std::istream& input,
                              const std::function<void(HeaderField field, bool isValue)>& beforeToken = {});
