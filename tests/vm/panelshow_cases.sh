# shellcheck shell=dash
# Guest side of the panelshow real-kernel tests, run by tools/virtual-panel/virtual-panel.
# Each case leaves NAME.stdout, NAME.stderr and NAME.status with the host (and NAME.ppm
# when something was shown); tests/vm/panelshow_vm.sh judges them.

# show NAME ARGS...: panelshow should hold the image; screendump it, then end it.
show() {
    local name="$1" pid
    shift
    panelshow "$@" >"/tmp/$name.stdout" 2>"/tmp/$name.stderr" &
    pid=$!
    wait_scanout panelshow "$pid" && snap "$name"
    kill "$pid" 2>/dev/null
    wait "$pid"
    echo $? >"/tmp/$name.status"
    wait_no_scanout panelshow
    collect "$name"
}

# fails NAME ARGS...: panelshow should stop by itself (killed after 30 s if not).
fails() {
    local name="$1"
    shift
    timeout 30 panelshow "$@" >"/tmp/$name.stdout" 2>"/tmp/$name.stderr"
    echo $? >"/tmp/$name.status"
    wait_no_scanout panelshow
    collect "$name"
}

# refused NAME ARGS...: panelshow should refuse the file; the display's state before
# and after (NAME.before, NAME.after) must be the same: nothing of the file shows.
refused() {
    cat /sys/kernel/debug/dri/0/state >"/tmp/$1.before"
    fails "$@"
    cat /sys/kernel/debug/dri/0/state >"/tmp/$1.after"
    fetch "/tmp/$1.before"
    fetch "/tmp/$1.after"
}

collect() {
    fetch "/tmp/$1.stdout"
    fetch "/tmp/$1.stderr"
    fetch "/tmp/$1.status"
}

show raw /data/frame.rgb
show png_alpha /data/alpha.png
show jpeg /data/photo.jpg
show png_photo /data/photo.png
show verbose /data/frame.rgb -v
fails narrow_png /data/narrow.png
fails short_png /data/short.png
fails short_raw /data/short.rgb
fails missing_png /data/missing.png
fails missing_raw /data/missing.rgb
refused cut_jpeg /data/cut.jpg
refused cut_png /data/cut.png
refused cut_bmp /data/cut.bmp
