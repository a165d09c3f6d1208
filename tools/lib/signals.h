// The tools' signals: SIGINT, SIGTERM and SIGHUP end every child, the unfinished file, and then the tool.
// SPDX-License-Identifier: MIT
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

// From now on SIGINT, SIGTERM and SIGHUP pass to every child still running,
// remove the file named by removeOnSignal, and then end the tool by the same
// signal, which a shell reports as 130, 143 and 129. One the tool was started
// ignoring stays ignored, in the tool and in its children. SIGPIPE is
// ignored, so that a reader that went away is a failed write.
void stopOnSignals();
// SIGINT, SIGTERM and SIGHUP, as a set to block or to wait for.
sigset_t makeStoppingSignals();

// Whether the tool was started ignoring SIGPIPE: its children are then too,
// and otherwise start with it at its default.
bool wasPipeIgnoredAtStart();
// The unfinished file a signal removes; empty for none.
void removeOnSignal(const std::string& path);
// Whether a line on standard error is unfinished (a progress line), which a
// signal ends first.
void endLineOnSignal(bool open);

// The children a signal passes to: each one started, until it is waited for.
void watchChild(pid_t child);
void forgetChild(pid_t child);
