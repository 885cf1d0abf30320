# shellcheck shell=dash
# The scenario helpers of virtual-panel, sourced by the guest's shell (busybox)
# before the scenario.
# Descriptor 3 is the control port to the host.
_vp_ack() {
    local reply
    read -r reply <&3 || return 1
    [ "$reply" = OK ] && return 0
    echo "virtual-panel: host replied: $reply" >&2
    return 1
}
snap() {
    echo "SNAP $1" >&3
    _vp_ack
}
fetch() {
    local src="$1" name="${2:-$(basename "$1")}"
    if [ ! -f "$src" ]; then
        echo "fetch: no file $src" >&2
        return 1
    fi
    echo "FETCH $name" >&3
    base64 "$src" >&3
    echo "END" >&3
    _vp_ack
}
note() {
    echo "NOTE $*" >&3
    _vp_ack
}
finish() {
    exit "${1:-0}"
}
# The plane's framebuffer as the kernel reports it: "allocated by = COMM" names the
# process that made it. Both waits poll every 20 ms and give up after 20 s;
# wait_scanout also gives up as soon as process PID (when given) has ended.
_vp_scanout_by() {
    grep -q "allocated by = $1\$" /sys/kernel/debug/dri/0/state 2>/dev/null
}
# The state shows the new framebuffer as soon as the commit is accepted, before the
# committing process has handed the rest to the kernel's worker: wait until process
# PID (without one, every process named COMM) is out of the ioctl.
_vp_committing() {
    local pid call
    for pid in ${2:-$(pidof "$1")}; do
        read -r call _ <"/proc/$pid/syscall" 2>/dev/null || continue
        { [ "$call" = running ] || [ "$call" = "$VP_IOCTL_NR" ]; } && return 0
    done
    return 1
}
# The screen is current once the kernel's worker has carried out every commit it was
# given (the device then holds the new state), and on virtio-gpu once the device has
# answered every command sent on its control queue and the last one sent is a flush
# of the scan-out (which ends every plane update).
_vp_screen_current() {
    awk -v virtio="$([ "$VP_SETTLE" = virtio ] && echo 1)" '
        / workqueue_queue_work: / { queued++ }
        / workqueue_execute_end: / { done++ }
        /virtio_gpu_cmd_queue: .*name=control/ { q++; last = $0 }
        /virtio_gpu_cmd_response: .*name=control/ { r++ }
        END { exit !(queued == done && (!virtio || (q == r && last ~ / type=0x104 /))) }
    ' /sys/kernel/tracing/trace
}
# "W H" of the mode of the CRTC whose plane shows COMM's framebuffer.
_vp_mode_size() {
    awk -v comm="$1" '
        /^plane\[/ { plane = 1; crtc = "" }
        /^[a-z]/ && !/^plane\[/ { plane = 0 }
        plane && /^\tcrtc=/ { crtc = substr($0, 7) }
        plane && $0 ~ "allocated by = " comm "$" { shown = crtc }
        /^crtc\[/ { name = $2 }
        /^\tmode: / && shown != "" && name == shown {
            split($0, f, "\": ")
            split(f[2], v, " ")
            print v[3], v[7]
            exit
        }' /sys/kernel/debug/dri/0/state
}
# Once the guest sees the commit carried out, the rig makes sure the device shows it
# (see virtual-panel) and that a screendump has the mode's size.
wait_scanout() {
    local n=0
    while ! _vp_scanout_by "$1" || _vp_committing "$1" "$2" || ! _vp_screen_current; do
        if [ -n "$2" ] && ! kill -0 "$2" 2>/dev/null; then
            echo "wait_scanout: process $2 ended before showing anything" >&2
            return 1
        fi
        n=$((n + 1))
        [ $n -ge 1000 ] && { echo "wait_scanout: nothing of $1 on the plane" >&2; return 1; }
        usleep 20000
    done
    echo "SCANOUT $(_vp_mode_size "$1")" >&3
    _vp_ack
}
wait_no_scanout() {
    local n=0
    while _vp_scanout_by "$1"; do
        n=$((n + 1))
        [ $n -ge 1000 ] && { echo "wait_no_scanout: $1 still on the plane" >&2; return 1; }
        usleep 20000
    done
}
