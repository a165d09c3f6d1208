// Starts the tools' children with posix_spawn, and waits for them as a shell does.
// SPDX-License-Identifier: MIT
#include "spawning.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "signals.h"

std::vector<std::string> makeEnvironment(const std::vector<std::string>& settings,
                                         const std::vector<std::string>& dropped) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const std::size_t nameLength = equals != nullptr ? static_cast<std::size_t>(equals - *entry) + 1 : 0;
        bool omitted = false;
        for (const std::string& setting : settings) {
            omitted = omitted || setting.compare(0, nameLength, *entry, nameLength) == 0;
        }
        for (const std::string& prefix : dropped) {
            omitted = omitted || std::strncmp(*entry, prefix.c_str(), prefix.size()) == 0;
        }
        if (!omitted) {
            environment.emplace_back(*entry);
        }
    }
    environment.insert(environment.end(), settings.begin(), settings.end());
    return environment;
}

std::vector<char*> pointToEach(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

pid_t startProcess(std::vector<std::string> arguments, const std::vector<std::string>& settings, int input, int output,
                   int error) {
    std::vector<std::string> environment = makeEnvironment(settings);
    const std::vector<char*> argv = pointToEach(arguments);
    const std::vector<char*> envp = pointToEach(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    }
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    }
    if (error >= 0) {
        posix_spawn_file_actions_adddup2(&actions, error, 2);
    }
    // The child has its three and nothing else of the tool's: a library the
    // tool uses may hold a descriptor open across exec, such as the pipe to
    // the command ALSA's file plugin writes to, whose reader would then wait
    // for the child as well as for the tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The tool ignores SIGPIPE to see failed writes; its children do not,
    // unless the tool was started ignoring it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!wasPipeIgnoredAtStart()) {
        sigaddset(&defaults, SIGPIPE);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // The signals that stop the tool wait from before the spawn until the
    // child is watched: one that came in between would end the tool and
    // leave the child playing. The child starts with the tool's own mask.
    const sigset_t stopping = makeStoppingSignals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopping, &previous);
    posix_spawnattr_setsigmask(&attributes, &previous);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t child = -1;
    const int failure = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failure == 0) {
        watchChild(child);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    return child;
}

int waitForProcess(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    forgetChild(child);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
