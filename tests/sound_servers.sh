#!/bin/bash
# Plays streams with dspfeed-play into real PulseAudio and PipeWire servers on null sinks and checks every recorded sample.
# SPDX-License-Identifier: MIT
# Usage: sound_servers.sh DSPFEED BRIDGE RECORDING-MATCH FAKE-DSP SPAWN-FAULTS
# Each server is started here, on its own runtime directory, and stopped by
# its process id. A sink is made per stream, at the stream's own rate and
# format, and its monitor recorded while the stream plays: every frame must
# arrive unchanged, with no silence inserted (but where a live writer
# paused), and no capture stream but the recorder's may be open meanwhile.
# (PulseAudio's own OSS emulation, checked here too, is exact, but as a rule
# takes the microphone.)
set -euo pipefail
# The servers, the recorder and the player.
source "$(dirname "$0")/realtime.sh"
export DSPFEED=$(realpath "$1") DSPFEED_BRIDGE_LIBRARY=$(realpath "$2")
match=$(realpath "$3")
fake_driver=$(realpath "$4")
spawn_faults=$(realpath "$5")
tools=$(dirname "$DSPFEED")
work=$(mktemp -d)
pids=()
stopAll() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stopAll EXIT
# A command that fails outside the checks says which it was.
trap 'echo "FAIL line $LINENO: $BASH_COMMAND" >&2' ERR
unset PULSE_SERVER PULSE_SINK DBUS_SESSION_BUS_ADDRESS
export HOME=$work
cd "$work"

fail() {
    echo "FAIL $*" >&2
    exit 1
}

# waitFor PID SECONDS WHAT [COMMAND...]: the status of a child that ends
# within SECONDS, running COMMAND as it waits; one that runs on fails the
# test, named.
waitFor() {
    local pid=$1 seconds=$2 what=$3
    local deadline=$((SECONDS + seconds))
    shift 3
    while kill -0 "$pid" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "$what: still running after $seconds s"
        "$@"
        sleep 0.1
    done
    wait "$pid"
}

# makeStream NAME RATE CHANNELS BITS SECONDS: a two-tone test signal as a text
# stream and as its raw samples, both made by sox and od, not by the project.
# The signal is offset from silence, so that its first frame tells where it
# starts in a recording.
makeStream() {
    local name=$1 rate=$2 channels=$3 bits=$4 seconds=$5 encoding=signed od_type=d2
    [ "$bits" = 8 ] && encoding=unsigned od_type=u1
    sox -n -r "$rate" -c "$channels" -b "$bits" -e "$encoding" -t raw "$name.raw" \
        synth "$seconds" sine 440 sine 660 vol 0.5 dcshift 0.1
    local frame_bytes=$((channels * bits / 8))
    {
        printf 'SAMPLES: %d\nBITSPERSAMPLE: %d\nCHANNELS: %d\nSAMPLERATE: %d\nNORMALIZED: FALSE\n' \
            $(($(stat -c %s "$name.raw") / frame_bytes)) "$bits" "$channels" "$rate"
        od -An -v -t"$od_type" --endian=little -w"$frame_bytes" "$name.raw"
    } >"$name.txt"
}

makeStream s16-stereo-48k 48000 2 16 10
makeStream s16-stereo-44k 44100 2 16 2
makeStream u8-mono-8k 8000 1 8 2
makeStream s16-stereo-48k-short 48000 2 16 2
makeStream s16-six-48k 48000 6 16 1
# Three streams of one format, played in one run with standard input among
# them, must arrive as one: each frame once, in order, with no gap between.
makeStream part-1 48000 2 16 1
makeStream part-2 48000 2 16 0.5
makeStream part-3 48000 2 16 0.7
cat part-1.raw part-2.raw part-3.raw >three-parts.raw
cp part-2.txt three-parts.txt

waitForServer() {
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "the $1 server did not answer"
}

# How many times the server has said that sound ran late. A process that
# does not run in time (this machine now and then stalls even a real-time
# thread for over 20 ms) loses sound, or garbles it, whatever the client:
# pacat's lose as much.
# PipeWire tells of its graph missing a deadline at its info level: 0.3 with
# a line for each late node of the cycle, in a row; 1.4 with one line a
# cycle. PulseAudio's null sink catches up after a stall of its own, and so
# runs ahead of a client that stalled; it tells of each such underrun of a
# stream at its debug level.
countServerShortfalls() {
    if [ "$1" = pipewire ]; then
        awk '/client too slow/ { match($0, /pos:[0-9]+/); cycle = substr($0, RSTART, RLENGTH) }
            /client too slow/ && !(NR == lastLine + 1 && cycle == lastCycle) || /graph xrun/ { missed++ }
            /client too slow/ { lastLine = NR; lastCycle = cycle }
            END { print missed + 0 }' pipewire.log
    else
        grep -c "Implicit underrun of" pulseaudio.log || true
    fi
}

# play SERVER NAME RATE CHANNELS BITS COMMAND...: records the monitor of a
# sink of the stream's format while COMMAND plays NAME.txt, then checks.
# A recording made while the server, by its own account, ran late proves
# nothing either way: it is made again, twice at most, and must then pass.
# One that falls short with no such account fails at once.
play() {
    local server=$1 name=$2 rate=$3 channels=$4 bits=$5
    shift 5
    local format=s16le silence=0 frame_bytes=$((channels * bits / 8))
    [ "$bits" = 8 ] && format=u8 silence=0x80
    local sink=dspfeed_$name
    sink=${sink//-/_}
    local missed_before module
    missed_before=$(countServerShortfalls "$server")
    module=$(pactl load-module module-null-sink sink_name="$sink" rate="$rate" format="$format" channels="$channels" \
        norewinds=1)
    # keep_default: the stream reaches the sink only where it is named.
    [ -n "${keep_default:-}" ] || pactl set-default-sink "$sink"
    parec -d "$sink.monitor" --raw --format="$format" --rate="$rate" --channels="$channels" \
        >"$name.$server.rec" &
    local recorder=$!
    pids+=("$recorder")
    sleep 0.5
    "$@" <"$name.txt" 2>"$name.$server.err" &
    local player=$! captures=0 status=0
    pids+=("$player")
    # Capture streams are counted all the while it plays: one opened at any
    # moment counts, however late a busy machine lets it open.
    countCaptures() {
        local open
        open=$(pactl list short source-outputs | wc -l)
        ((open <= captures)) || captures=$open
    }
    waitFor "$player" 60 "$server $name" countCaptures || status=$?
    # The monitor's data comes some way behind the sound: wait until it all came.
    local frames=$(($(stat -c %s "$name.raw") / frame_bytes)) found
    # A pattern: gaps_expected may be *.
    local arrived="$frames of $frames frames arrived, ${gaps_expected:-0} gaps (* 0 lost), 0 changed"
    for _ in $(seq 40); do
        found=$("$match" "$name.$server.rec" "$name.raw" "$frame_bytes" "$silence") || true
        [[ $found == $arrived ]] && break
        sleep 0.25
    done
    kill "$recorder"
    wait "$recorder" 2>/dev/null || true
    local missed=$(($(countServerShortfalls "$server") - missed_before))
    if [[ $found != $arrived ]] && ((missed > 0 && ${again:-0} < 2)); then
        echo "again $server $name: the server told of sound late $missed times while it played: $found"
        pactl unload-module "$module"
        again=$((${again:-0} + 1)) play "$server" "$name" "$rate" "$channels" "$bits" "$@"
        return
    fi
    [[ $found == $arrived ]] || fail "$server $name: $found (the server told of sound late $missed times)"
    [ "$status" -eq 0 ] || fail "$server $name: status $status: $(cat "$name.$server.err")"
    [ "${captures_expected:-}" = told ] || [ "$captures" -eq 1 ] ||
        fail "$server $name: $((captures - 1)) capture streams open besides the recorder's"
    echo "ok $server $name (${*#"$tools/"}): $found; $((captures - 1)) capture streams besides the recorder's"
}

echo "== PulseAudio"
export XDG_RUNTIME_DIR=$work/pulse-run
mkdir -m 700 "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit --log-level=debug --load=module-native-protocol-unix \
    >pulseaudio.log 2>&1 &
pulse=$!
pids+=("$pulse")
waitForServer PulseAudio
# watchWaiting: what waits for the sink, by the server's account, once a
# second for five seconds, into waiting.log; checkWaiting PATH MOST then
# holds it to MOST seconds.
watchWaiting() {
    for _ in 1 2 3 4 5; do
        sleep 1
        pactl list sink-inputs | awk '/Buffer Latency:|Sink Latency:/ { sum += $3 } END { print sum / 1e6 }'
    done >waiting.log
}
checkWaiting() {
    wait "${pids[-1]}"
    awk -v most="$2" '$1 <= 0 || $1 > most { exit 1 } END { exit NR < 5 }' waiting.log ||
        fail "$1 held too much, or nothing, of a live stream (seconds): $(tr '\n' ' ' <waiting.log)"
    echo "ok $1 holds at most $(sort -n waiting.log | tail -n 1) s of a stream written as fast as it goes"
}
# The first plays by itself, to show the sound server is the path chosen,
# before a /dev/dsp that opens (the fake driver's). Meanwhile what waits for
# the server is far less than the half second a live stream may wait in all
# (the bridge gathers no more than the server holds).
watchWaiting &
pids+=($!)
play pulseaudio s16-stereo-48k 48000 2 16 env LD_PRELOAD="$fake_driver" "$tools/dspfeed-play" -
grep -qx 'dspfeed-play: playing standard input through the sound server' s16-stereo-48k.pulseaudio.err ||
    fail "dspfeed-play chose another path: $(cat s16-stereo-48k.pulseaudio.err)"
checkWaiting "the server path" 0.25
# Through ALSA and its pulse plugin, what waits there (ALSA's 400 ms, held
# by the plugin's stream, and the sink's own latency) and what the bridge
# gathers (4096 bytes, 0.021 s) stay within that half second: 96000 bytes.
watchWaiting &
pids+=($!)
play pulseaudio s16-stereo-48k 48000 2 16 "$tools/dspfeed-play" --via alsa -d pulse -
checkWaiting "the ALSA path" 0.478
gaps_expected=1 play pulseaudio s16-stereo-48k-short 48000 2 16 \
    bash -c '{ head -n 14405; sleep 2; cat; } | "$0" --via alsa -d pulse -' "$tools/dspfeed-play"
play pulseaudio u8-mono-8k 8000 1 8 "$tools/dspfeed-play" --via alsa -d pulse
keep_default=1 play pulseaudio s16-stereo-44k 44100 2 16 "$tools/dspfeed-play" -d dspfeed_s16_stereo_44k
play pulseaudio three-parts 48000 2 16 "$tools/dspfeed-play" part-1.txt - part-3.txt
# -l lists the server's sinks as the server describes them, ALSA's devices,
# and the automatic choice: the server's default sink.
default_sink=$(pactl get-default-sink)
"$tools/dspfeed-play" -l >outputs.txt
grep -qE "^pulse  $default_sink +Null Output \(default\)\$" outputs.txt &&
    grep -qE '^alsa   pulse +PulseAudio Sound Server$' outputs.txt &&
    [ "$(tail -n 1 outputs.txt)" = "automatic choice: pulse $default_sink" ] ||
    fail "dspfeed-play -l listed: $(cat outputs.txt)"
echo "ok pulseaudio dspfeed-play -l: $(grep -c '^pulse ' outputs.txt) sinks, $(grep -c '^alsa ' outputs.txt) ALSA devices, $(tail -n 1 outputs.txt)"
play pulseaudio three-parts 48000 2 16 "$tools/dspfeed-play" --via alsa -d pulse part-1.txt - part-3.txt
play pulseaudio u8-mono-8k 8000 1 8 "$tools/dspfeed-play" --via pulse -
play pulseaudio s16-six-48k 48000 6 16 "$tools/dspfeed-play" --via pulse -
# Live input plays as it comes: a writer that pauses after 0.3 s (more than
# the client buffers before it starts) leaves one gap, where it paused, and
# the frames on either side unchanged.
gaps_expected=1 play pulseaudio s16-stereo-48k-short 48000 2 16 \
    bash -c '{ head -n 14405; sleep 2; cat; } | "$0" -' "$tools/dspfeed-play"
# Ctrl-C, which a terminal sends to the whole process group: everything ends
# at once, and dspfeed-play ends by the signal, so that a shell loop stops,
# and so does a run of several streams.
for run in "a shell loop" "one run of two streams"; do
    rm -f played.log
    if [ "$run" = "a shell loop" ]; then
        setsid env --default-signal=INT bash -c 'for name in "$@"; do "$0" "$name"; echo "$name" >>played.log; done' \
            "$tools/dspfeed-play" s16-stereo-48k.txt s16-stereo-48k.txt 2>/dev/null &
    else
        setsid env --default-signal=INT bash -c '"$0" "$@"; echo "$?" >>played.log' \
            "$tools/dspfeed-play" s16-stereo-48k.txt s16-stereo-48k.txt 2>/dev/null &
    fi
    group=$!
    pids+=("$group")
    sleep 1
    kill -INT -- "-$group"
    status=0
    waitFor "$group" 5 "Ctrl-C in $run" || status=$?
    sleep 0.5
    [ "$status" = 130 ] && [ ! -e played.log ] && ! kill -0 -- "-$group" 2>/dev/null ||
        fail "Ctrl-C in $run: status $status, played $(cat played.log 2>/dev/null), processes left: $(ps -o pid=,comm= -g "$group")"
    echo "ok pulseaudio Ctrl-C in $run: it stops, status 130, no process left"
done
# On a terminal the progress line shows what has been played, by the
# server's account, and the level meter each channel's peak, as the stream
# has it. Held in frames to what the sink has rendered for its monitor: never
# ahead of it by more than 0.1 s, never behind it by more than the latency
# asked and an update (0.5 s), and wherever sound is shown, the meter shows
# its level. A sink that rewinds, as a desktop's timer-scheduled sink does,
# starts the sound late, and its clock goes back when it rewinds.
peaks=$(od -An -v -td2 --endian=little -w4 s16-stereo-48k-short.raw | awk '{
        for (c = 1; c <= 2; c++) { v = $c < 0 ? -$c : $c; if (v > peak[c]) peak[c] = v }
    } END { printf "L %5.1f  R %5.1f dBFS", 20 * log(peak[1] / 32768) / log(10), 20 * log(peak[2] / 32768) / log(10) }')
for rewinds in no yes; do
    sink=progress_rewinds_$rewinds
    options=norewinds=1
    [ "$rewinds" = yes ] && options=
    module=$(pactl load-module module-null-sink sink_name="$sink" rate=48000 format=s16le channels=2 $options)
    # keep_default: the stream reaches the sink only where it is named.
    [ -n "${keep_default:-}" ] || pactl set-default-sink "$sink"
    parec -d "$sink.monitor" --raw --format=s16le --rate=48000 --channels=2 >"$sink.rec" &
    recorder=$!
    pids+=("$recorder")
    sleep 0.5
    timeout 30 script -qfec "$tools/dspfeed-play s16-stereo-48k-short.txt" /dev/null </dev/null |
        while IFS= read -r -d $'\r' line; do echo "$(stat -c %s "$sink.rec") ${line//$'\n'/}"; done >"$sink.log"
    kill "$recorder"
    wait "$recorder" 2>/dev/null || true
    pactl unload-module "$module"
    # (awk reads to the end, so that od never meets a closed pipe.)
    start=$(od -An -v -td2 -w4 "$sink.rec" | awk '($1 != 0 || $2 != 0) && !found { found = 1; print (NR - 1) * 4 }')
    awk -v start="${start:-0}" -v peaks="$peaks" '$3 ~ /^[0-9]+:[0-9][0-9]:[0-9][0-9]$/ && $4 == "of" {
            shown = substr($6, 2) / 100 * 96000; rendered = ($1 - start) / 4; lines++
            # Once the stream is over, a sink that rewinds renders silence
            # ahead at its own latency: that is not the stream.
            if (rendered < 0) rendered = 0
            if (rendered > 96000) rendered = 96000
            if (shown > rendered + 4800 || (shown < 96000 && shown < rendered - 24000)) {
                print "showed " shown " frames where the sink had rendered " rendered ": " $0; exit 1 }
            if (shown > 0 && !index($0, peaks)) { print "the meter, with sound shown: " $0; exit 1 }
            sounding += shown > 0 }
        END { if (lines < 4 || sounding < 4) { print lines " progress lines, " sounding " with sound"; exit 1 } }' \
        "$sink.log" >progress.bad || fail "the progress line on a sink that rewinds: $rewinds: $(cat progress.bad)"
    echo "ok pulseaudio progress on a terminal, on a sink that rewinds: $rewinds: $(grep -c 'of 0:00:02' "$sink.log") lines, within 0.1 s of the sink's sound, $peaks"
done
# The bare player through PulseAudio's own OSS emulation, as the README
# offers it: every sample unchanged too, but with the silences it inserts
# when the machine is busy, and as a rule a capture stream on the default
# source. That is told, not held: with a build beside it, the emulation had
# none open, whenever it was looked at, in 4 runs of 10.
dsp_emulation=$(ls /usr/lib/*/pulseaudio/libpulsedsp.so)
gaps_expected="*" captures_expected=told play pulseaudio s16-stereo-48k-short 48000 2 16 env LD_PRELOAD="$dsp_emulation" "$DSPFEED"
# A server that goes away mid-stream is a failure, said as the server's. The
# one player started played on it.
LD_PRELOAD=$spawn_faults SPAWN_FAULT_PROGRAMS=$PWD/gone.started "$tools/dspfeed-play" s16-stereo-48k.txt 2>gone.err &
player=$!
pids+=("$player")
sleep 1
kill "$pulse"
wait "$pulse" 2>/dev/null || true
status=0
waitFor "$player" 10 "a server that goes away" || status=$?
starts=$(grep -cx "$DSPFEED" gone.started || true)
[ "$status" = 255 ] && [ "$(tail -n 2 gone.err | tr '\n' '|')" = \
    "Error writing to /dev/dsp|dspfeed-play: the sound server failed: Connection terminated|" ] && [ "$starts" = 1 ] ||
    fail "a server that goes away: status $status, $starts players, said $(cat gone.err)"
echo "ok pulseaudio going away mid-stream: status 255, $(tail -n 1 gone.err), one player started"

echo "== PipeWire"
export XDG_RUNTIME_DIR=$work/pipewire-run
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$HOME/.config/pipewire/pipewire.conf.d"
# The graph runs at the stream's rate instead of resampling it.
echo 'context.properties = { default.clock.allowed-rates = [ 8000 44100 48000 ] }' \
    >"$HOME/.config/pipewire/pipewire.conf.d/rates.conf"
dbus-daemon --session --address="unix:path=$XDG_RUNTIME_DIR/bus" --nofork --nopidfile >dbus.log 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
PIPEWIRE_DEBUG=3 pipewire >pipewire.log 2>&1 &
pids+=($!)
sleep 0.5
wireplumber >wireplumber.log 2>&1 &
pids+=($!)
pipewire-pulse >pipewire-pulse.log 2>&1 &
pids+=($!)
waitForServer PipeWire
pactl info | grep 'on PipeWire' >/dev/null || fail "pipewire-pulse is not the server answering"
play pipewire s16-stereo-48k 48000 2 16 "$tools/dspfeed-play" -
# The graph runs at the largest power of two of frames, up to 2048, within
# the shortest node latency its streams ask. dspfeed-play's stream must not
# make that period shorter than pacat's at the same latency makes it: the
# shorter the period, the shorter a stall of the machine that loses sound.
# graphPeriod COMMAND...: the period that COMMAND's stream, alone on the
# server, asks of the graph (on standard output, the rest of it to a log).
graphPeriod() {
    "$@" <&0 >/dev/null 2>>periods.log &
    local player=$! latency=
    for _ in $(seq 40); do
        latency=$(pactl list sink-inputs | sed -n 's/.*node.latency = "\([0-9]*\)\/48000"/\1/p')
        [ -z "$latency" ] || break
        sleep 0.05
    done
    waitFor "$player" 30 "$1 on a graph of its own" >&2
    awk -v latency="${latency:-0}" 'BEGIN {
        for (period = 1; period * 2 <= latency && period < 2048; period *= 2);
        print period }'
}
ours=$(graphPeriod "$tools/dspfeed-play" - <s16-stereo-48k-short.txt)
theirs=$(graphPeriod pacat --latency-msec=200 --raw --format=s16le --rate=48000 --channels=2 <s16-stereo-48k-short.raw)
[ "$ours" -gt 1 ] && [ "$ours" -ge "$theirs" ] ||
    fail "pipewire: dspfeed-play's stream runs the graph at $ours frames a period, pacat's at $theirs"
echo "ok pipewire: dspfeed-play's stream runs the graph at $ours frames a period, as pacat's does"
play pipewire s16-stereo-44k 44100 2 16 "$tools/dspfeed-play" -
play pipewire u8-mono-8k 8000 1 8 "$tools/dspfeed-play" -
play pipewire s16-six-48k 48000 6 16 "$tools/dspfeed-play" -
play pipewire three-parts 48000 2 16 "$tools/dspfeed-play" part-1.txt - part-3.txt
