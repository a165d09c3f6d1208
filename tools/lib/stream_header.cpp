// Reads a stream's header with the player's token readers, keeping every field it reached.
// SPDX-License-Identifier: MIT
#include "stream_header.h"

#include "text_input.h"

StreamHeader readStreamHeader(std::istream& input,
                              const std::function<void(HeaderField field, bool isValue)>& beforeToken) {
    StreamHeader header;
    const auto note = [&beforeToken](HeaderField field, bool isValue) {
        if (beforeToken) {
            beforeToken(field, isValue);
        }
    };
    for (int index = samplesField; index <= flagField; ++index) {
        const auto field = static_cast<HeaderField>(index);
        note(field, false);
        if (std::string word = readWord(input); !isKeyToken(word, headerKeys[field])) {
            header.failedField = field;
            header.wordForKey = std::move(word);
            return header;
        }
        note(field, true);
        if (field == flagField) {
            header.flagWord = readWord(input);
        } else if (std::int32_t value = 0; readHeaderNumber(input, value)) {
            header.values[field] = value;
        } else {
            header.failedField = field;
            header.failedOnValue = true;
            return header;
        }
    }
    return header;
}
