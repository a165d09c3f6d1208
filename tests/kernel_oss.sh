#!/bin/bash
# Boots Debian's own kernel in a virtual machine, its OSS emulation on a loopback card, and checks the bare player there byte for byte.
# SPDX-License-Identifier: MIT
# Usage: kernel_oss.sh DSPFEED KERNEL-GUEST FAKE-DSP-LIBRARY
# The kernel package is the one tests/install-test-packages keeps in
# /var/cache/dspfeed; it is unpacked there once. The guest is busybox, the
# sound modules, the player and kernel_guest with their libraries, and
# kernel_guest_init, which says on the serial console how each case went.
set -euo pipefail
# The guest, whose timer clocks its loopback card.
source "$(dirname "$0")/realtime.sh"
player=$(realpath "$1")
guest=$(realpath "$2")
fake_driver=$(realpath "$3")
cache=/var/cache/dspfeed
fail() {
    echo "FAIL $*" >&2
    exit 1
}
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is missing: install qemu-system-x86"
# (grep reads busybox's list to its end: a closed pipe would fail the check.)
busybox=$(command -v busybox) && "$busybox" --list | grep -x insmod >/dev/null ||
    fail "busybox is missing: install busybox-static"
packages=("$cache"/linux-image-*.deb)
package=${packages[0]}
[ -e "$package" ] || fail "no kernel package in $cache: run tests/install-test-packages"
kernel=$cache/$(basename "$package" .deb)
if [ ! -d "$kernel" ]; then
    rm -rf "$kernel.part"
    dpkg-deb -x "$package" "$kernel.part"
    mv "$kernel.part" "$kernel"
fi
version=$(ls "$kernel/boot" | sed -n 's/^vmlinuz-//p')
# Debian 13 keeps its modules under /usr.
base=$kernel
[ -d "$base/lib/modules/$version" ] || base=$kernel/usr
[ -e "$base/lib/modules/$version/modules.dep" ] || depmod -b "$base" "$version"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,modules,proc,sys,dev}
cp "$busybox" "$root/bin/busybox"
cp "$player" "$root/bin/dspfeed"
cp "$guest" "$root/bin/kernel_guest"
cp "$(dirname "$0")/kernel_guest_init" "$root/init"
for program in "$player" "$guest"; do
    ldd "$program" | grep -o '/[^ ]*' | xargs -I{} cp -L --parents {} "$root"
done
# The modules in the order they load, uncompressed for busybox's insmod.
modprobe -d "$base" -S "$version" --show-depends -a snd-pcm-oss snd-aloop | awk '!seen[$2]++ { print $2 }' |
    while read -r module; do
        name=$(basename "$module" .xz)
        case $module in *.xz) "$busybox" unxz -c "$module" >"$root/modules/$name" ;; *) cp "$module" "$root/modules/" ;; esac
        options=
        [ "$name" = snd-aloop.ko ] && options=pcm_substreams=1
        echo "$name $options" >>"$root/modules/order"
    done
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$work/initrd"

started=$(date +%s)
timeout 170 qemu-system-x86_64 -machine pc,accel=tcg -m 512 -display none -monitor none -nic none -no-reboot \
    -serial file:"$work/console" -kernel "$kernel/boot/vmlinuz-$version" -initrd "$work/initrd" \
    -append 'console=ttyS0 panic=-1 loglevel=4' || fail "qemu: status $?: $(tail -n 20 "$work/console")"
echo "== the guest, on Debian's kernel $version, took $(($(date +%s) - started)) s"
tr -d '\r' <"$work/console" | sed -n 's/^dspfeed-guest: //p' >"$work/said"
cat "$work/said"
tr -d '\r' <"$work/console" | sed -n 's/^dspfeed-guest-again: /again: /p'

# What each case must have said: exact bytes (after them the loopback may
# replay a stale stretch of its capture buffer, which is not the player's),
# paced writes, and the kernel's answers to what the card lacks, with what the
# player then does. Debian 12's kernel grants 33 channels and runs the card
# at 32; Debian 13's grants them, then refuses the rate. A format code it
# converts from is kept, and refused by the player unless it is 8 or 16; any
# other number is answered with 8 bits. (tools/lib/oss_answers.h follows these.)
refused_rate="refused rate; status 254, says Error setting sample rate on /dev/dsp"
thirty_three="format 16 channels 33 rate 48000; status 0"
[[ $version == 6.1.* ]] || thirty_three=$refused_rate
expected=(
    "16-bit stereo at 48000 Hz: exact: .* sounding frames after them; status 0; took [0-9]+ cs, paced .*"
    "8-bit mono at 8000 Hz: exact: .* sounding frames after them; status 0; took [0-9]+ cs, paced .*"
    "16-bit stereo at 48000 Hz past the buffer: exact: .* sounding frames after them; status 0; took [0-9]+ cs, paced .*"
    "rate 7: format 16 channels 2 rate 1000; status 0"
    "rate 0: format 16 channels 2 rate 1000; status 0"
    "rate -5: format 16 channels 2 rate 1000; status 0"
    "rate 400000: format 16 channels 2 rate 192000; status 0"
    "9 channels: format 16 channels 9 rate 48000; status 0"
    "33 channels: $thirty_three"
    "200 channels: refused channels; status 254, says Error setting number of channels on /dev/dsp"
    "0 channels: format 16 channels 1 rate 48000; status 0"
    "-5 channels: refused channels; status 254, says Error setting number of channels on /dev/dsp"
    "128 channels: (format 16 channels 128 rate 48000; status 0, says Early end of input - text file broken\?|$refused_rate)"
    "129 channels: refused channels; status 254, says Error setting number of channels on /dev/dsp"
    "format 0: format 8 channels 2 rate 48000; status 0"
    "format 2: format 8 channels 2 rate 48000; status 0"
    "format 24: format 8 channels 2 rate 48000; status 0"
    "format 32: format 32 channels 2 rate 48000; status 254, says Error setting sample size on /dev/dsp"
    "format 1: format 1 channels 2 rate 48000; status 254, says Error setting sample size on /dev/dsp"
    "format -16: format 8 channels 2 rate 48000; status 0"
    "format 4096: format 4096 channels 2 rate 48000; status 254, says Error setting sample size on /dev/dsp"
    "capture side busy: status 255, says Error opening /dev/dsp"
    "done"
)
for index in "${!expected[@]}"; do
    line=$(sed -n "$((index + 1))p" "$work/said")
    [[ $line =~ ^${expected[index]}$ ]] || fail "case $((index + 1)): expected '${expected[index]}', said '$line'"
done
echo "ok all ${#expected[@]} cases on the kernel's own /dev/dsp"

# The fake driver answering as the kernel does, which the bridge and
# dspfeed-check follow, says the same as the kernel wherever the card has no
# say: the answers, the player's status and its message.
for name in "rate 0" "rate -5" "rate 400000" "0 channels" "-5 channels" "129 channels" "200 channels" \
    "format 0" "format 2" "format 24" "format 32" "format 1" "format -16" "format 4096"; do
    read -r bits channels rate < <(sed -n "s/^answered \"$name\" \(.*\)$/\1/p" "$(dirname "$0")/kernel_guest_init")
    { printf 'SAMPLES: 4 BITSPERSAMPLE: %s CHANNELS: %s SAMPLERATE: %s NORMALIZED: FALSE\n' "$bits" "$channels" "$rate"
      seq 200 | tr '\n' ' '; echo; } >"$work/odd.txt"
    rm -f "$work/fake.log"
    status=0
    LD_PRELOAD=$fake_driver FAKE_DSP_ANSWERS=kernel FAKE_DSP_LOG=$work/fake.log "$player" <"$work/odd.txt" \
        2>"$work/fake.said" || status=$?
    answers=$(sed -n 's/^ioctl SNDCTL_DSP_\([A-Z]*\) .* -> \(.*\)$/\1 \2/p' "$work/fake.log" |
        sed 's/^SETFMT/format/; s/^CHANNELS/channels/; s/^SPEED/rate/' | tr '\n' ' ' | sed 's/ $//')
    if [[ $answers == *" refused" ]]; then
        answers=${answers% refused}
        answers="refused ${answers##* }"
    fi
    outcome="status $status$(sed 's/^/, says /' "$work/fake.said")"
    kernel=$(awk -v case="$name: " 'index($0, case) == 1' "$work/said")
    kernel_answers=${kernel#"$name: "} kernel_answers=${kernel_answers%%;*}
    # The player asks no more once it stops, where the guest asked all three.
    [[ "$kernel_answers " == "$answers "* ]] && [ "${kernel#*; }" = "$outcome" ] ||
        fail "the fake driver as the kernel: '$name: $answers; $outcome', the kernel: '$kernel'"
done
echo "ok the fake driver answers as the kernel in 14 cases: the answers, the status and the message"
