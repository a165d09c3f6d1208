// Matches header key tokens on standard input and reads their values.
#include "text_input.h"

#include <cstdlib>
#include <iostream>

#include "playback_settings.h"

namespace {

// Reads the next word and tells whether it is the key followed by one colon.
// When no word can be read the string stays empty and so never matches.
bool readKeyToken(const std::string& key) {
    std::string word;
    std::cin >> word;
    return word == key + ":";
}

[[noreturn]] void rejectHeader(const std::string& expected) {
    std::cerr << "Error, expected " << expected << std::endl;
    std::exit(exitRejected);
}

}  // namespace

std::int32_t readValue(const std::string& key) {
    if (!readKeyToken(key)) {
        rejectHeader(key);
    }
    // A value that is not a number leaves the stream failed, so the next
    // field's key token cannot be read and that field is reported instead.
    std::int32_t value = 0;
    std::cin >> value;
    return value;
}

bool readBool(const std::string& key) {
    if (!readKeyToken(key)) {
        rejectHeader('"' + key + '"');
    }
    // No word at all (end of input) reads as false, like any word but TRUE.
    std::string word;
    std::cin >> word;
    return word == "TRUE";
}
