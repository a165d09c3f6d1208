# Sourced first by the checks whose sound must come on time: they run again at a real-time priority where root may.
# SPDX-License-Identifier: MIT
# A sound server, or the timer that clocks the kernel guest's loopback card,
# runs ahead of whatever else the machine does, as a desktop's servers and a
# card's own clock do, so that a build beside the suite comes second to them
# (DSPFEED_REALTIME=off runs without it, for comparison). What arrives is
# held to the same exact samples either way.
if [ -z "${DSPFEED_REALTIME:-}" ] && chrt --rr 10 true 2>/dev/null; then
    DSPFEED_REALTIME="round-robin 10" exec chrt --rr 10 "$0" "$@"
fi
echo "real-time priority: ${DSPFEED_REALTIME:-none (not allowed here)}"
