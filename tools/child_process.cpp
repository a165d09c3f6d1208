// Starts the tools' children with posix_spawn and ends them, and the tool, on SIGINT, SIGTERM and SIGHUP.
// SPDX-License-Identifier: MIT
#include "child_process.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the signal handler needs, where it can read it safely.
constexpr int mostChildren = 8;
volatile pid_t children[mostChildren];
char unfinishedFile[PATH_MAX];
volatile sig_atomic_t lineOpen = 0;

// Whether a child has yet to end; one that has ended is reaped.
bool isRunning(pid_t child) {
    return child > 0 && waitpid(child, nullptr, WNOHANG) == 0;
}

// Ends the tool by the signal itself, as shells expect of a program that
// stops on one: a shell loop stops at Ctrl-C only when its command did.
[[noreturn]] void dieBy(int signal) {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, signal);
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    _exit(128 + signal);
}

// Passes the signal on and waits for the children to end, so that none is
// left behind: up to 0.4 s, after which those still running are killed.
void stopEverything(int signal) {
    if (lineOpen != 0) {
        (void)write(2, "\n", 1);  // the shell's prompt goes on a line of its own
    }
    for (const volatile pid_t& child : children) {
        if (child > 0) {
            kill(child, signal);
        }
    }
    if (unfinishedFile[0] != '\0') {
        unlink(unfinishedFile);
    }
    constexpr timespec pause{0, 10'000'000};
    constexpr int pauses = 40;  // 0.4 s in all
    for (int tries = 0; tries < pauses; ++tries) {
        bool anyRunning = false;
        for (const volatile pid_t& child : children) {
            anyRunning = isRunning(child) || anyRunning;
        }
        if (!anyRunning) {
            dieBy(signal);
        }
        nanosleep(&pause, nullptr);
    }
    for (const volatile pid_t& child : children) {
        if (isRunning(child)) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    dieBy(signal);
}

bool isFile(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

std::string directoryOfThisProgram() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/'));
}

std::string choosePart(const char* variable, const std::string& beside, const char* installed) {
    const char* chosen = std::getenv(variable);
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    return isFile(beside) ? beside : installed;
}

}  // namespace

bool findToolParts(const char* tool, ToolParts& parts) {
    const std::string here = directoryOfThisProgram();
    parts.player = choosePart("DSPFEED", here + "/dspfeed", DSPFEED_INSTALLED_PLAYER);
    parts.bridge = choosePart("DSPFEED_BRIDGE_LIBRARY", here + "/libdspfeed-bridge.so", DSPFEED_INSTALLED_BRIDGE);
    // LD_PRELOAD takes a path only when it has a slash.
    if (parts.bridge.find('/') == std::string::npos) {
        parts.bridge = "./" + parts.bridge;
    }
    const std::array<const std::string*, 2> both = {&parts.player, &parts.bridge};
    const auto* const missing = std::ranges::find_if(both, [](const std::string* part) { return !isFile(*part); });
    if (missing != both.end()) {
        std::fprintf(stderr, "%s: %s is missing: build the project (cmake --build build) or install it\n", tool,
                     (*missing)->c_str());
        return false;
    }
    return true;
}

pid_t startProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& settings, int input,
                   int output, int error) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const std::size_t nameLength = equals != nullptr ? static_cast<std::size_t>(equals - *entry) + 1 : 0;
        bool replaced = false;
        for (const std::string& setting : settings) {
            replaced = replaced || setting.compare(0, nameLength, *entry, nameLength) == 0;
        }
        if (!replaced) {
            environment.emplace_back(*entry);
        }
    }
    environment.insert(environment.end(), settings.begin(), settings.end());
    std::vector<char*> argv;
    std::vector<char*> envp;
    argv.reserve(arguments.size() + 1);
    envp.reserve(environment.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);

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
    // The tool ignores SIGPIPE to see failed writes; its children do not.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    const int failure = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    for (volatile pid_t& slot : children) {
        if (slot == 0) {
            slot = child;
            break;
        }
    }
    return child;
}

bool isOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= directories.size();) {
        std::size_t end = directories.find(':', start);
        end = end == std::string::npos ? directories.size() : end;
        const std::string directory = (end == start ? "." : directories.substr(start, end - start)) + "/";
        if (access((directory + program).c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

int waitForProcess(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    for (volatile pid_t& slot : children) {
        if (slot == child) {
            slot = 0;
        }
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

void stopOnSignals() {
    struct sigaction action = {};
    action.sa_handler = stopEverything;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void endLineOnSignal(bool open) {
    lineOpen = open ? 1 : 0;
}

void removeOnSignal(const std::string& path) {
    // The first byte goes last, so that a signal meanwhile finds no name or
    // the whole of it, never part of one.
    unfinishedFile[0] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!path.empty() && path.size() < sizeof unfinishedFile) {
        std::memcpy(unfinishedFile + 1, path.c_str() + 1, path.size());
        std::atomic_signal_fence(std::memory_order_seq_cst);
        unfinishedFile[0] = path[0];
    }
}
