# shellcheck shell=dash
# Guest side of the launcher real-kernel test, run by tools/virtual-panel/virtual-panel.
# Leaves with the host: timed.{stdout,stderr,status}, lit_level, end_level, state_*, seq.*,
# missing.*, missing_levels and wrapped.*, and the screendump timed_lit.ppm.
BL=/sys/class/backlight/ae94000.dsi.0/brightness

collect() {
    for f in "$@"; do fetch "/tmp/$f"; done
}

# Untimed, ended by an interrupt: the image is on the panel while lit; then
# backlight off, panelshow killed and reaped, lightsout takes the panels down.
panelshow_timed /data/frame.rgb 0 1 -b 50 >/tmp/timed.stdout 2>/tmp/timed.stderr &
launcher=$!
n=0
until child=$(pidof panelshow); do
    n=$((n + 1)); [ $n -ge 500 ] && break; usleep 20000
done
wait_scanout panelshow "$child" && snap timed_lit
cat $BL >/tmp/lit_level
cat /sys/kernel/debug/dri/0/state >/tmp/state_lit
kill -INT "$launcher"
wait "$launcher"
echo $? >/tmp/timed.status
cat $BL >/tmp/end_level
cat /sys/kernel/debug/dri/0/state >/tmp/state_after_interrupt
collect timed.stdout timed.stderr timed.status lit_level end_level state_lit state_after_interrupt

# Timed for 1 s with power-down: the countdown runs out by itself.
panelshow_timed /data/frame.rgb 1000000000 1 >/tmp/timed1.stdout 2>/tmp/timed1.stderr
echo $? >/tmp/timed1.status
cat /sys/kernel/debug/dri/0/state >/tmp/state_after_timeout
collect timed1.stdout timed1.stderr timed1.status state_after_timeout

# From the installed packages: the sequence starts the burstkit image program and
# ends with lightsout; panelinfo runs panelquery. The image is lit for 3 s, long
# enough for the image program to have set the display up under emulation.
if [ -x /usr/bin/panelshow_sequence ]; then
    mkdir -p /data/burst && ln -s /data/frame.rgb /data/burst/frame.rgb
    /usr/bin/panelshow_sequence /data/burst 100000000 3000000000 >/tmp/pkgseq.stdout 2>/tmp/pkgseq.stderr
    echo $? >/tmp/pkgseq.status
    cat /sys/kernel/debug/dri/0/state >/tmp/state_after_sequence
    /usr/bin/panelinfo >/tmp/info.stdout 2>/tmp/info.stderr
    collect pkgseq.stdout pkgseq.stderr pkgseq.status state_after_sequence info.stdout info.stderr
fi

# A sequence stopped by Ctrl-C (SIGINT) while its first image is lit: backlight
# off, the image program killed and reaped, then the usual end (lightsout).
mkdir -p /tmp/seq && cp /data/frame.rgb /tmp/seq/
panelshow_sequence /tmp/seq 100000000 60000000000 >/tmp/seq.stdout 2>/tmp/seq.stderr &
runner=$!
n=0
until [ "$(cat $BL)" = 193 ]; do
    n=$((n + 1)); [ $n -ge 1000 ] && break; usleep 20000
done
cat $BL >/tmp/seq_lit_level
kill -INT "$runner"
wait "$runner"
echo $? >/tmp/seq.status
cat $BL >/tmp/seq_end_level
pidof panelshow >/tmp/seq_children
collect seq.stdout seq.stderr seq.status seq_lit_level seq_end_level seq_children

# A sequence whose image program is missing: the entry is never lit. The
# brightness file becomes a FIFO for this run, so every level written is kept.
burstkit=/usr/lib/kestrin-display-tools/burstkit/panelshow
mv "$burstkit" /tmp/burstkit.away
rm -f $BL && mkfifo $BL
exec 6<>$BL # a writer of our own: the reader never sees the end
cat <&6 >/tmp/missing_levels &
reader=$!
panelshow_sequence /tmp/seq 100000000 100000000 >/tmp/missing.stdout 2>/tmp/missing.stderr
echo $? >/tmp/missing.status
echo end >&6
n=0
until grep -qx end /tmp/missing_levels; do
    n=$((n + 1)); [ $n -ge 500 ] && break; usleep 20000
done
kill "$reader"
exec 6>&-
rm -f $BL && echo 0 >$BL
mv /tmp/burstkit.away "$burstkit"
collect missing.stdout missing.stderr missing.status missing_levels

# A burstkit image program that is a shell wrapper starting panelshow without
# exec: each entry's whole process group ends before the next starts, none is
# left running, and lightsout gets the display.
mv "$burstkit" /tmp/burstkit.real
printf '#!/bin/sh\n/tmp/burstkit.real "$@"\nexit $?\n' >"$burstkit" && chmod +x "$burstkit"
mkdir -p /tmp/seq3 && for i in 1 2 3; do cp /data/frame.rgb /tmp/seq3/$i.rgb; done
panelshow_sequence /tmp/seq3 100000000 100000000 >/tmp/wrapped.stdout 2>&1
echo $? >/tmp/wrapped.status
pidof burstkit.real >/tmp/wrapped_children
mv /tmp/burstkit.real "$burstkit"
collect wrapped.stdout wrapped.status wrapped_children
