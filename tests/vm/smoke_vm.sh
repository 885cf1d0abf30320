#!/bin/sh
# The smoke set of the real-kernel tests on one display driver (virtual panel).
#   smoke_vm.sh boot GPU BUILD_DIR OUT_DIR        make the pictures, boot once, run every case
#   smoke_vm.sh check CASE GPU BUILD_DIR OUT_DIR  judge one case from what the boot left
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

fail() {
    echo "FAIL: $*"
    exit 1
}

# The mode each adapter lists first for a 4320 x 2160 display.
mode_line() {
    case $1 in
    qxl) echo "Targeting mode[0] (4320 x 2160 @ 60Hz)" ;;
    *) echo "Targeting mode[0] (4320 x 2160 @ 75Hz)" ;;
    esac
}

boot() {
    gpu=$1
    build=$2
    out=$3
    tools=$build/tools/screen
    rm -rf "$out/run"
    mkdir -p "$out/data"
    d=$out/data
    { "$tools/make_test_image" raw "$d/frame.rgb" &&
        "$tools/make_test_image" photo-jpeg "$d/photo.jpg" &&
        "$tools/make_test_image" photo-png "$d/photo.png"; } ||
        fail "could not make the test pictures"
    "$ROOT/tools/virtual-panel/virtual-panel" --gpu "$gpu" \
        --bin "$build/src/panelshow" --bin "$build/src/panelcolor" \
        --bin "$build/src/paneldefect" --bin "$build/src/lightsout:/usr/bin" \
        --bin "$build/tests/vm/key_terminal" \
        --file "$d/frame.rgb:/data/frame.rgb" --file "$d/photo.jpg:/data/photo.jpg" \
        --file "$d/photo.png:/data/photo.png" --file "$HERE/terminal_keys.sh:/data/terminal_keys.sh" \
        --scenario "$HERE/smoke_cases.sh" --out "$out/run" --timeout 170
}

screen() {
    [ -f "$run/$2.ppm" ] || fail "$2: no screendump; stderr: $(cat "$run/$2.stderr" 2>/dev/null)"
    "$TOOLS/screen_check" "$1" "$run/$2.ppm" "$3" ${4:+"$4"} ${5:+"$5"} || fail "$2: wrong picture on the screen"
}

# held NAME: panelshow held its image until killed (143), its mode line all it printed.
held() {
    [ -f "$run/$1.status" ] || fail "$1: no results (did the boot test run?)"
    [ "$(cat "$run/$1.status")" = 143 ] || fail "$1: status $(cat "$run/$1.status"); stderr: $(cat "$run/$1.stderr")"
    [ ! -s "$run/$1.stderr" ] || fail "$1: unexpected standard error: $(cat "$run/$1.stderr")"
    [ "$(cat "$run/$1.stdout")" = "$MODE_LINE" ] || fail "$1: standard output $(cat "$run/$1.stdout")"
}

# ended NAME: an interactive program ended by Ctrl-C, its ending line last.
ended() {
    [ -f "$run/$1.status" ] || fail "$1: no results (did the boot test run?)"
    [ "$(cat "$run/$1.status")" = 0 ] || fail "$1: status $(cat "$run/$1.status"); stderr: $(cat "$run/$1.stderr")"
    [ ! -s "$run/$1.stderr" ] || fail "$1: unexpected standard error: $(cat "$run/$1.stderr")"
    [ "$(tail -n 1 "$run/$1.stdout")" = "exiting... Turning off backlight" ] || fail "$1: $(tail -n 3 "$run/$1.stdout")"
}

# refused PROGRAM: status 1, and after the commit's diagnostic the request's reason
# and the line naming the panelshow that holds the display.
refused() {
    r=$run/refused_$1
    [ -f "$r.status" ] || fail "refused $1: no results"
    [ "$(cat "$r.status")" = 1 ] || fail "refused $1: status $(cat "$r.status"); stderr: $(cat "$r.stderr")"
    pid=$(cat "$run/held.pid")
    printf '%s: DRM_IOCTL_MODE_ATOMIC: Permission denied\n%s: /dev/dri/card0 is in use by: panelshow (pid %s)\n' \
        "$1" "$1" "$pid" >"$r.expected"
    tail -n 2 "$r.stderr" | diff -u "$r.expected" - || fail "refused $1: standard error ends otherwise"
    { [ "$(wc -l <"$r.stderr")" = 3 ] &&
        head -n 1 "$r.stderr" | grep -Eq "^$1: src/display/display_fb\.cpp:[0-9]+: display_flip: Assertion \`!ret' failed\.$"; } ||
        fail "refused $1: no commit diagnostic first: $(cat "$r.stderr")"
}

check() {
    name=$1
    gpu=$2
    TOOLS=$3/tools/screen
    run=$4/run
    d=$4/data
    MODE_LINE=$(mode_line "$gpu")
    case $name in
    PanelshowRawFrameIsShownByteForByte)
        screen raw raw "$d/frame.rgb"
        held raw ;;
    PanelshowPhotographsAreShownExactly)
        screen image png "$d/photo.png"
        held png
        screen image jpeg "$d/photo.jpg" 3
        held jpeg ;;
    PanelcolorKeysChangeColumnsAndHalves)
        screen columns pc_left_off ffffff 0a141e right
        screen columns pc_swapped ffffff 0a141e left
        screen columns pc_both ffffff 0a141e both
        ended pc ;;
    PaneldefectShowsItsFrame)
        [ -f "$run/pd_start.ppm" ] || fail "pd_start: no screendump"
        "$TOOLS/screen_check" except "$run/pd_start.ppm" 000000 \
            1080,1080=2d2d2d 1080,570=2d2d2d 3240,1080=2d2d2d 3240,570=2d2d2d \
            540,1080=6d6d6d 1620,1080=6d6d6d 1080,1620=6d6d6d 2700,1080=6d6d6d \
            3780,1080=6d6d6d 3240,1620=6d6d6d || fail "pd_start: wrong picture on the screen"
        ended pd ;;
    LightsoutTakesTheCrtcDown)
        [ "$(cat "$run/lightsout.status")" = 0 ] || fail "lightsout: status $(cat "$run/lightsout.status"); $(cat "$run/lightsout.stderr")"
        ! grep -q "^[[:space:]]active=1" "$run/state_after_lightsout" || fail "lightsout: a CRTC is still active"
        ! grep -q "allocated by" "$run/state_after_lightsout" || fail "lightsout: a framebuffer is still on a plane" ;;
    HeldDisplayIsRefusedToOthersNamingItsHolder)
        refused panelcolor
        refused paneldefect
        refused panelshow
        screen raw held "$d/frame.rgb"
        held held ;;
    *)
        fail "unknown case $name" ;;
    esac
    echo "ok: $name ($gpu)"
}

case ${1:-} in
boot) boot "$2" "$3" "$4" ;;
check) check "$2" "$3" "$4" "$5" ;;
*) echo "usage: $0 boot GPU BUILD_DIR OUT_DIR | check CASE GPU BUILD_DIR OUT_DIR" >&2; exit 2 ;;
esac
