#!/bin/sh
# panelshow_timed, panelshow_sequence and lightsout on a real kernel (virtual panel).
#   launchers_vm.sh BUILD_DIR OUT_DIR [package]
# With "package" the programs come from BUILD_DIR installed as the two Debian
# packages lay them out (cmake --install of both their components; the guest has
# no dpkg) and run from their installed paths; panelshow_sequence and panelinfo
# then run too.
# VM_ARCH (default x86_64) is the guest's architecture; BUILD_DIR then holds programs
# built for it (statically for arm64), and VM_HOST_BUILD (default BUILD_DIR) the host
# tools that make the pictures and judge the screendumps.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
build=$1
out=$2
mode=${3:-}
run=$out/run
tools=${VM_HOST_BUILD:-$build}/tools/screen

fail() {
    echo "FAIL: $*"
    exit 1
}

# no_active_crtc STATE: lightsout left every CRTC inactive and no framebuffer shown.
no_active_crtc() {
    [ -f "$run/$1" ] || fail "$1: not fetched"
    grep -q "^[[:space:]]active=1" "$run/$1" && fail "$1: a CRTC is still active:
$(cat "$run/$1")"
    grep -q "allocated by" "$run/$1" && fail "$1: a framebuffer is still on a plane"
    return 0
}

mkdir -p "$out/data"
"$tools/make_test_image" raw "$out/data/frame.rgb" || fail "could not make the test frame"
set -- --bin "$build/src/panelshow" \
    --bin "$build/src/panelshow_timed" --bin "$build/src/lightsout:/usr/bin" \
    --bin "$build/src/panelshow_sequence" \
    --bin "$build/src/panelshow:/usr/lib/kestrin-display-tools/burstkit"
if [ "$mode" = package ]; then
    lib=/usr/lib/kestrin-display-tools
    rm -rf "$out/root" && mkdir -p "$out/root"
    DESTDIR="$out/root" cmake --install "$build" >/dev/null || fail "cmake --install failed"
    set -- --bin "$out/root/usr/bin:/usr/bin" --bin "$out/root$lib:$lib" \
        --bin "$out/root$lib/burstkit:$lib/burstkit"
fi
"$ROOT/tools/virtual-panel/virtual-panel" --arch "${VM_ARCH:-x86_64}" "$@" \
    --file "$out/data/frame.rgb:/data/frame.rgb" \
    --scenario "$HERE/launchers_cases.sh" --out "$run" --timeout 250 ||
    fail "virtual panel run failed (status $?)"

[ -f "$run/timed_lit.ppm" ] || fail "no screendump while lit: $(cat "$run/timed.stderr" 2>/dev/null)"
"$tools/screen_check" raw "$run/timed_lit.ppm" "$out/data/frame.rgb" ||
    fail "panelshow_timed: wrong picture while lit"
[ "$(cat "$run/lit_level")" = 127 ] || fail "lit level $(cat "$run/lit_level"), expected 127 (50 % of 255)"
[ "$(cat "$run/end_level")" = 0 ] || fail "end level $(cat "$run/end_level"), expected 0"
[ "$(cat "$run/timed.status")" = 0 ] || fail "interrupted run: status $(cat "$run/timed.status"), expected lightsout's 0; stderr: $(cat "$run/timed.stderr")"
printf '0\nTargeting mode[0] (4320 x 2160 @ 75Hz)\n' | sort >"$run/timed.expected"
sort "$run/timed.stdout" | diff -u "$run/timed.expected" - ||
    fail "interrupted run: unexpected output"
grep -q "^[[:space:]]active=1" "$run/state_lit" || fail "state_lit: no active CRTC while lit"
no_active_crtc state_after_interrupt

[ "$(cat "$run/timed1.status")" = 0 ] || fail "1 s run: status $(cat "$run/timed1.status"); stderr: $(cat "$run/timed1.stderr")"
head -n 1 "$run/timed1.stdout" | grep -qx "display /data/frame.rgb for 1 sec 0 nsec" ||
    fail "1 s run: first line $(head -n 1 "$run/timed1.stdout")"
no_active_crtc state_after_timeout
[ "$(cat "$run/seq_lit_level")" = 193 ] || fail "sequence never lit: $(cat "$run/seq.stderr")"
[ "$(cat "$run/seq_end_level")" = 0 ] || fail "sequence after Ctrl-C: level $(cat "$run/seq_end_level")"
[ -s "$run/seq_children" ] && fail "sequence after Ctrl-C: image program left: $(cat "$run/seq_children")"
grep -qx "stopped at frame.rgb" "$run/seq.stdout" || fail "sequence: no stop line: $(cat "$run/seq.stdout")"
[ "$(cat "$run/seq.status")" = 0 ] || fail "sequence after Ctrl-C: status $(cat "$run/seq.status")"
grep -qx "image program for frame.rgb ended with status 127 before it was shown" "$run/missing.stdout" ||
    fail "sequence without its image program: $(cat "$run/missing.stdout")"
printf '0\n0\nend\n' | diff -u - "$run/missing_levels" ||
    fail "sequence without its image program: levels other than 0 (then lightsout's 0)"
{ [ "$(cat "$run/wrapped.status")" = 0 ] && [ ! -s "$run/wrapped_children" ]; } ||
    fail "sequence through a wrapper that forks: status $(cat "$run/wrapped.status"), left running: $(cat "$run/wrapped_children"); $(cat "$run/wrapped.stdout")"
if [ "$mode" = package ]; then
    [ "$(cat "$run/pkgseq.status")" = 0 ] || fail "installed sequence: status $(cat "$run/pkgseq.status"); $(cat "$run/pkgseq.stderr")"
    grep -qx "reached end of images" "$run/pkgseq.stdout" || fail "installed sequence: $(cat "$run/pkgseq.stdout")"
    grep -q "^Targeting mode\[0\]" "$run/pkgseq.stdout" ||
        fail "the installed burstkit image program did not set up the display: $(cat "$run/pkgseq.stdout")"
    no_active_crtc state_after_sequence
    grep -q "^panelquery: " "$run/info.stderr" || fail "installed panelinfo did not run panelquery: $(cat "$run/info.stderr")"
    echo "ok: both packages' programs run from their installed paths"
fi
echo "ok: panelshow_timed shows the image, lightsout leaves the CRTC inactive, Ctrl-C stops a sequence dark, a missing image program is never lit"
