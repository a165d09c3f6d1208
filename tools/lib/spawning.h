// The tools' children: starting a program, finding one on PATH, and waiting for one as a shell does.
// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts a program, looked up on PATH, with the given standard input, output
// and error (-1 keeps the tool's own) and settings added to the environment.
// A signal to the tool passes to it (signals.h). Returns its process id, or
// -1 with errno set when it cannot be started.
pid_t startProcess(std::vector<std::string> arguments, const std::vector<std::string>& settings, int input = -1,
                   int output = -1, int error = -1);

// The tool's own environment, less the entries that begin with one of
// `dropped`, with `settings` in place of those of the same name.
std::vector<std::string> makeEnvironment(const std::vector<std::string>& settings,
                                         const std::vector<std::string>& dropped = {});

// The strings as the null-terminated array of pointers that exec takes.
std::vector<char*> pointToEach(std::vector<std::string>& strings);

// Waits for a child and gives its status as a shell does: the exit status, or
// 128 and the signal that ended it.
int waitForProcess(pid_t child);
