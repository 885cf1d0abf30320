# shellcheck shell=dash
# Guest side of the smoke set, run on each display driver by tests/vm/smoke_vm.sh:
# panelshow's raw frame and photographs, panelcolor's keys and halves, paneldefect's
# frame, lightsout, and a display held by one panelshow refused to the others.
# Each run leaves NAME.stdout, NAME.stderr and NAME.status (and screendumps).
# shellcheck source=/dev/null # the guest path of tests/vm/terminal_keys.sh, checked on its own
. /data/terminal_keys.sh

collect() {
    for f in stdout stderr status; do [ -f "/tmp/$1.$f" ] && fetch "/tmp/$1.$f"; done
}

# hold NAME ARGS...: panelshow, until its picture is on the screen.
hold() {
    name=$1
    shift
    panelshow "$@" >"/tmp/$name.stdout" 2>"/tmp/$name.stderr" &
    PID=$!
    wait_scanout panelshow "$PID"
}

release() {
    kill "$PID" 2>/dev/null
    wait "$PID"
    echo $? >"/tmp/$1.status"
    wait_no_scanout panelshow
    collect "$1"
}

hold raw /data/frame.rgb && snap raw
release raw
hold png /data/photo.png && snap png
release png
hold jpeg /data/photo.jpg && snap jpeg
release jpeg

# The display held by the first panelshow: the others are refused and name it, and
# its picture stays on the screen.
hold held /data/frame.rgb
echo "$PID" >/tmp/held.pid
for p in panelcolor paneldefect panelshow; do
    args=""
    [ $p = panelshow ] && args=/data/photo.png
    # shellcheck disable=SC2086
    timeout 30 $p $args </dev/null >"/tmp/refused_$p.stdout" 2>"/tmp/refused_$p.stderr"
    echo $? >"/tmp/refused_$p.status"
    collect "refused_$p"
done
snap held
fetch /tmp/held.pid
release held

# panelcolor on a terminal: keys change the columns and the halves.
start pc panelcolor 0 0 0 10 20 30 7 0
wait_lines pc "updating display" 1 && settle pc ""
keys pc 1t && settle pc 1 && snap pc_left_off
keys pc '\t' && settle pc 1 && snap pc_swapped
keys pc 5 && settle pc 1 && snap pc_both
end pc '\003'

start pd paneldefect
wait_lines pd "Background:" 1 && settle pd 5 && snap pd_start
end pd '\003'

# lightsout takes the CRTC down: no CRTC active, no framebuffer on a plane.
# The device stays open here until the state is read: where a console runs (bochs),
# the kernel restores its mode once the last user has closed the device.
hold lit /data/frame.rgb
exec 9</dev/dri/card0
kill "$PID"; wait "$PID"
lightsout >/tmp/lightsout.stdout 2>/tmp/lightsout.stderr
echo $? >/tmp/lightsout.status
cat /sys/kernel/debug/dri/0/state >/tmp/state_after_lightsout
exec 9<&-
collect lightsout
fetch /tmp/state_after_lightsout
