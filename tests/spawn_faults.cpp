// A posix_spawnp that raises a signal in the tool just before it returns, preloaded into a tool: the gap between
// starting a child and watching it, tested without timing. SPDX-License-Identifier: MIT
//   SPAWN_FAULT_SIGNAL  the number of the signal raised after each spawn
//   SPAWN_FAULT_PIDS    a file each child's process id is appended to
#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>

#include <cstdio>
#include <cstdlib>

extern "C" int posix_spawnp(pid_t* child, const char* file, const posix_spawn_file_actions_t* actions,
                            const posix_spawnattr_t* attributes, char* const arguments[], char* const environment[]) {
    using Spawn = int(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*, char* const*,
                      char* const*);
    static auto* real = reinterpret_cast<Spawn*>(dlsym(RTLD_NEXT, "posix_spawnp"));
    const int result = real(child, file, actions, attributes, arguments, environment);
    if (const char* pids = std::getenv("SPAWN_FAULT_PIDS"); result == 0 && pids != nullptr) {
        if (std::FILE* file = std::fopen(pids, "a")) {
            std::fprintf(file, "%d\n", static_cast<int>(*child));
            std::fclose(file);
        }
    }
    if (const char* signal = std::getenv("SPAWN_FAULT_SIGNAL")) {
        raise(std::atoi(signal));
    }
    return result;
}
