#!/bin/bash
# Checks the tools: WAV round trips, dspfeed-play's /dev/dsp and WAV paths, and failing downstreams.
# SPDX-License-Identifier: MIT
# Usage: tools_check.sh DSPFEED FAKE-DSP-LIBRARY BRIDGE WAV2DSPFEED FILE-FAULTS-LIBRARY SPAWN-FAULTS-LIBRARY
set -euo pipefail
export DSPFEED=$(realpath "$1") DSPFEED_BRIDGE_LIBRARY=$(realpath "$3")
fake_driver=$(realpath "$2")
wav2dspfeed=$(realpath "$4")
file_faults=$(realpath "$5")
spawn_faults=$(realpath "$6")
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
# countStarts FILE: how many players a tool started, by the programs spawn_faults told of.
countStarts() { grep -cx "$DSPFEED" "$1" || true; }

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
# More than a sound server takes, but what a WAV file and /dev/dsp hold (as
# many channels as the kernel grants), goes both ways.
round_trip 128-channels-768k 768000 128 synth 0.002 whitenoise

for example in "$root"/examples/*.txt; do
    name=$(basename "$example" .txt)
    frames=$(header "$example" SAMPLES)

    # Where /dev/dsp answers (here the fake driver), the stream goes to it,
    # whole, from the one player started.
    LD_PRELOAD="$fake_driver:$spawn_faults" FAKE_DSP_LOG=$work/$name.log SPAWN_FAULT_PROGRAMS=$work/$name.started \
        "$tools/dspfeed-play" "$example" 2>"$name.said" || fail "dspfeed-play $name: status $?, said $(cat "$name.said")"
    grep -q "through /dev/dsp" "$name.said" || fail "dspfeed-play $name chose: $(cat "$name.said")"
    writes=$(grep -c '^write' "$work/$name.log")
    [ "$writes" -eq "$frames" ] && [ "$(countStarts "$work/$name.started")" = 1 ] ||
        fail "dspfeed-play $name: $writes writes for $frames frames, $(countStarts "$work/$name.started") players"
    echo "ok dspfeed-play $name through /dev/dsp: $writes frames written, one player started"

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

# Through ALSA's file plugin, so that no card is needed, on the device -d
# names, each open appending to one file: every byte of every stream
# arrives, in order. Streams of one format are one stream there; a stream
# that cannot be read or that the player rejects is told, and the rest still
# play, the run ending with the first failure's status; a new format opens a
# new stream. On a terminal the progress line names the stream and its place.
cat >"$HOME/.asoundrc" <<CONFIG
pcm.tofile {
    type file
    slave.pcm "null"
    file "|cat >>$work/alsa.raw"
    format "raw"
}
CONFIG
example=$root/examples/arpeggio-8k-u8-mono.txt
other=$root/examples/fifth-48k-s16-stereo.txt
printf 'SAMPLES: 1\nBITS: 8\n' >broken.txt
for stream in "$example" "$other"; do
    "$tools/dspfeed2wav" "$stream" - | tail -c +45 >"$(basename "$stream" .txt).raw"
done
while IFS='|' read -r where expected status said arguments; do
    rm -f alsa.raw
    actual=0
    if [ "$where" = terminal ]; then
        timeout 60 script -qec "$tools/dspfeed-play --via alsa -d tofile $arguments" /dev/null </dev/null >alsa.err ||
            actual=$?
    else
        # A run that waits on itself fails, rather than hangs.
        eval "timeout 60 \"\$tools/dspfeed-play\" --via alsa -d tofile $arguments" <"$other" 2>alsa.err || actual=$?
    fi
    eval "cat $expected" >expected.raw
    cmp -s expected.raw alsa.raw && [ "$actual" = "$status" ] && grep -qF "$said" alsa.err ||
        fail "dspfeed-play --via alsa -d tofile $arguments: status $actual, $(wc -c <alsa.raw) bytes, said $(cat alsa.err)"
    echo "ok dspfeed-play --via alsa -d tofile $arguments${where:+ on a $where}: status $status, every byte, $said"
done <<CASES
|arpeggio-8k-u8-mono.raw|0|through ALSA on tofile|$example
terminal|arpeggio-8k-u8-mono.raw arpeggio-8k-u8-mono.raw|0|arpeggio-8k-u8-mono.txt 2/2 0:00:01 of 0:00:01 (100%)|$example $example
|arpeggio-8k-u8-mono.raw fifth-48k-s16-stereo.raw|254|cannot read missing.txt|$example broken.txt missing.txt -
CASES
rm "$HOME/.asoundrc"

# A device named that is not there is a failure, said, with nothing played
# elsewhere; --via oss with -d plays on that node, here the fake driver's.
LD_PRELOAD="$fake_driver:$spawn_faults" FAKE_DSP_PATH=$work/dsp1 FAKE_DSP_LOG=$work/dsp1.log \
    SPAWN_FAULT_PROGRAMS=$work/dsp1.started "$tools/dspfeed-play" -d "$work/dsp1" "$example" 2>dsp1.err ||
    fail "dspfeed-play -d $work/dsp1: status $?, said $(cat dsp1.err)"
frames=$(header "$example" SAMPLES)
[ "$(grep -c '^write' dsp1.log)" = "$frames" ] && [ "$(countStarts dsp1.started)" = 1 ] &&
    grep -qx "dspfeed-play: playing $example through OSS on $work/dsp1" dsp1.err ||
    fail "dspfeed-play -d $work/dsp1: $(grep -c '^write' dsp1.log) writes for $frames frames, said $(cat dsp1.err)"
echo "ok dspfeed-play --via oss -d: $frames frames written to the node named, one player started"
while IFS='|' read -r via device said; do
    status=0
    LD_PRELOAD=$fake_driver "$tools/dspfeed-play" ${via:+--via "$via"} -d "$device" "$example" 2>missing.err || status=$?
    [ "$status" = 255 ] && [ "$(cat missing.err)" = "$said" ] ||
        fail "a missing device, --via ${via:-nothing} -d $device: status $status, said $(cat missing.err)"
done <<CASES
oss|$work/dsp9|dspfeed-play: cannot play through OSS on $work/dsp9: No such file or directory
|$work/dsp9|dspfeed-play: no output named $work/dsp9 here (dspfeed-play -l lists them)
alsa|nosuch|dspfeed-play: cannot play through ALSA on nosuch: No such file or directory
pulse|nosuch|dspfeed-play: cannot play through the sound server on nosuch: Connection refused
CASES
echo "ok a missing device on each path: status 255, said, nothing played"

# A downstream that goes away is a failed write for the player, not SIGPIPE.
# (Ten seconds of sound: more than the client's pipe of 1 MiB holds.)
{
    echo "SAMPLES: 480000 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 48000 NORMALIZED: FALSE"
    awk 'BEGIN { for (i = 0; i < 480000; i++) print "0 0" }'
} >ten-seconds.txt
status=0
LD_PRELOAD=$DSPFEED_BRIDGE_LIBRARY "$DSPFEED" <ten-seconds.txt 2>dead.err | head -c 1 >/dev/null ||
    status=${PIPESTATUS[0]}
[ "$status" -eq 255 ] && [ "$(cat dead.err)" = "Error writing to /dev/dsp" ] ||
    fail "bridge with a dead downstream: status $status, said '$(cat dead.err)'"
echo "ok bridge with a dead downstream: status 255, Error writing to /dev/dsp"

# A sound server that is not there fails the player's open, and is named.
status=0
"$tools/dspfeed-play" --via pulse "$root/examples/arpeggio-8k-u8-mono.txt" 2>client.err || status=$?
[ "$status" -eq 255 ] && [ "$(tail -n 2 client.err | tr '\n' '|')" = \
    "Error opening /dev/dsp|dspfeed-play: the sound server failed: Connection refused|" ] ||
    fail "dspfeed-play with no sound server: status $status, said '$(cat client.err)'"
echo "ok dspfeed-play with no sound server: status 255, $(tail -n 1 client.err)"

# A header error is the player's: its status and its message, and no client.
status=0
printf 'SAMPLES: 1 CHANNELS: 2\n' | "$tools/dspfeed-play" --via pulse - 2>header.err || status=$?
[ "$status" -eq 254 ] && [ "$(tail -n 1 header.err)" = "Error, expected BITSPERSAMPLE" ] ||
    fail "dspfeed-play with a header error: status $status, said '$(cat header.err)'"
echo "ok dspfeed-play with a header error: status 254, the player's message"

# expect NAME STATUS MESSAGE COMMAND...: a run that fails, with its status and
# the last line it says.
expect() {
    local name=$1 status=$2 message=$3 got=0
    shift 3
    "$@" 2>said || got=$?
    [ "$got" -eq "$status" ] && [ "$(tail -n 1 said)" = "$message" ] ||
        fail "$name: status $got, said '$(cat said)'"
    echo "ok $name: status $status, $message"
}
# Nothing but what a case names may be left in the folder: no temporary file.
only() { [ "$(ls -A | sort | tr '\n' ' ')" = "$* " ] || fail "left in the folder: $(ls -A)"; }

mkdir files && cd files
cp "$root/examples/fifth-48k-s16-stereo.txt" s.txt
printf 'SAMPLES: 1\n' >bad.txt
printf 'old' >keep.wav
ln -s s.txt link.wav
mknod full c 1 7
expect "a failed render keeps the file it was to replace" 254 "Error, expected BITSPERSAMPLE" \
    "$tools/dspfeed2wav" bad.txt keep.wav
expect "the output is the input, through a link" 4 "dspfeed2wav: cannot write link.wav: it is the input" \
    "$tools/dspfeed2wav" s.txt link.wav
cmp -s s.txt "$root/examples/fifth-48k-s16-stereo.txt" && [ "$(cat keep.wav)" = old ] || fail "an input or output changed"
expect "a terminal as the output" 4 "dspfeed2wav: cannot write standard output: it is a terminal" \
    bash -c 'script -qec "$0 s.txt -" /dev/null </dev/null | tr -d "\r" >&2; exit ${PIPESTATUS[0]}' "$tools/dspfeed2wav"
expect "a device that is full" 4 "dspfeed2wav: cannot write full: No space left on device" \
    "$tools/dspfeed2wav" s.txt full
# A small disk of its own needs a mount namespace, which a plain chroot lacks.
mkdir disk
if namespace=$(unshare -m true 2>&1); then
    expect "a disk that fills" 4 "dspfeed2wav: cannot write disk/out.wav: No space left on device" \
        unshare -m sh -c 'mount -t tmpfs -o size=16k tmpfs disk && "$0" s.txt disk/out.wav; status=$?
            [ -z "$(ls -A disk)" ] || echo "left on the disk: $(ls -A disk)"; exit $status' "$tools/dspfeed2wav"
else
    echo "skipped: a disk that fills: no mount namespace here ($namespace)"
fi
expect "a report that cannot be written" 4 "dspfeed-check: cannot write the report: No space left on device" \
    sh -c '"$0" --json s.txt >full' "$tools/dspfeed-check"
expect "a missing stream" 3 "dspfeed2wav: cannot read missing.txt: No such file or directory" \
    "$tools/dspfeed2wav" missing.txt out.wav
expect "a folder as standard input" 3 "dspfeed2wav: cannot read standard input: Is a directory" \
    sh -c '"$0" - out.wav <.' "$tools/dspfeed2wav"
expect "a folder as standard input of dspfeed-play" 3 "dspfeed-play: cannot read standard input: Is a directory" \
    sh -c '"$0" - <.' "$tools/dspfeed-play"
expect "a reader that goes away" 4 "dspfeed2wav: cannot write standard output: Broken pipe" \
    bash -c '"$0" s.txt - | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}' "$tools/dspfeed2wav"
# The tool knows why its output failed, so the player's failed write is not told.
! grep -q "Error writing to /dev/dsp" said || fail "a reader that goes away: the player's message too: $(cat said)"
only bad.txt disk full keep.wav link.wav s.txt said

# Signals end every process of a run and leave no file.
mkfifo live
for signal in INT TERM HUP; do
    { head -c 100000 s.txt; exec sleep 5; } >live &
    writer=$!
    # Started as from a terminal: a script's background job ignores SIGINT.
    env --default-signal=INT "$tools/dspfeed2wav" - out.wav <live 2>/dev/null &
    tool=$!
    sleep 0.5
    children=$(pgrep -P "$tool")
    kill -"$signal" "$tool"
    status=0
    wait "$tool" || status=$?
    kill "$writer"
    [ "$status" -eq $((128 + $(kill -l "$signal"))) ] && [ -n "$children" ] && ! kill -0 $children 2>/dev/null ||
        fail "SIG$signal: status $status, children $children"
    only bad.txt disk full keep.wav link.wav live s.txt said
    echo "ok SIG$signal during a render: status $status, no process and no file left"
done
# A signal the tool was started ignoring (nohup's SIGHUP, the SIGINT of a
# script's background job) stays ignored by it and by its player: the render
# goes on through both and is whole.
{ head -c 100000 s.txt; sleep 1; tail -c +100001 s.txt; } >live &
(trap '' INT && exec nohup "$tools/dspfeed2wav" - nohup.wav <live >/dev/null 2>&1) &
tool=$!
sleep 0.5
children=$(pgrep -P "$tool")
kill -HUP "$tool" $children && kill -INT "$tool" $children
status=0
wait "$tool" || status=$?
"$tools/dspfeed2wav" s.txt whole.wav
[ "$status" -eq 0 ] && [ -n "$children" ] && cmp -s nohup.wav whole.wav ||
    fail "SIGHUP and SIGINT ignored at start: status $status, children $children"
rm nohup.wav whole.wav
echo "ok SIGHUP under nohup and SIGINT ignored, to the tool and its player: status 0, the file whole"
# A signal that comes as the player starts, before the tool has it watched,
# still ends it: the tool dies by the signal, and the player, waiting for a
# stream that never comes, is not left behind.
{ exec sleep 5; } >live &
writer=$!
status=0
LD_PRELOAD=$spawn_faults SPAWN_FAULT_SIGNAL=15 SPAWN_FAULT_PIDS=$PWD/spawned.pids "$tools/dspfeed-play" --via oss live \
    2>/dev/null || status=$?
kill "$writer"
[ "$status" -eq 143 ] && [ -s spawned.pids ] && ! kill -0 $(cat spawned.pids) 2>/dev/null ||
    fail "SIGTERM as the player starts: status $status, left $(cat spawned.pids)"
rm spawned.pids
echo "ok SIGTERM as the player starts: status 143, the player ended with the tool"
# A player that dies alone (at the hands of the OOM killer, say) fails the
# render, and the file it was to replace is kept.
{ head -c 100000 s.txt; exec sleep 5; } >live &
writer=$!
"$tools/dspfeed2wav" - keep.wav <live 2>/dev/null &
tool=$!
sleep 0.5
pkill -KILL -P "$tool"
status=0
wait "$tool" || status=$?
kill "$writer"
[ "$status" -eq 137 ] && [ "$(cat keep.wav)" = old ] || fail "a player killed alone: status $status, $(ls -A)"
only bad.txt disk full keep.wav link.wav live s.txt said
echo "ok a player killed alone: status 137, the file it was to replace kept"

# A rendering with no sound takes a new name and never replaces a file.
cp s.txt ./-x.txt
printf 'old' >s.wav
"$tools/dspfeed-play" --via wav s.txt 2>said
[ "$(tail -n 1 said)" = "dspfeed-play: wrote s-1.wav" ] || fail "dspfeed-play --via wav: $(cat said)"
# The automatic choice comes to the same where nothing answers: no server, a
# /dev/dsp that does not open, and no ALSA client.
expect "dspfeed-play with no sound at all" 0 "dspfeed-play: wrote s-2.wav" \
    env LD_PRELOAD="$fake_driver:$spawn_faults" FAKE_DSP_OPEN=fail SPAWN_FAULT_PROGRAMS=$work/none.started \
    PATH="$work/nothing" "$tools/dspfeed-play" s.txt
[ "$(head -n 1 said)" = "dspfeed-play: no sound here; rendering s.txt into a WAV file" ] &&
    [ "$(countStarts "$work/none.started")" = 1 ] ||
    fail "dspfeed-play with no sound at all: $(cat said), $(countStarts "$work/none.started") players"
"$tools/dspfeed-play" --via wav -- -x.txt 2>said && [ "$(tail -n 1 said)" = "dspfeed-play: wrote -x.wav" ] &&
    "$tools/dspfeed-check" -- -x.txt >/dev/null && cmp -s s-1.wav s-2.wav && cmp -s s-1.wav ./-x.wav &&
    [ "$(cat s.wav)" = old ] ||
    fail "dspfeed-play or dspfeed-check with --: $(cat said)"
echo "ok dspfeed-play --via wav, then with no sound at all: s-1.wav and s-2.wav beside s.wav, and -x.wav after --"

# Every file call that can fail, failing on cue: the file that was to be
# replaced is kept, nothing of the tool's own is left, and a file system
# without RENAME_NOREPLACE still never has a file replaced.
for fault in "fsync Input/output error" "rename Invalid cross-device link" "close Input/output error" \
    "write:50000 No space left on device"; do
    expect "a failing ${fault%% *}" 4 "dspfeed2wav: cannot write keep.wav: ${fault#* }" \
        env LD_PRELOAD="$file_faults" FILE_FAULT="${fault%% *}" "$tools/dspfeed2wav" s.txt keep.wav
    [ "$(cat keep.wav)" = old ] && [ -z "$(ls -A | grep '^\.')" ] || fail "a failing ${fault%% *}: $(ls -A)"
done
LD_PRELOAD=$file_faults FILE_FAULT=renameat2 "$tools/dspfeed-play" --via wav s.txt 2>said
[ "$(tail -n 1 said)" = "dspfeed-play: wrote s-3.wav" ] && [ "$(cat s.wav)" = old ] && cmp -s s-1.wav s-3.wav &&
    [ -z "$(ls -A | grep '^\.')" ] ||
    fail "a new name without RENAME_NOREPLACE: $(cat said)"
echo "ok a new name without RENAME_NOREPLACE: s-3.wav, s.wav kept"

# Through a link the target is replaced, keeping its mode whatever the umask,
# and only once the new file has reached the disk.
printf 'old' >target.wav
chmod 664 target.wav
ln -s target.wav linked.wav
(umask 077 && strace -f -q -e trace=fsync,rename,renameat,renameat2 -o order.log \
    env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$tools/dspfeed2wav" s.txt linked.wav)
[ -L linked.wav ] && [ "$(stat -c %a target.wav)" = 664 ] && cmp -s target.wav s-1.wav &&
    [ "$(grep -oE '(fsync|rename[a-z0-9]*)\(' order.log | head -n 2 | tr -d '(\n')" = fsyncrename ] ||
    fail "a linked output: $(ls -l linked.wav target.wav; cat order.log)"
echo "ok an output through a link: the target replaced, mode 664 kept under umask 077, flushed before the rename"
# A new output takes the mode the umask leaves; standard output opened part
# way gets the WAV file where it starts, its lengths patched in there.
(umask 077 && "$tools/dspfeed2wav" s.txt private.wav)
{ printf abc; "$tools/dspfeed2wav" s.txt -; } >partway.wav
[ "$(stat -c %a private.wav)" = 600 ] && [ "$(head -c 3 partway.wav)" = abc ] && cmp -s <(tail -c +4 partway.wav) s-1.wav ||
    fail "a new output under umask 077, or one part way: $(stat -c %a private.wav), $(od -An -c -N 16 partway.wav)"
rm private.wav partway.wav
echo "ok a new output under umask 077: mode 600; standard output part way: the WAV file from where it starts"
# To a pipe, the stream's header says its lengths are unknown, never 0.
"$tools/dspfeed2wav" s.txt - | cat >piped.wav
[ "$(od -An -tx1 -j4 -N4 piped.wav | tr -d ' ') $(sox piped.wav -t raw - 2>/dev/null | wc -c)" = "ffffffff 96000" ] ||
    fail "a WAV stream to a pipe: $(od -An -tx1 -N44 piped.wav)"
echo "ok a WAV stream to a pipe: lengths unknown, all 24000 frames read by sox"

# Floating-point samples keep their level, and clipping is counted: 0.25,
# 1.0, -1.0, 2.0 and -2.0 as 32-bit floats, behind a header of format 3.
printf 'RIFF\x38\0\0\0WAVEfmt \x10\0\0\0\x03\0\x01\0\x40\x1f\0\0\0\x7d\0\0\x04\0\x20\0data\x14\0\0\0' >float.wav
printf '\0\0\x80\x3e\0\0\x80\x3f\0\0\x80\xbf\0\0\0\x40\0\0\0\xc0' >>float.wav
expect "floating-point samples" 0 "wav2dspfeed: clipped 2 samples beyond full scale" "$wav2dspfeed" float.wav float.txt
[ "$(tail -n 5 float.txt | tr '\n' ' ')" = "8192 32767 -32768 32767 -32768 " ] || fail "float samples: $(cat float.txt)"
# The same header with a rate of 0, and one whose data, sparse, is more frames
# than a stream can say.
printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\0\0\0\0\0\0\0\0\x01\0\x08\0data\0\0\0\0' >rate0.wav
expect "a WAV file of rate 0" 3 "wav2dspfeed: cannot read rate0.wav: its header gives no valid sample rate" \
    "$wav2dspfeed" rate0.wav
sox -n -r 8000 -c 129 -b 16 many.wav synth 0.01 sine 440
expect "a WAV file of 129 channels" 3 "wav2dspfeed: cannot read many.wav: 129 channels, more than the player takes (128)" \
    "$wav2dspfeed" many.wav many.txt
printf 'RIFF\xfc\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\xd8\xff\xff\xff' >huge.wav
truncate -s 4294967300 huge.wav
expect "a WAV file longer than a stream" 3 \
    "wav2dspfeed: cannot read huge.wav: 4294967256 frames, more than a stream can hold (2147483647)" \
    "$wav2dspfeed" huge.wav huge.txt
[ ! -e huge.txt ] || fail "a stream was written for huge.wav"
# The most a stream can say is not refused: only /dev/full stops it.
printf 'RIFF\x24\0\0\x80WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\xff\xff\xff\x7f' >most.wav
truncate -s $((44 + 2147483647 + 1)) most.wav
expect "a WAV file of 2147483647 frames" 4 "wav2dspfeed: cannot write standard output: No space left on device" \
    sh -c '"$0" most.wav >/dev/full' "$wav2dspfeed"
rm most.wav

# Lossy decoders yield floats that overshoot full scale: clipped and counted,
# never wrapped round, sample for sample within 32768 of ffmpeg's decoding.
sox -n -r 48000 -c 2 -b 16 square.wav synth 2 square 100
for format in ogg opus mp3; do
    sndfile-convert square.wav "square.$format"
    "$wav2dspfeed" "square.$format" "square-$format.txt" 2>said
    grep -qx 'wav2dspfeed: clipped [0-9]* samples beyond full scale' said || fail "square.$format said: $(cat said)"
    ffmpeg -loglevel error -i "square.$format" -f s16le - | od -An -v -td2 -w2 >"square-$format.ffmpeg"
    wrapped=$(tail -n +6 "square-$format.txt" | tr ' ' '\n' | paste -d ' ' - "square-$format.ffmpeg" |
        awk 'NF != 2 || $1 - $2 > 32768 || $2 - $1 > 32768 { far++ } END { print far + 0 }')
    [ "$wrapped" = 0 ] || fail "square.$format: $wrapped samples far from ffmpeg's"
    echo "ok a square wave at full scale through $format: $(cut -d ' ' -f 3 said) clipped, none wrapped"
done
# What the library can only read by seeking converts from a pipe as from the
# file; compressed WAV stops at the count of its fact chunk, not the decoder's.
sox -n -r 8000 -c 1 -b 16 speech.wav synth 1.2345 sine 300
sox speech.wav speech.flac
for encoding in gsm-full-rate ima-adpcm ms-adpcm; do sox speech.wav -e "$encoding" "$encoding.wav"; done
for input in speech.flac gsm-full-rate.wav ima-adpcm.wav ms-adpcm.wav square.ogg square.mp3; do
    "$wav2dspfeed" "$input" file.txt && cat "$input" | "$wav2dspfeed" - piped.txt && cmp -s file.txt piped.txt ||
        fail "$input from a pipe differs from the file's conversion"
    [ "$input" = square.ogg ] || [ "$input" = square.mp3 ] || [ "$(header piped.txt SAMPLES)" = 9876 ] ||
        fail "$input: $(header piped.txt SAMPLES) frames of 9876"
done
echo "ok FLAC, GSM, ADPCM, Ogg and MP3 from a pipe: the file's conversion, the fact chunk's count"
# A file cut short says so, from a file and from a pipe, and writes nothing.
head -c 10000 speech.wav >cut.wav
expect "a WAV file cut short" 3 "wav2dspfeed: cannot read cut.wav: it ended after 4978 of the 9876 frames its header gives" \
    "$wav2dspfeed" cut.wav cut.txt
expect "a WAV file cut short, from a pipe" 3 \
    "wav2dspfeed: cannot read standard input: it ended after 4978 of the 9876 frames its header gives" \
    sh -c 'cat cut.wav | "$0" - cut.txt' "$wav2dspfeed"
[ ! -e cut.txt ] || fail "a stream was written of cut.wav"
expect "a pipe with no room for its copy" 3 \
    "wav2dspfeed: cannot read standard input: cannot copy it into TMPDIR (missing): No such file or directory" \
    sh -c 'cat speech.flac | TMPDIR=missing "$0" - cut.txt' "$wav2dspfeed"
# Odd data in a WAV file is followed by the pad byte RIFF asks for.
printf 'SAMPLES: 3\nBITSPERSAMPLE: 8\nCHANNELS: 1\nSAMPLERATE: 8000\nNORMALIZED: FALSE\n1\n2\n3\n' >odd.txt
"$tools/dspfeed2wav" odd.txt odd.wav
[ "$(sox -V3 odd.wav -t raw - 2>sox.said | od -An -tu1 | tr -s ' ')" = " 1 2 3" ] && ! grep -qi warn sox.said &&
    ! sndfile-info odd.wav | grep -q 'Error' && [ "$(wc -c <odd.wav)" = 84 ] ||
    fail "odd-length data: $(sndfile-info odd.wav)"
echo "ok 3 bytes of 8-bit data: padded, read back by sox and libsndfile with no warning"

# The report is UTF-8 whatever the stream holds: a byte that is not (an
# overlong form, a surrogate), and a character cut where the token is
# shortened, come out escaped or whole.
printf 'SAMPLES: 1 BITSPERSAMPLE: 16 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: \xff\x01\xc0\x80\xc1\xbf\xed\xa0\x80\n%s\n' \
    "$(printf '\xe2\x82\xac%.0s' $(seq 12))" >bytes.txt
"$tools/dspfeed-check" --json bytes.txt >bytes.json || true
iconv -f UTF-8 -t UTF-8 bytes.json >/dev/null && grep -qF '"NORMALIZED":"\\xff\\x01\\xc0\\x80\\xc1\\xbf\\xed\\xa0\\x80"' bytes.json &&
    grep -qF "'€€€€€€€€...' is not a number" bytes.json || fail "dspfeed-check --json on bytes: $(cat bytes.json)"
echo "ok dspfeed-check --json on bytes that are not UTF-8: valid UTF-8, the bytes escaped"

# Live input stays live: a writer that sends one 8-bit frame and pauses is
# heard before the pause ends, the format line and the WAV header ahead of it.
{ printf 'SAMPLES: 2 BITSPERSAMPLE: 8 CHANNELS: 1 SAMPLERATE: 8000 NORMALIZED: FALSE 7 '; exec sleep 2; } |
    LD_PRELOAD=$DSPFEED_BRIDGE_LIBRARY "$DSPFEED" 2>/dev/null | { timeout 1 head -c 67 >paused.out || true; }
[ "$(head -n 1 paused.out) $(wc -c <paused.out)" = "dspfeed-pcm u8 8000 1 67" ] ||
    fail "a paused writer: only $(wc -c <paused.out) bytes came out"
echo "ok a writer that pauses after one frame: the bridge handed over all it had"

# The bridge gathers at most 20 ms of sound: 160 bytes at 8 kHz mono, 8 bits.
# (LeakSanitizer cannot work under strace: a sanitized player goes without it.)
strace -f -q -e trace=write -o writes.log env LD_PRELOAD="$DSPFEED_BRIDGE_LIBRARY" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$DSPFEED" \
    <"$root/examples/arpeggio-8k-u8-mono.txt" >/dev/null
largest=$(sed -n 's/.* write([013-9][0-9]*, .*) = \([0-9]*\)$/\1/p' writes.log | sort -n | tail -n 1)
[ "${largest:-0}" -gt 0 ] && [ "$largest" -le 160 ] || fail "the bridge handed over $largest bytes at once"
echo "ok the bridge at 8 kHz mono: at most $largest bytes, 20 ms, handed over at once"

# A wrong command line names what is wrong, then gives the usage line;
# options may be written as --name=value.
while IFS='|' read -r words said; do
    status=0
    eval "\"\$tools/\"$words" 2>said || status=$?
    [ "$status" = 2 ] && [ "$(head -n 1 said)" = "$said" ] && [ "$(tail -n 1 said | cut -c 1-7)" = "usage: " ] ||
        fail "$words: status $status, said $(cat said)"
done <<'CASES'
dspfeed-play -h s.txt|dspfeed-play: unknown option '-h'
dspfeed-play --via=x s.txt|dspfeed-play: --via takes oss, pulse, alsa or wav, not 'x'
dspfeed-play --via|dspfeed-play: option '--via' needs a value
dspfeed-play - s.txt -|dspfeed-play: standard input, '-', can be read once
dspfeed-play -l s.txt|dspfeed-play: --list takes nothing else
dspfeed-play -d '' s.txt|dspfeed-play: --device needs a name
dspfeed-check --json=yes s.txt|dspfeed-check: option '--json' takes no value
dspfeed2wav s.txt|dspfeed2wav: an output is needed
dspfeed2wav s.txt -x|dspfeed2wav: unknown option '-x' (a name that starts with '-' goes after '--')
CASES
expect "--via=wav" 0 "dspfeed-play: wrote s-4.wav" "$tools/dspfeed-play" --via=wav s.txt
expect "a wrong DSPFEED" 255 "dspfeed-play: DSPFEED names $work/none, which is missing" \
    env DSPFEED="$work/none" "$tools/dspfeed-play" s.txt
expect "a wrong DSPFEED_BRIDGE_LIBRARY" 255 "dspfeed2wav: DSPFEED_BRIDGE_LIBRARY names none.so, which is missing" \
    env DSPFEED_BRIDGE_LIBRARY=none.so "$tools/dspfeed2wav" s.txt out.wav
echo "ok a wrong command line: what is wrong, then the usage line, status 2"

# Reading a terminal, dspfeed-check and dspfeed-play say how the stream is ended.
told=$(script -qec "timeout 1 $tools/dspfeed-check; timeout 1 $tools/dspfeed-play --via wav" /dev/null </dev/null |
    grep -c "reading the stream from the terminal; end it with Ctrl-D on a line of its own" || true)
[ "$told" = 2 ] || fail "a terminal as the input: told $told times how it ends"
echo "ok a terminal as the input: dspfeed-check and dspfeed-play say how it ends"

# The first streams of one's own that the README offers play whole and clean.
cc -O2 -o sweep "$root/examples/sweep.c" -lm
for generator in "$root/examples/tone.sh" "python3 $root/examples/chord.py" ./sweep; do
    $generator | "$tools/dspfeed-check" >generated.report || fail "$generator: $(cat generated.report)"
done
echo "ok the examples' generators: awk, Python and C streams that dspfeed-check finds clean"

# --help and --version answer on standard output, before any other word.
for tool in dspfeed-play dspfeed-check dspfeed2wav wav2dspfeed; do
    program=$tools/$tool
    [ "$tool" = wav2dspfeed ] && program=$wav2dspfeed
    "$program" missing.txt --help >help.out && "$program" --version -x >version.out &&
        [ "$(head -c 7 help.out)$(grep -c "man $tool\$" help.out)" = "usage: 1" ] &&
        grep -qx "$tool (dspfeed) [0-9.]*" version.out || fail "$tool --help or --version: $(cat help.out version.out)"
done
echo "ok --help and --version of every tool: status 0, on standard output"
