// Matches header key tokens on standard input and reads their values.
// SPDX-License-Identifier: MIT
#include "text_input.h"

#include <cstdlib>
#include <iostream>

#include "playback_settings.h"

namespace {

[[noreturn]] void rejectHeader(const std::string& key, bool isFlag) {
    std::cerr << describeMissingKey(key, isFlag) << std::endl;
    std::exit(exitRejected);
}

}  // namespace

std::string readWord(std::istream& input) {
    std::string word;
    input >> word;
    return word;
}

bool isKeyToken(const std::string& word, const std::string& key) {
    return word == key + ":";
}

bool isTrueFlag(const std::string& word) {
    return word == "TRUE";
}

bool readHeaderNumber(std::istream& input, std::int32_t& value) {
    return static_cast<bool>(input >> value);
}

bool readSample(std::istream& input, std::int16_t& value) {
    return static_cast<bool>(input >> value);
}

std::string describeMissingKey(const std::string& key, bool isFlag) {
    return "Error, expected " + (isFlag ? '"' + key + '"' : key);
}

std::int32_t readValue(const std::string& key) {
    // When no word can be read the word is empty and so never matches.
    if (!isKeyToken(readWord(std::cin), key)) {
        rejectHeader(key, false);
    }
    // A value that is not a number leaves the stream failed, so the next
    // field's key token cannot be read and that field is reported instead.
    std::int32_t value = 0;
    readHeaderNumber(std::cin, value);
    return value;
}

bool readBool(const std::string& key) {
    if (!isKeyToken(readWord(std::cin), key)) {
        rejectHeader(key, true);
    }
    // No word at all (end of input) reads as false, like any word but TRUE.
    return isTrueFlag(readWord(std::cin));
}
