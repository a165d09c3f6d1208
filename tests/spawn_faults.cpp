// A posix_spawnp, preloaded into a tool, that tells what it starts and can raise a signal just before it returns: the
// gap between starting a child and watching it, tested without timing. SPDX-License-Identifier: MIT
//   SPAWN_FAULT_SIGNAL    the number of the signal raised after each spawn
//   SPAWN_FAULT_PIDS      a file each child's process id is appended to
//   SPAWN_FAULT_PROGRAMS  a file each child's program is appended to
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
    const auto tell = [result](const char* variable, const char* format, auto value) {
        if (const char* path = std::getenv(variable); result == 0 && path != nullptr) {
            if (std::FILE* told = std::fopen(path, "a")) {
                std::fprintf(told, format, value);
                std::fclose(told);
            }
        }
    };
    tell("SPAWN_FAULT_PIDS", "%d\n", static_cast<int>(*child));
    tell("SPAWN_FAULT_PROGRAMS", "%s\n", file);
    if (const char* signal = std::getenv("SPAWN_FAULT_SIGNAL")) {
        raise(std::atoi(signal));
    }
    return result;
}
