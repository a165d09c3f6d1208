#!/bin/sh
# Runs the player under valgrind against the fake driver: no memory error, nothing definitely lost.
# SPDX-License-Identifier: MIT
# Usage: valgrind_check.sh PATH-TO-DSPFEED PATH-TO-FAKE-DSP-LIBRARY
set -eu
player=$1
fake_driver=$2
header='SAMPLES: 2 BITSPERSAMPLE: 16 CHANNELS: 2 SAMPLERATE: 8000 NORMALIZED: FALSE'

# check NAME EXPECTED-STATUS STREAM [DRIVER-SETTING]
check() {
    status=0
    printf '%s\n' "$3" | env ${4:+"$4"} LD_PRELOAD="$fake_driver" \
        valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite "$player" \
        2>/dev/null || status=$?
    if [ "$status" -ne "$2" ]; then
        echo "FAIL $1: status $status, expected $2 (1 is a valgrind error)" >&2
        printf '%s\n' "$3" | env ${4:+"$4"} LD_PRELOAD="$fake_driver" \
            valgrind --leak-check=full "$player" >&2 || true
        exit 1
    fi
    echo "ok $1: status $status, no valgrind error"
}

check "normal playback" 0 "$header 1 2 3 4"
check "header error" 254 "SAMPLES: 2 CHANNELS: 2"
check "refused request" 254 "$header 1 2 3 4" FAKE_DSP_CHANNELS=refuse
check "broken body" 0 "$header 1 2 3 x"
check "failing write" 255 "$header 1 2 3 4" FAKE_DSP_WRITES=fail
