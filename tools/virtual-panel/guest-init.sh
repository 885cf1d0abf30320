#!/bin/sh
# shellcheck shell=dash
# The guest's /init (busybox): loads the display driver, waits for /dev/dri/card0,
# puts plain files in place of the backlight's sysfs files and runs the scenario
# with the helpers of /etc/virtual-panel.sh. What differs from boot to boot comes
# from /etc/virtual-panel.conf, written by virtual-panel:
#   VP_TOOL_DIR   where the programs are (put first on PATH)
#   VP_CONTROL, VP_STDOUT, VP_STDERR   the guest's ports to the rig (names in /dev)
#   VP_IOCTL_NR   the ioctl system call's number (wait_scanout)
#   VP_GPU, VP_SETTLE   the display adapter, and how its screen is known current
#   VP_CONSOLE    1 where the driver keeps its fbdev console
#   VP_BACKLIGHT, VP_BRIGHTNESS, VP_MAX_BRIGHTNESS   the backlight and its files
# and /etc/virtual-panel.modules: the driver's modules in load order, one a line
# with its parameters.
# shellcheck source=/dev/null
. /etc/virtual-panel.conf
: "${VP_TOOL_DIR:?}" "${VP_CONTROL:?}" "${VP_STDOUT:?}" "${VP_STDERR:?}" "${VP_IOCTL_NR:?}"
: "${VP_GPU:?}" "${VP_SETTLE:?}" "${VP_CONSOLE:?}"
: "${VP_BACKLIGHT:?}" "${VP_BRIGHTNESS:?}" "${VP_MAX_BRIGHTNESS:?}"
export PATH="$VP_TOOL_DIR:/usr/bin:/bin:/sbin"
export VP_IOCTL_NR VP_GPU VP_SETTLE
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t debugfs debug /sys/kernel/debug
mount -t tracefs trace /sys/kernel/tracing
while read -r module params; do
    # shellcheck disable=SC2086 # the parameters are words of their own
    insmod "$module" $params
done </etc/virtual-panel.modules
# A virtio serial port opens once it is set up, a little after the module is in.
for p in "$VP_CONTROL" "$VP_STDOUT" "$VP_STDERR"; do
    n=0
    while ! (: <>"/dev/$p") 2>/dev/null && [ $n -lt 1000 ]; do n=$((n + 1)); usleep 10000; done
done
# Held open for good, so that terminal settings last (some tty drivers reset them
# at the last close); ports that are not terminals pass bytes as they are.
exec 3<>"/dev/$VP_CONTROL" 4<>"/dev/$VP_STDOUT" 5<>"/dev/$VP_STDERR"
for fd in 3 4 5; do [ -t $fd ] && stty raw -echo <&$fd; done
n=0
while [ ! -e /dev/dri/card0 ]; do
    n=$((n + 1))
    if [ $n -ge 1000 ]; then
        echo "ERROR /dev/dri/card0 did not appear" >&3
        poweroff -f
    fi
    usleep 10000
done
# What a console does at boot: one commit, a mode set with its framebuffer. The
# console then steps aside, so that nothing but the programs draws (on qxl it would
# draw on the surface the programs' framebuffers share), and the last close of the
# device makes that commit again, whatever the console had done by now.
if [ "$VP_CONSOLE" = 1 ]; then
    for con in /sys/class/vtconsole/vtcon*; do
        grep -q "frame buffer" "$con/name" && echo 0 >"$con/bind"
    done
    : </dev/dri/card0
fi
# For wait_scanout: the commits the kernel carries out later (non-blocking ones) go
# to its worker, traced as queued and as done; on virtio-gpu, the device's commands
# and answers, with room for far more than one run sends.
T=/sys/kernel/tracing
work=$(awk '$3 == "commit_work" && $1 !~ /^0+$/ {
    printf "%sfunction == 0x%s", sep, $1
    sep = " || "
}' /proc/kallsyms)
if [ -z "$work" ]; then
    echo "ERROR no address of the kernel's commit_work" >&3
    poweroff -f
fi
for event in workqueue_queue_work workqueue_execute_end; do
    echo "$work" >"$T/events/workqueue/$event/filter"
    echo 1 >"$T/events/workqueue/$event/enable"
done
if [ "$VP_SETTLE" = virtio ]; then
    echo 16384 >"$T/buffer_size_kb"
    echo 1 >"$T/events/virtio_gpu/enable"
fi
mount -t tmpfs backlight /sys/class/backlight
mkdir -p "/sys/class/backlight/$VP_BACKLIGHT"
echo "$VP_BRIGHTNESS" > "/sys/class/backlight/$VP_BACKLIGHT/brightness"
echo "$VP_MAX_BRIGHTNESS" > "/sys/class/backlight/$VP_BACKLIGHT/max_brightness"
echo READY >&3
cd /tmp || poweroff -f
sh -c '. /etc/virtual-panel.sh; . /scenario' </dev/null >&4 2>&5 4>&- 5>&-
echo "EXIT $?" >&3
read -r _ <&3
poweroff -f
