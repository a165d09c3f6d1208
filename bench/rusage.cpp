// Runs a command and appends its CPU seconds (user + system, to the microsecond) and peak resident KiB to a file.
// SPDX-License-Identifier: MIT
// Usage: rusage OUTPUT COMMAND [ARGUMENT...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    std::FILE* output = std::fopen(argv[1], "a");
    if (output == nullptr) {
        return 2;
    }
    std::fprintf(output, "%.6f %ld\n", seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss);
    std::fclose(output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
