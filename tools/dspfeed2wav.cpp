// dspfeed2wav: renders a text sample stream into a WAV file holding exactly the bytes the player sends.
// SPDX-License-Identifier: MIT
// Usage: dspfeed2wav [--] STREAM.txt|- OUTPUT.wav|-
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "output_file.h"
#include "wav_rendering.h"

namespace {

int usage() {
    std::fputs("usage: dspfeed2wav STREAM.txt OUTPUT.wav\n", stderr);
    return exitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names(argv + 1, argv + argc);
    if (!names.empty() && names[0] == "--") {
        names.erase(names.begin());
    } else {
        for (const std::string& name : names) {
            if (name.size() > 1 && name[0] == '-') {
                return usage();
            }
        }
    }
    if (names.size() != 2) {
        return usage();
    }
    stopOnSignals();
    const std::string& streamName = names[0];
    const int input = streamName == "-" ? 0 : open(streamName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat inputStatus {};
    if (input < 0 || fstat(input, &inputStatus) != 0 || S_ISDIR(inputStatus.st_mode)) {
        const int error = input < 0 ? errno : EISDIR;
        std::fprintf(stderr, "dspfeed2wav: cannot read %s: %s\n", streamName.c_str(), std::strerror(error));
        return exitUsage;
    }
    OutputFile output;
    if (const std::string error = openOutput(names[1], &inputStatus, output); !error.empty()) {
        std::fprintf(stderr, "dspfeed2wav: cannot write %s: %s\n", names[1].c_str(), error.c_str());
        discardOutput(output);
        return exitUsage;
    }
    ToolParts parts;
    if (!findToolParts("dspfeed2wav", parts)) {
        discardOutput(output);
        return exitPlayerFailed;
    }
    return renderWav("dspfeed2wav", parts, input, output);
}
