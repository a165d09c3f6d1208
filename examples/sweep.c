/* A first stream of one's own, in C: a sweep from 200 Hz to 2 kHz, 8 kHz, 8-bit mono.
 * Usage: cc -O2 -o sweep examples/sweep.c -lm && ./sweep | dspfeed-play -
 * SPDX-License-Identifier: MIT
 */
#include <math.h>
#include <stdio.h>

int main(void) {
    const int rate = 8000;
    const int frames = 3 * rate;
    const double low = 200, high = 2000, pi = 3.14159265358979;
    double phase = 0;
    /* The header: five fields, in this order; SAMPLES counts frames, not values. */
    printf("SAMPLES: %d\nBITSPERSAMPLE: 8\nCHANNELS: 1\nSAMPLERATE: %d\nNORMALIZED: FALSE\n", frames, rate);
    for (int index = 0; index < frames; index++) {
        phase += 2 * pi * low * pow(high / low, (double)index / frames) / rate;
        /* At 8 bits the values are unsigned, 0 to 255: 128 is silence. */
        printf("%d\n", 128 + (int)lround(100 * sin(phase)));
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
