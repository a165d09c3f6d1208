// Readers for the tokens of a text sample stream: header fields and sample values.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

// Reads the key token "key:" and the number after it. Ends the process with
// exitRejected when the next word is not that key token.
std::int32_t readValue(const std::string& key);

// Reads the key token "key:" and the word after it; true only for "TRUE".
// Ends the process with exitRejected when the next word is not that key token.
bool readBool(const std::string& key);

// The token rules both the player and the stream checker read by, exactly
// those of the standard formatted extraction in the classic locale. A failed
// extraction leaves the stream failed, and then every later one fails too.

// What the classic locale counts as space: blank, tab, newline, vertical tab,
// form feed and carriage return.
inline bool isSpace(int character) {
    return character == ' ' || (character >= '\t' && character <= '\r');
}

// The most of a word that is kept: more than any key token, and little
// enough that a huge word cannot take the memory.
constexpr std::size_t longestWord = 64;

// The next whitespace-delimited word, consumed whole but kept only up to its
// first longestWord bytes; empty when none can be read.
std::string readWord(std::istream& input);

// Whether a word is the key followed by one colon, and nothing else.
bool isKeyToken(const std::string& word, const std::string& key);

// Whether a flag's word reads as true.
bool isTrueFlag(const std::string& word);

// The next number as a header value or as a sample value; false when it is
// not a number or does not fit.
bool readHeaderNumber(std::istream& input, std::int32_t& value);
bool readSample(std::istream& input, std::int16_t& value);

// The next `count` sample values, as many readSample calls would read them:
// false at the first that fails, which ends the reading.
bool readSamples(std::istream& input, std::int16_t* values, std::size_t count);

// What the player says of a key token that did not match: the numeric fields
// name the key bare, the flag quotes it.
std::string describeMissingKey(const std::string& key, bool isFlag);
