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

#include "command_line.h"
#include "install_paths.h"
#include "signals.h"
#include "tool_files.h"
#include "wav_rendering.h"

namespace {

int render(const std::vector<std::string>& names) {
    stopOnSignals();
    struct stat inputStatus = {};
    const int input = openInput(names[0], inputStatus);
    if (input < 0) {
        std::fprintf(stderr, "dspfeed2wav: cannot read %s: %s\n", names[0].c_str(), std::strerror(errno));
        return exitUsage;
    }
    OutputFile output;
    if (const std::string error = openOutput(names[1], &inputStatus, output); !error.empty()) {
        std::fprintf(stderr, "dspfeed2wav: cannot write %s: %s\n", output.name.c_str(), error.c_str());
        return exitUsage;
    }
    ToolParts parts;
    if (!findToolParts("dspfeed2wav", parts)) {
        return exitPlayerFailed;
    }
    return renderWav("dspfeed2wav", parts, input, output);
}

}  // namespace

int main(int argc, char** argv) {
    static const char usage[] = "usage: dspfeed2wav [--] STREAM.txt|- OUTPUT.wav|-\n";
    std::vector<std::string> names;
    if (int status = 0; answerHelpOrVersion(argc, argv, usage,
                                            "Renders a text sample stream into a WAV file of exactly the bytes the "
                                            "player sends.",
                                            status)) {
        return status;
    }
    if (!readNames(argc, argv, names) || names.size() != 2) {
        std::fputs(usage, stderr);
        return exitUsage;
    }
    return runGuarded("dspfeed2wav", exitPlayerFailed, [&names] { return render(names); });
}
