// Shows any bytes safely: valid UTF-8 as it is, anything else as escapes, for a terminal or for JSON.
// SPDX-License-Identifier: MIT
#include "text_escaping.h"

#include <algorithm>
#include <cstdio>

namespace {

// The bytes of a UTF-8 character that starts with `lead`; 0 for a byte that
// starts none (a continuation, the overlong 0xc0 and 0xc1, and past 0xf4).
std::size_t countCharacterBytes(unsigned lead) {
    // NOLINTBEGIN(readability-magic-numbers): the lead bytes' ranges
    return lead < 0x80                    ? 1
           : lead >= 0xc2 && lead <= 0xdf ? 2
           : lead >= 0xe0 && lead <= 0xef ? 3
           : lead >= 0xf0 && lead <= 0xf4 ? 4
                                          : 0;
    // NOLINTEND(readability-magic-numbers)
}

// How many bytes of valid UTF-8 make the character at `start`; 0 when they do
// not make one (overlong forms, surrogates and what lies past U+10FFFF included).
std::size_t measureCharacter(const std::string& bytes, std::size_t start) {
    const auto byte = [&bytes](std::size_t index) {
        return index < bytes.size() ? static_cast<unsigned char>(bytes[index]) : 0U;
    };
    const unsigned lead = byte(start);
    const std::size_t length = countCharacterBytes(lead);
    // Any continuation byte lies in lowest..highest; after some leads the
    // second lies in a narrower range, which rules out the forms above.
    constexpr unsigned lowest = 0x80;
    constexpr unsigned highest = 0xbf;
    const unsigned secondLowest = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : lowest;
    const unsigned secondHighest = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : highest;
    for (std::size_t index = 1; index < length; ++index) {
        const unsigned next = byte(start + index);
        const bool second = index == 1;
        if (next < (second ? secondLowest : lowest) || next > (second ? secondHighest : highest)) {
            return 0;
        }
    }
    return length;
}

}  // namespace

// Bytes as a terminal or a JSON reader may be given them: valid UTF-8 passes,
// control characters and bytes that are not UTF-8 become \xNN escapes, and
// past `most` bytes the text is cut between two characters and "..." follows.
std::string makeShowable(const std::string& bytes, std::size_t most) {
    std::string shown;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = measureCharacter(bytes, at);
        const std::size_t taken = std::max<std::size_t>(length, 1);
        if (at + taken > most) {
            return shown + "...";
        }
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const bool control =
            lead < 0x20 || lead == 0x7f || (lead == 0xc2 && static_cast<unsigned char>(bytes[at + 1]) < 0xa0);
        if (length == 0 || control) {
            for (std::size_t index = at; index < at + taken; ++index) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(bytes[index]));
                shown += escaped;
            }
        } else {
            shown.append(bytes, at, length);
        }
        at += taken;
    }
    return shown;
}

std::string quoteJson(const std::string& text) {
    std::string quoted = "\"";
    for (const char character : text) {
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (static_cast<unsigned char>(character) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", character);
            quoted += escaped;
        } else {
            quoted += character;
        }
    }
    return quoted + "\"";
}
