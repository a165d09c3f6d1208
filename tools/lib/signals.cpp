// Ends the tools' children, the unfinished file and then the tool itself on SIGINT, SIGTERM and SIGHUP.
// SPDX-License-Identifier: MIT
#include "signals.h"

#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

constexpr int stoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the signal handler needs, where it can read it safely.
constexpr int mostChildren = 8;
volatile pid_t children[mostChildren];
char unfinishedFile[PATH_MAX];
volatile sig_atomic_t lineOpen = 0;

bool isIgnored(int signal) noexcept {
    struct sigaction current = {};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Read before main, before the tool changes anything: what the tool was
// started with ignoring (nohup ignores SIGHUP, a script's background job
// SIGINT) stays ignored, in the tool and in what it starts.
const bool pipeIgnoredAtStart = isIgnored(SIGPIPE);

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

}  // namespace

sigset_t makeStoppingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : stoppingSignals) {
        sigaddset(&signals, signal);
    }
    return signals;
}

void stopOnSignals() {
    struct sigaction action = {};
    action.sa_handler = stopEverything;
    action.sa_mask = makeStoppingSignals();
    for (const int signal : stoppingSignals) {
        if (!isIgnored(signal)) {
            sigaction(signal, &action, nullptr);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool wasPipeIgnoredAtStart() {
    return pipeIgnoredAtStart;
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

void watchChild(pid_t child) {
    for (volatile pid_t& slot : children) {
        if (slot == 0) {
            slot = child;
            return;
        }
    }
}

void forgetChild(pid_t child) {
    for (volatile pid_t& slot : children) {
        if (slot == child) {
            slot = 0;
        }
    }
}
