#!/bin/sh
# Plays short streams through the real alsa-oss emulation into a file and checks every byte.
# SPDX-License-Identifier: MIT
# Usage: alsa_oss_round_trip.sh PATH-TO-DSPFEED
set -eu
player=$1
aoss_library=$(ls /usr/lib/*/libaoss.so.0 2>/dev/null | head -n 1)
# Debian 13 has no alsa-oss: the case is skipped there, and says why.
[ -n "$aoss_library" ] || { echo "skipped: libaoss not found: alsa-oss is not installed (Debian 13 has none)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ALSA reads ~/.asoundrc; this one sends the default device's data, raw, to a
# file behind a null device, so no sound card is needed.
cat >"$work/.asoundrc" <<CONFIG
pcm.!default {
    type file
    slave.pcm "null"
    file "$work/device.raw"
    format "raw"
}
CONFIG

# play NAME STREAM EXPECTED-HEX: plays STREAM and compares what reached ALSA.
play() {
    rm -f "$work/device.raw"
    printf '%b' "$2" >"$work/input"
    status=0
    HOME=$work LD_PRELOAD=$aoss_library "$player" <"$work/input" 2>"$work/err" || status=$?
    arrived=$(od -An -v -tx1 "$work/device.raw" 2>/dev/null | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
    if [ "$arrived" != "$3" ] || [ -s "$work/err" ] || [ "$status" -ne 0 ]; then
        echo "FAIL $1: status $status, expected bytes '$3', got '$arrived'" >&2
        cat "$work/err" >&2
        exit 1
    fi
    echo "ok $1: $arrived"
}

play "16-bit stereo" \
    'SAMPLES: 3\nBITSPERSAMPLE: 16\nCHANNELS: 2\nSAMPLERATE: 8000\nNORMALIZED: FALSE\n1 -2\n32767 -32768\n256 -256\n' \
    '01 00 fe ff ff 7f 00 80 00 01 00 ff'
play "8-bit stereo" \
    'SAMPLES: 3\nBITSPERSAMPLE: 8\nCHANNELS: 2\nSAMPLERATE: 8000\nNORMALIZED: FALSE\n0 255\n128 127\n1 254' \
    '00 ff 80 7f 01 fe'
