// The player's contract and the tools' statuses against the man pages: each message there, and exactly the statuses a
// program ends with. SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "player_contract.h"
#include "text_input.h"
#include "tool_statuses.h"

namespace {

// A man page's text with roff's escapes for the characters the messages use.
std::string readManPage(const std::string& program) {
    std::ifstream file(std::string(DSPFEED_SOURCE_DIR) + "/doc/" + program + ".1");
    std::stringstream roff;
    roff << file.rdbuf();
    std::string text = roff.str();
    for (const auto& [escape, character] : {std::pair{"\\-", "-"}, std::pair{"\\(dq", "\""}}) {
        for (std::size_t at = text.find(escape); at != std::string::npos; at = text.find(escape, at)) {
            text.replace(at, std::string(escape).size(), character);
        }
    }
    return text;
}

// What the page must hold: each message the program prints or passes on,
// and under EXIT STATUS each status it ends with, as the shell sees it, and
// no other.
struct PageCase {
    const char* name;
    const char* program;
    std::vector<std::string> messages;
    std::set<int> statuses;
};

// Stopped by a signal, a tool ends by it.
const std::set<int> signalled = {exitBySignal + SIGINT, exitBySignal + SIGTERM, exitBySignal + SIGHUP};
std::set<int> join(std::set<int> statuses, const std::set<int>& more) {
    statuses.insert(more.begin(), more.end());
    return statuses;
}
const std::set<int> playerStatuses = {shellStatusOf(exitPlayed), shellStatusOf(exitRejected),
                                      shellStatusOf(exitDeviceFailed)};
const std::set<int> fileToolStatuses = {exitDone, exitUsage, exitCannotRead, exitCannotWrite, exitPlayerFailed};

const PageCase pageCases[] = {
    {"PlayerPage",
     "dspfeed",
     {describeMissingKey(headerKeys[0], false), describeMissingKey(flagKey, true), openFailedMessage,
      formatRefusedMessage, channelsRefusedMessage, rateRefusedMessage, noFrameBufferMessage, brokenInputMessage,
      writeFailedMessage},
     playerStatuses},
    {"PlayPage",
     "dspfeed-play",
     {openFailedMessage, writeFailedMessage},
     join(join(fileToolStatuses, playerStatuses), signalled)},
    {"ToWavPage", "dspfeed2wav", {}, join(join(fileToolStatuses, playerStatuses), signalled)},
    {"FromWavPage", "wav2dspfeed", {}, join(fileToolStatuses, signalled)},
    {"CheckPage", "dspfeed-check", {brokenInputMessage}, join(fileToolStatuses, {exitFindings})},
};

void PrintTo(const PageCase& row, std::ostream* out) {
    *out << row.name;
}

class ManPageTest : public testing::TestWithParam<PageCase> {};

TEST_P(ManPageTest, NamesEveryMessageAndStatus) {
    const std::string page = readManPage(GetParam().program);
    ASSERT_FALSE(page.empty());
    for (const std::string& message : GetParam().messages) {
        EXPECT_NE(page.find(message), std::string::npos) << message;
    }
    const std::size_t section = page.find(".SH EXIT STATUS");
    ASSERT_NE(section, std::string::npos);
    const std::string statuses = page.substr(section, page.find(".SH ", section + 1) - section);
    // Each entry is a line ".B N", or ".BR N ", " M ..." for several.
    std::set<int> listed;
    std::istringstream lines(statuses);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t numbers = line.find(' ') + 1;
        if ((line.rfind(".B ", 0) == 0 || line.rfind(".BR ", 0) == 0) &&
            line.find_first_not_of("0123456789\", ", numbers) == std::string::npos) {
            std::istringstream words(line.substr(numbers));
            for (std::string word; std::getline(words, word, '"');) {
                if (word.find_first_of("0123456789") != std::string::npos) {
                    listed.insert(std::stoi(word.substr(word.find_first_of("0123456789"))));
                }
            }
        }
    }
    EXPECT_EQ(listed, GetParam().statuses);
}

INSTANTIATE_TEST_SUITE_P(Contract, ManPageTest, testing::ValuesIn(pageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
