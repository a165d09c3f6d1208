// Starts dspfeed in a child process with its streams on files and collects them.
// SPDX-License-Identifier: MIT
#include "player_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "player_launch.h"
#include "spawning.h"

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The test's own environment without anything that would script or preload
// the driver, plus what this run asks for.
std::vector<std::string> childEnvironment(const PlayerSetup& setup, const std::filesystem::path& directory) {
    std::vector<std::string> settings;
#ifdef DSPFEED_SANITIZED
    // The fake driver is preloaded ahead of the sanitizer runtime. Reports go
    // to files, read back after the run, so that they never mix with the
    // player's messages. A memory limit is the allocator's own, as a sanitized
    // process cannot start under an address space limit.
    std::string sanitizerOptions = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:allocator_may_return_null=1";
    sanitizerOptions += ":log_path=" + (directory / "sanitizer").string();
    if (setup.memoryLimit != RLIM_INFINITY) {
        sanitizerOptions += ":max_allocation_size_mb=" + std::to_string(setup.memoryLimit >> 20);
    }
    settings.push_back(sanitizerOptions);
#endif
    if (setup.bridge) {
        const std::vector<std::string> launch = makeLaunchSettings(DSPFEED_BRIDGE_LIBRARY, setup.bridge);
        settings.insert(settings.end(), launch.begin(), launch.end());
    } else if (setup.fakeDevice) {
        const std::vector<std::string> launch = makeLaunchSettings(FAKE_DSP_LIBRARY);
        settings.insert(settings.end(), launch.begin(), launch.end());
        settings.push_back("FAKE_DSP_LOG=" + (directory / "log").string());
        settings.insert(settings.end(), setup.driver.begin(), setup.driver.end());
    }
    std::vector<std::string> dropped = listLaunchPrefixes();
    dropped.insert(dropped.end(), {"FAKE_DSP_", "ASAN_OPTIONS="});
    return makeEnvironment(settings, dropped);
}

}  // namespace

PlayerRun runPlayer(const std::string& input, const PlayerSetup& setup) {
    char pattern[] = "/tmp/dspfeed-test-XXXXXX";
    const std::filesystem::path directory = mkdtemp(pattern);
    const auto inputPath = directory / "input";
    const auto outPath = directory / "out";
    const auto errPath = directory / "err";
    const auto logPath = directory / "log";
    std::ofstream(inputPath, std::ios::binary) << input;

    std::vector<std::string> arguments{setup.program.empty() ? DSPFEED_BINARY : setup.program};
    arguments.insert(arguments.end(), setup.arguments.begin(), setup.arguments.end());
    std::vector<std::string> environment = childEnvironment(setup, directory);
    std::vector<char*> argv = pointToEach(arguments);
    std::vector<char*> envp = pointToEach(environment);

    const pid_t child = fork();
    if (child == 0) {
        dup2(open(setup.inputIsFolder ? directory.c_str() : inputPath.c_str(), O_RDONLY), 0);
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (setup.inOwnFolder && chdir(directory.c_str()) != 0) {
            _exit(126);
        }
        for (const int descriptor : setup.closedDescriptors) {
            close(descriptor);
        }
#ifndef DSPFEED_SANITIZED
        const rlimit limit{setup.memoryLimit, setup.memoryLimit};
        setrlimit(RLIMIT_AS, &limit);
#endif
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // A run that hangs is killed after a minute, and fails its case.
    int wait = 0;
    constexpr int mostWaits = 60'000;
    int waits = 0;
    while (waitpid(child, &wait, WNOHANG) == 0) {
        if (++waits == mostWaits) {
            kill(child, SIGKILL);
        }
        usleep(1000);
    }

    PlayerRun run;
    run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    run.log = readFile(logPath);
    // A sanitizer's error report fails the case; its warnings, such as an
    // allocation it could not make, do not.
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string report = readFile(entry.path());
        if (entry.path().filename().string().rfind("sanitizer", 0) == 0 && report.find("ERROR") != std::string::npos) {
            run.err += report;
        }
        if (entry.path().extension() == ".wav") {
            run.made = report;
        }
    }
    std::filesystem::remove_all(directory);
    return run;
}
