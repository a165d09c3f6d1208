#!/bin/sh
# A first stream of one's own, made by awk: two seconds of A (440 Hz), 48 kHz, 16-bit mono.
# SPDX-License-Identifier: MIT
# Usage: examples/tone.sh | dspfeed-play -      (then change a number and play it again)
awk 'BEGIN {
    rate = 48000; seconds = 2; frequency = 440; level = 8000
    frames = rate * seconds
    # The header: five fields, in this order; SAMPLES counts frames, not values.
    printf "SAMPLES: %d\nBITSPERSAMPLE: 16\nCHANNELS: 1\nSAMPLERATE: %d\nNORMALIZED: FALSE\n", frames, rate
    # Then one frame a line: at 16 bits, values from -32768 to 32767.
    for (i = 0; i < frames; i++)
        printf "%d\n", level * sin(2 * 3.14159265358979 * frequency * i / rate)
}'
