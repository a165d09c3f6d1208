// The dspfeed program: plays a text sample stream from standard input on "/dev/dsp".
// The entry point is called by no other module, so this header declares nothing.
#pragma once
