#!/bin/bash
# Checks the tools: WAV round trips, dspfeed-play's /dev/dsp and WAV paths, and failing downstreams.
# SPDX-License-Identifier: MIT
# Usage: tools_check.sh PATH-TO-DSPFEED PATH-TO-FAKE-DSP-LIBRARY PATH-TO-BRIDGE PATH-TO-WAV2DSPFEED
set -euo pipefail
export DSPFEED=$(realpath "$1") DSPFEED_BRIDGE_LIBRARY=$(realpath "$3")
fake_driver=$(realpath "$2")
wav2dspfeed=$(realpath "$4")
root=$(cd "$(dirname "$0")/.." && pwd)
tools=$(dirname "$DSPFEED")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# No sound server answers here, whatever the machine runs.
export XDG_RUNTIME_DIR=$work HOME=$work PULSE_SERVER=unix:$work/no-server

fail() {
    echo "FAIL $*" >&2
    exit 1
}

header() { awk -v key="$2:" '$1 == key { print $2; exit }' "$1"; }

# round_trip NAME RATE CHANNELS SYNTH-EFFECT...: WAV -> stream -> WAV keeps every sample.
round_trip() {
    local name=$1 rate=$2 channels=$3
    shift 3
    sox -n -r "$rate" -c "$channels" -b 16 "$name.wav" "$@"
    "$wav2dspfeed" "$name.wav" "$name.txt"
    "$tools/dspfeed2wav" "$name.txt" "$name-back.wav"
    cmp -s <(sox "$name.wav" -t raw -) <(sox "$name-back.wav" -t raw -) || fail "round trip $name: samples differ"
    [ "$(soxi -r "$name-back.wav") $(soxi -c "$name-back.wav")" = "$(soxi -r "$name.wav") $(soxi -c "$name.wav")" ] ||
        fail "round trip $name: rate or channels differ"
    echo "ok round trip $name: $(header "$name.txt" SAMPLES) frames, every sample kept"
}

round_trip stereo-44k 44100 2 synth 0.2 sine 440 sine 660
round_trip mono-8k 8000 1 synth 0.3 square 300 gain -3
round_trip three-channels-22k 22050 3 synth 0.1 whitenoise

for example in "$root"/examples/*.txt; do
    name=$(basename "$example" .txt)
    frames=$(header "$example" SAMPLES)

    # Where /dev/dsp answers (here the fake driver), the stream goes to it.
    LD_PRELOAD=$fake_driver FAKE_DSP_LOG=$work/$name.log "$tools/dspfeed-play" "$example" 2>"$name.said"
    grep -q "through /dev/dsp" "$name.said" || fail "dspfeed-play $name chose: $(cat "$name.said")"
    writes=$(grep -c '^write' "$work/$name.log")
    [ "$writes" -eq "$frames" ] || fail "dspfeed-play $name: $writes writes for $frames frames"
    echo "ok dspfeed-play $name through /dev/dsp: $writes frames written"

    # Rendered into a WAV file, every value of the stream is a sample of it.
    "$tools/dspfeed-play" --via wav "$example" 2>"$name.said"
    grep -q "wrote $name.wav" "$name.said" || fail "dspfeed-play --via wav $name said: $(cat "$name.said")"
    bits=$(header "$example" BITSPERSAMPLE) channels=$(header "$example" CHANNELS)
    od_type=d2
    [ "$bits" = 8 ] && od_type=u1
    cmp -s <(tail -n +6 "$example" | tr -s ' \r\n' '\n\n\n') \
        <(sox "$name.wav" -t raw - | od -An -v -t$od_type --endian=little -w$((bits / 8)) | tr -d ' ') ||
        fail "dspfeed-play --via wav $name: the samples differ from the stream's values"
    [ "$(soxi -s "$name.wav") $(soxi -r "$name.wav") $(soxi -c "$name.wav")" = \
        "$frames $(header "$example" SAMPLERATE) $channels" ] ||
        fail "dspfeed-play --via wav $name: the WAV's length, rate or channels differ from the stream's"
    echo "ok dspfeed-play --via wav $name: $frames frames, every value a sample"
done

# Through ALSA: aplay into ALSA's file plugin, so that no card is needed. Every
# value arrives, followed at most by the silence aplay fills its last period with.
cat >"$HOME/.asoundrc" <<CONFIG
pcm.!default {
    type file
    slave.pcm "null"
    file "$work/alsa.raw"
    format "raw"
}
CONFIG
example=$root/examples/arpeggio-8k-u8-mono.txt
"$tools/dspfeed-play" --via alsa "$example" 2>alsa.err || fail "dspfeed-play --via alsa: $(cat alsa.err)"
od -An -v -tu1 -w1 alsa.raw | tr -d ' ' >alsa.values
tail -n +6 "$example" | tr -s ' \r\n' '\n\n\n' >expected.values
cmp -s expected.values <(head -n "$(wc -l <expected.values)" alsa.values) &&
    ! tail -n +"$(($(wc -l <expected.values) + 1))" alsa.values | grep -qvx 128 ||
    fail "dspfeed-play --via alsa: the samples differ from the stream's values"
echo "ok dspfeed-play --via alsa: every value of $(basename "$example") reached ALSA"
rm "$HOME/.asoundrc"

# A downstream that goes away is a failed write for the player, not SIGPIPE.
status=0
LD_PRELOAD=$DSPFEED_BRIDGE_LIBRARY "$DSPFEED" <"$root/examples/fifth-48k-s16-stereo.txt" 2>dead.err | head -c 1 >/dev/null ||
    status=${PIPESTATUS[0]}
[ "$status" -eq 255 ] && [ "$(cat dead.err)" = "Error writing to /dev/dsp" ] ||
    fail "bridge with a dead downstream: status $status, said '$(cat dead.err)'"
echo "ok bridge with a dead downstream: status 255, Error writing to /dev/dsp"

# A client that fails after the whole stream went into the pipe is reported by name.
status=0
"$tools/dspfeed-play" --via pulse "$root/examples/arpeggio-8k-u8-mono.txt" 2>client.err || status=$?
[ "$status" -eq 255 ] && grep -qx 'dspfeed-play: paplay failed with status 1' client.err ||
    fail "dspfeed-play with a failing client: status $status, said '$(cat client.err)'"
echo "ok dspfeed-play with a failing client: status 255, $(tail -n 1 client.err)"

# A header error is the player's: its status and its message, and no client.
status=0
printf 'SAMPLES: 1 CHANNELS: 2\n' | "$tools/dspfeed-play" --via pulse - 2>header.err || status=$?
[ "$status" -eq 254 ] && [ "$(tail -n 1 header.err)" = "Error, expected BITSPERSAMPLE" ] ||
    fail "dspfeed-play with a header error: status $status, said '$(cat header.err)'"
echo "ok dspfeed-play with a header error: status 254, the player's message"
