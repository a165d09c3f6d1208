#!/usr/bin/env python3
"""A first stream of one's own, in Python: a C major chord that fades, 48 kHz, 16-bit stereo.

Usage: python3 examples/chord.py | dspfeed-play -
"""
# SPDX-License-Identifier: MIT
import math
import sys

RATE = 48000
SECONDS = 3
NOTES = {"C": 261.63, "E": 329.63, "G": 392.00}
LEVEL = 10000  # of 32767, the loudest a 16-bit value goes

frames = RATE * SECONDS
out = sys.stdout
# The header: five fields, in this order; SAMPLES counts frames, not values.
out.write(f"SAMPLES: {frames}\nBITSPERSAMPLE: 16\nCHANNELS: 2\nSAMPLERATE: {RATE}\nNORMALIZED: FALSE\n")
for index in range(frames):
    time = index / RATE
    fade = 1 - time / SECONDS
    c, e, g = (math.sin(2 * math.pi * frequency * time) for frequency in NOTES.values())
    # A frame is a value for each channel, left first: C and E on the left, E and G on the right.
    left = round(LEVEL * fade * (c + e) / 2)
    right = round(LEVEL * fade * (e + g) / 2)
    out.write(f"{left} {right}\n")
