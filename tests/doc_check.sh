#!/bin/bash
# Runs every command the README and the man pages show, where this machine can, and compares what it prints and makes with what they say.
# SPDX-License-Identifier: MIT
# Usage: doc_check.sh BUILD-DIRECTORY FAKE-DSP-LIBRARY
# A command is taken from the README's sh blocks and from its sessions (a
# "$ " line and the output under it), and from the man pages' examples. Each
# runs in a folder of its own, with no sound server and no /dev/dsp but the
# fake driver's where the bare player needs one. A command this machine
# cannot run is named below with the check that plays it instead; a command
# no case here knows fails the check, so that none goes unchecked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
fake_driver=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL $*" >&2
    exit 1
}
export PATH=$build:$PATH HOME=$work XDG_RUNTIME_DIR=$work PULSE_SERVER=unix:$work/no-server

# commandsOf FILE: each command a document shows, as "COMMAND" lines, each
# session's output after it as "> LINE" lines.
commandsOf() {
    case $1 in
        *.md) awk '/^```/ { if (inside) { inside = 0; session = 0 } else { inside = 1; kind = substr($0, 4) }; next }
                inside && kind == "sh" { print; next }
                inside && /^\$ / { print substr($0, 3); session = 1; next }
                inside && session { print "> " $0 }' "$1" ;;
        *.1) awk '/^\.SH / { examples = /^\.SH EXAMPLES/ }
                /^\.EX/ { inside = 1; next } /^\.EE/ { inside = 0; session = 0; next }
                inside && examples {
                    gsub(/\\-/, "-"); gsub(/\\&/, ""); gsub(/\\\(aq/, "\047"); gsub(/\\\(dq/, "\"")
                    if (/^\$ /) { print substr($0, 3); session = 1 } else if (session) { print "> " $0 } else { print } }' "$1" ;;
    esac
}

# The values a stream holds, one a line, and its header's field.
valuesOf() { tail -n +6 "$1" | tr -s ' \r\n' '\n\n\n'; }
fieldOf() { awk -v key="$2:" '$1 == key { print $2; exit }' "$1"; }

# checkRun DOCUMENT COMMAND EXPECTED: runs it in a folder of its own with the
# documents' stand-ins; what it prints must be what the document shows under
# it, a WAV file it makes must hold the stream's values, and the bare player
# must write every frame to the fake driver.
checkRun() {
    local document=$1 command=$2 expected=$3 folder status=0 stream=
    folder=$(mktemp -d "$work/run.XXXXXX")
    (
        cd "$folder"
        ln -s "$root/examples" examples
        ln -s "$build" build
        # The documents' stand-ins: a stored stream, a program that computes
        # one, and a stream that breaks.
        cp "$root/examples/arpeggio-8k-u8-mono.txt" tune.txt
        cp "$root/examples/tone.sh" synth
        cp "$root/examples/broken/take2.txt" take2.txt
        # The bare player plays on the fake driver; the tools find none.
        if [[ $command =~ (^|\| )dspfeed( |$) ]]; then
            export LD_PRELOAD=$fake_driver FAKE_DSP_LOG=$folder/device.log
        fi
        bash -c "$command" >printed 2>said
    ) || status=$?
    [ "$expected" = "$(cat "$folder/printed")" ] ||
        fail "$document: $command: printed '$(cat "$folder/printed")', the document shows '$expected'"
    # A report that shows an error or a warning ends with status 1.
    local want=0
    [[ $expected =~ (error|warning)[:\"] ]] && want=1
    [ "$status" = "$want" ] || fail "$document: $command: status $status, said $(cat "$folder/said")"
    # The stream it plays: what the command before its pipe writes, or the
    # .txt file it names.
    if [[ $command =~ ^(.*)\ \|\  ]]; then
        (cd "$folder" && bash -c "${BASH_REMATCH[1]}" >stream.played)
        stream=$folder/stream.played
    elif [[ $command =~ ([A-Za-z0-9_./-]+\.txt) ]]; then
        stream=$folder/${BASH_REMATCH[1]}
    fi
    local made
    for made in "$folder"/*.wav; do
        [ -e "$made" ] || continue
        local type=d2
        [ "$(fieldOf "$stream" BITSPERSAMPLE)" = 8 ] && type=u1
        cmp -s <(valuesOf "$stream") <(sox "$made" -t raw - | od -An -v -t$type --endian=little -w"${type#?}" | tr -d ' ') ||
            fail "$document: $command: $(basename "$made") does not hold the stream's values"
        echo "ok $document: $command: $(basename "$made"), every value of the stream"
        return
    done
    if [ -e "$folder/device.log" ]; then
        [ "$(grep -c '^write' "$folder/device.log")" = "$(fieldOf "$stream" SAMPLES)" ] ||
            fail "$document: $command: $(grep -c '^write' "$folder/device.log") frames written of $(fieldOf "$stream" SAMPLES)"
        echo "ok $document: $command: every frame written to /dev/dsp"
        return
    fi
    echo "ok $document: $command: printed what the document shows"
}

checked=0
for document in "$root/README.md" "$root"/doc/*.1; do
    name=${document#"$root/"}
    commands=$(commandsOf "$document")
    while IFS= read -r command; do
        [ -n "$command" ] || continue
        [[ $command == "> "* ]] && continue
        # What the document shows the command print: the "> " lines after it.
        expected=$(printf '%s\n' "$commands" | awk -v command="$command" '
            found && /^> / { print substr($0, 3); next } found { exit } $0 == command { found = 1 }')
        case $command in
            "apt-get update && "* | "tests/install-test-packages && "* | "apt-get install -y g++ "*)
                echo "elsewhere $name: $command: .ci/run runs it word for word on Debian 12 and 13" ;;
            "LD_PRELOAD=/usr/lib/x86_64-linux-gnu/pulseaudio/libpulsedsp.so dspfeed < tune.txt")
                echo "elsewhere $name: $command: needs a PulseAudio server; sound_servers plays it" ;;
            "aoss dspfeed < tune.txt")
                echo "elsewhere $name: $command: needs alsa-oss; alsa_oss_round_trip plays it" ;;
            "dspfeed-play intro.txt - outro.txt" | "dspfeed-play -l")
                echo "elsewhere $name: $command: needs a sound server; sound_servers plays and lists alike" ;;
            "dspfeed-play -d hw:1 tune.txt")
                echo "elsewhere $name: $command: needs a sound card; tools_check plays -d on ALSA's file plugin" ;;
            *) checkRun "$name" "$command" "$expected" ;;
        esac
        checked=$((checked + 1))
    done <<<"$commands"
done
[ "$checked" -ge 10 ] || fail "only $checked commands found in the documents"
echo "ok all $checked commands of the README and the man pages"
