#!/bin/bash
# Loads the tools' bash completion in bash and checks what it offers for each tool, as a user's Tab would.
# SPDX-License-Identifier: MIT
# Usage: completion_check.sh BUILD-DIRECTORY
# In a folder of streams, WAV files and a subfolder, with the built tools
# first on PATH and ALSA's file plugin as an output, so that dspfeed-play's
# own --list names one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH=$(realpath "$1"):$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export HOME=$work XDG_RUNTIME_DIR=$work PULSE_SERVER=unix:$work/no-server
printf 'pcm.tofile {\n    type file\n    slave.pcm "null"\n    file "%s/alsa.raw"\n}\n' "$work" >.asoundrc
mkdir -p streams/sub
cd streams
touch a.txt b.txt song.wav notes.md
source "$root/completions/dspfeed-tools.bash"

# offers LINE: what Tab offers at the end of LINE, sorted, one space apart.
offers() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _dspfeed_tools
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

checked=0
while IFS='|' read -r line expected; do
    found=$(offers "$line")
    [ "$found" = "$expected" ] || { echo "FAIL '$line<Tab>' offers '$found', not '$expected'" >&2; exit 1; }
    checked=$((checked + 1))
done <<'CASES'
dspfeed-play --v|--version --via
dspfeed-play --via |alsa oss pulse wav
dspfeed-play --via a|alsa
dspfeed-play --via alsa -d to|tofile
dspfeed-play --via pulse -d to|
dspfeed-play -d to|tofile
dspfeed-play |a.txt b.txt sub
dspfeed-play a.txt -- -|
dspfeed-check --|-- --help --json --version
dspfeed-check |a.txt b.txt sub
dspfeed2wav |a.txt b.txt sub
dspfeed2wav a.txt |song.wav sub
wav2dspfeed |a.txt b.txt notes.md song.wav sub
wav2dspfeed song.wav |a.txt b.txt sub
CASES
echo "ok the bash completion of all four tools: $checked lines, each offering what it should"
