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
# The state shows the new framebuffer as soon as the commit is accepted, while the
# driver may still be copying it to the display; with a PID, also wait until that
# process is out of the ioctl (blocked in another system call).
_vp_committing() {
    local call
    read -r call _ < "/proc/$1/syscall" 2>/dev/null || return 1
    [ "$call" = running ] || [ "$call" = "$VP_IOCTL_NR" ]
}
# Commits are often non-blocking: the kernel's worker sends the update to the device
# after the state already shows it, and the device answers later. The screen is
# current once every command sent on the control queue has been answered and the
# last one sent is a flush of the scan-out (which ends every plane update).
_vp_gpu_settled() {
    [ "$VP_SETTLE" = virtio ] || return 0
    awk '/virtio_gpu_cmd_queue: .*name=control/ { q++; last = $0 }
         /virtio_gpu_cmd_response: .*name=control/ { r++ }
         END { exit !(q == r && last ~ / type=0x104 /) }' /sys/kernel/tracing/trace
}
wait_scanout() {
    local n=0
    while ! _vp_scanout_by "$1" || { [ -n "$2" ] && _vp_committing "$2"; } ||
        ! _vp_gpu_settled; do
        if [ -n "$2" ] && ! kill -0 "$2" 2>/dev/null; then
            echo "wait_scanout: process $2 ended before showing anything" >&2
            return 1
        fi
        n=$((n + 1))
        [ $n -ge 1000 ] && { echo "wait_scanout: nothing of $1 on the plane" >&2; return 1; }
        usleep 20000
    done
}
wait_no_scanout() {
    local n=0
    while _vp_scanout_by "$1"; do
        n=$((n + 1))
        [ $n -ge 1000 ] && { echo "wait_no_scanout: $1 still on the plane" >&2; return 1; }
        usleep 20000
    done
}
