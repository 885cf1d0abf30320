#!/bin/sh
# panelcolor and paneldefect on a real kernel (virtual panel).
#   interactive_vm.sh boot BUILD_DIR OUT_DIR        boot once, run every case
#   interactive_vm.sh check CASE BUILD_DIR OUT_DIR  judge one case from what the boot left
# VM_ARCH (default x86_64) is the guest's architecture; BUILD_DIR then holds programs
# built for it (statically for arm64), and VM_HOST_BUILD (default BUILD_DIR) the host
# tools that make the pictures and judge the screendumps.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
ENDING="exiting... Turning off backlight"

fail() {
    echo "FAIL: $*"
    exit 1
}

boot() {
    build=$1
    out=$2
    rm -rf "$out/run" # results of an earlier boot must not be judged again
    "$ROOT/tools/virtual-panel/virtual-panel" --arch "${VM_ARCH:-x86_64}" \
        --bin "$build/src/panelcolor" \
        --bin "$build/src/paneldefect" --bin "$build/tests/vm/key_terminal" \
        --file "$HERE/terminal_keys.sh:/data/terminal_keys.sh" \
        --scenario "$HERE/interactive_cases.sh" --out "$out/run" --timeout 560
}

# ended RUN NAME STATUS: exit status, empty stderr, the ending line last, the
# backlight lit after the first frame and off at the end.
ended() {
    r=$1/$2
    [ -f "$r.status" ] || fail "$2: no results (did the boot test run?)"
    [ "$(cat "$r.status")" = "$3" ] || fail "$2: exit status $(cat "$r.status"), expected $3; stderr: $(cat "$r.stderr")"
    [ ! -s "$r.stderr" ] || fail "$2: unexpected standard error: $(cat "$r.stderr")"
    [ "$(tail -n 1 "$r.stdout")" = "$ENDING" ] || fail "$2: last line is not the ending: $(tail -n 3 "$r.stdout")"
    [ "$(cat "$r.bl_on")" = 255 ] || fail "$2: brightness $(cat "$r.bl_on") after the first frame, expected 255"
    [ "$(cat "$r.bl_end")" = 0 ] || fail "$2: brightness $(cat "$r.bl_end") at the end, expected 0"
    ! grep -q "^Tried" "$r.stdout" || fail "$2: a commit kept failing: $(grep "^Tried" "$r.stdout")"
}

# count RUN NAME LINE N: the program printed LINE exactly N times.
count() {
    n=$(grep -c -F -x -e "$3" "$1/$2.stdout")
    [ "$n" = "$4" ] || fail "$2: '$3' printed $n times, expected $4"
}

screen() {
    [ -f "$run/$2.ppm" ] || fail "$2: no screendump"
    "$TOOLS/screen_check" "$1" "$run/$2.ppm" "$3" "$4" ${5:+"$5"} || fail "$2: wrong picture on the screen"
}

# defects DUMP BACKGROUND ZONE_A ZONE_B: the background except the ten defects.
defects() {
    [ -f "$run/$1.ppm" ] || fail "$1: no screendump"
    "$TOOLS/screen_check" except "$run/$1.ppm" "$2" \
        1080,1080="$3" 1080,570="$3" 3240,1080="$3" 3240,570="$3" \
        540,1080="$4" 1620,1080="$4" 1080,1620="$4" 2700,1080="$4" 3780,1080="$4" 3240,1620="$4" ||
        fail "$1: wrong picture on the screen"
}

check() {
    name=$1
    TOOLS=${VM_HOST_BUILD:-$2}/tools/screen
    run=$3/run
    case $name in
    PanelcolorStartsWhiteAndEnterEnds)
        screen columns pc_white ffffff ffffff both
        ended "$run" pc_white 0
        count "$run" pc_white "updating display" 2 ;;
    PanelcolorKeysChangeColumnsAndHalves)
        screen columns pc_keys_left_off ffffff 0a141e right
        screen columns pc_keys_swapped ffffff 0a141e left
        screen columns pc_keys_blank ffffff 0a141e none
        screen columns pc_keys_both ffffff 0a141e both
        grep -q -F -x -e " Odd Cols: R: 0x0a ( 10) (locked)  G: 0x14 ( 20) (locked)  B: 0x1e ( 30) (locked)" \
            "$run/pc_keys.stdout" || fail "pc_keys: no locked odd-column line"
        ended "$run" pc_keys 0 ;;
    PanelcolorSigtermEndsInOrder)
        ended "$run" pc_term 0 ;;
    PanelcolorThousandRedrawsThenCtrlC)
        ended "$run" pc_many 0
        count "$run" pc_many "updating display" 1002 ;;
    PaneldefectStartUpPatternAndKeys)
        defects pd_start 000000 2d2d2d 6d6d6d
        defects pd_zone_b 000000 2d2d2d 717171
        defects pd_dark ffffff c3c3c3 b9b9b9
        defects pd_background 040404 2d2d2d 6d6d6d
        ended "$run" pd_keys 0 ;;
    PaneldefectThousandRedrawsThenCtrlC)
        ended "$run" pd_many 0
        count "$run" pd_many "Background:" 1002 ;;
    *)
        fail "unknown case $name" ;;
    esac
    echo "ok: $name"
}

case ${1:-} in
boot) boot "$2" "$3" ;;
check) check "$2" "$3" "$4" ;;
*) echo "usage: $0 boot BUILD_DIR OUT_DIR | check CASE BUILD_DIR OUT_DIR" >&2; exit 2 ;;
esac
