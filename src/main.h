// The dspfeed program: plays a text sample stream from standard input on "/dev/dsp".
// SPDX-License-Identifier: MIT
// The entry point is called by no other module, so this header declares nothing.
#pragma once
