// How the tools word a count in their messages and reports.
// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// "1 frame", "2 frames": the number and the thing, plural but for one.
inline std::string countOf(std::int64_t number, const std::string& thing) {
    return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}
