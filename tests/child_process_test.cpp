// The tools' children: the status a shell would see, and what a signal to the tool does to them and its file.
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "signals.h"
#include "spawning.h"

namespace {

struct StatusCase {
    const char* name;
    const char* script;  // run by sh
    int status;
};

const StatusCase statusCases[] = {
    {"ExitStatusKept", "exit 3", 3},
    {"KilledIsNeverSuccess", "kill -TERM $$", 143},
    // The environment as it was handed over, before the shell tidies it.
    {"SettingReplacesTheTools",
     "[ \"$(tr '\\0' '\\n' </proc/$$/environ | grep ^DSPFEED_BRIDGE_FORMAT=)\" = DSPFEED_BRIDGE_FORMAT=wav ]", 0},
    // The tool ignores SIGPIPE; a child must die of it, as the player does
    // when what reads its sound goes away. (SIGPIPE is bit 13 of the mask.)
    {"SigpipeIsNotIgnored", "[ $((0x$(awk '$1 == \"SigIgn:\" { print $2 }' /proc/$$/status) & 0x1000)) = 0 ]", 0},
};

void PrintTo(const StatusCase& row, std::ostream* out) {
    *out << row.name;
}

class ChildStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(ChildStatusTest, ReadsAsAShellWould) {
    setenv("DSPFEED_BRIDGE_FORMAT", "server", 1);
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child =
        startProcess({"sh", "-c", GetParam().script}, {"DSPFEED_BRIDGE_FORMAT=wav", "DSPFEED_BRIDGE_METER=1"});
    ASSERT_GT(child, 0);
    EXPECT_EQ(waitForProcess(child), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Children, ChildStatusTest, testing::ValuesIn(statusCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChildStart, MissingProgramSaysWhy) {
    EXPECT_EQ(startProcess({"/nonexistent/program"}, {}), -1);
    EXPECT_EQ(errno, ENOENT);
}

struct SignalCase {
    const char* name;
    const char* child;  // run by sh; says what it did into the file named by $1
    const char* said;   // what the child wrote, if anything
    double mostSeconds;
};

// The child is told the same signal and may end cleanly; one that ignores it
// is killed, so that nothing outlives the tool.
const SignalCase signalCases[] = {
    {"ChildEndsCleanlyByTheSameSignal", "trap 'echo stopped >$1; exit 0' TERM; echo >$1; while :; do sleep 0.01; done",
     "stopped\n", 0.3},
    {"ChildThatIgnoresItIsKilled", "trap '' TERM; echo >$1; while :; do sleep 0.01; done", "\n", 2.0},
};

void PrintTo(const SignalCase& row, std::ostream* out) {
    *out << row.name;
}

class ToolSignalTest : public testing::TestWithParam<SignalCase> {};

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A tool (a forked copy of this test) with a child and an unfinished file
// gets SIGTERM: its child is told, the file goes, and it dies by SIGTERM.
TEST_P(ToolSignalTest, StopsEverythingAndDiesByTheSignal) {
    char folder[] = "/tmp/dspfeed-children-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string said = std::string(folder) + "/said";
    const std::string unfinished = std::string(folder) + "/unfinished";
    std::ofstream(unfinished) << "part";
    const pid_t tool = fork();
    if (tool == 0) {
        stopOnSignals();
        removeOnSignal(unfinished);
        const pid_t child =
            startProcess({"sh", "-c", std::string("echo $$ >$1.pid; ") + GetParam().child, "sh", said}, {});
        waitForProcess(child);
        _exit(0);
    }
    // A child that never starts fails here in seconds, not at ctest's limit.
    for (int tries = 0; readFile(said).empty(); ++tries) {
        if (tries == 500) {
            kill(tool, SIGKILL);
            waitpid(tool, nullptr, 0);
            std::filesystem::remove_all(folder);
            FAIL() << "the child said nothing in 5 s";
        }
        usleep(10'000);
    }
    const auto start = std::chrono::steady_clock::now();
    kill(tool, SIGTERM);
    // A tool that hangs fails here rather than hanging the suite.
    int status = 0;
    for (int tries = 0; waitpid(tool, &status, WNOHANG) == 0; ++tries) {
        if (tries == 500) {
            kill(tool, SIGKILL);
        }
        usleep(10'000);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    EXPECT_LT(took.count(), GetParam().mostSeconds);
    EXPECT_EQ(readFile(said), GetParam().said);
    EXPECT_NE(access(unfinished.c_str(), F_OK), 0) << "the unfinished file was left";
    // Nothing the tool started outlives it.
    const pid_t child = std::stoi(readFile(said + ".pid"));
    EXPECT_NE(kill(child, 0), 0) << "the child is still running";
    kill(child, SIGKILL);
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Signals, ToolSignalTest, testing::ValuesIn(signalCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
