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
        return failReading("dspfeed2wav", nameInput(names[0]), std::strerror(errno));
    }
    OutputFile output;
    if (const std::string error = openOutput(names[1], &inputStatus, output); !error.empty()) {
        return failWriting("dspfeed2wav", output.name, error);
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
    std::vector<Option> none;
    if (const std::string problem = readArguments(argc, argv, none, names, 2); !problem.empty()) {
        return failUsage(usage, problem);
    }
    if (names.size() != 2) {
        return failUsage(usage, names.empty() ? "a stream and an output are needed" : "an output is needed");
    }
    return runGuarded("dspfeed2wav", exitPlayerFailed, [&names] { return render(names); });
}
