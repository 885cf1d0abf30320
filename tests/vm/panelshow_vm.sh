#!/bin/sh
# panelshow on a real kernel (virtual panel).
#   panelshow_vm.sh boot BUILD_DIR OUT_DIR   make the pictures, boot once, run every case
#   panelshow_vm.sh check CASE BUILD_DIR OUT_DIR   judge one case from what the boot left
# VM_ARCH (default x86_64) is the guest's architecture; BUILD_DIR then holds programs
# built for it (statically for arm64), and VM_HOST_BUILD (default BUILD_DIR) the host
# tools that make the pictures and judge the screendumps.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
FRAME_BYTES=$((4320 * 2160 * 4))
MODE_LINE="Targeting mode[0] (4320 x 2160 @ 75Hz)"

fail() {
    echo "FAIL: $*"
    exit 1
}

boot() {
    build=$1
    out=$2
    tools=${VM_HOST_BUILD:-$build}/tools/screen
    rm -rf "$out/run" # results of an earlier boot must not be judged again
    mkdir -p "$out/data"
    d=$out/data
    { "$tools/make_test_image" raw "$d/frame.rgb" &&
        "$tools/make_test_image" png "$d/alpha.png" &&
        "$tools/make_test_image" photo-jpeg "$d/photo.jpg" &&
        "$tools/make_test_image" photo-png "$d/photo.png" &&
        "$tools/make_test_image" png "$d/narrow.png" --width 4319 &&
        "$tools/make_test_image" png "$d/short.png" --height 2159 &&
        "$tools/make_test_image" raw "$d/short.rgb" --bytes $((FRAME_BYTES - 1)) &&
        "$tools/make_test_image" bmp "$d/photo.bmp"; } ||
        fail "could not make the test pictures"
    # Each decoder's files cut at half their length.
    for f in photo.jpg photo.png photo.bmp; do
        head -c $(($(wc -c <"$d/$f") / 2)) "$d/$f" >"$d/cut.${f#photo.}" || fail "could not cut $f"
    done
    files=""
    for f in frame.rgb alpha.png photo.jpg photo.png narrow.png short.png short.rgb cut.jpg cut.png cut.bmp; do
        files="$files --file $d/$f:/data/$f"
    done
    # shellcheck disable=SC2086
    "$ROOT/tools/virtual-panel/virtual-panel" --arch "${VM_ARCH:-x86_64}" \
        --bin "$build/src/panelshow" $files \
        --scenario "$HERE/panelshow_cases.sh" --out "$out/run" --timeout 170
}

# expect_output RUN CASE STATUS STDOUT STDERR_PATTERN: exact status and stdout ("-":
# not checked); stderr as many lines as the pattern has, each matching its line of it
# as an extended regular expression ("" = empty).
expect_output() {
    run=$1
    name=$2
    [ -f "$run/$name.status" ] || fail "$name: no results (did the boot test run?)"
    status=$(cat "$run/$name.status")
    [ "$status" = "$3" ] || fail "$name: exit status $status, expected $3; stderr: $(cat "$run/$name.stderr")"
    if [ "$4" != "-" ]; then
        printf '%s' "$4" >"$run/$name.stdout.expected"
        diff -u "$run/$name.stdout.expected" "$run/$name.stdout" >"$run/$name.stdout.diff" ||
            fail "$name: standard output differs (expected first):
$(cat "$run/$name.stdout.diff")"
    fi
    if [ -z "$5" ]; then
        [ ! -s "$run/$name.stderr" ] || fail "$name: unexpected standard error: $(cat "$run/$name.stderr")"
    else
        printf '%s\n' "$5" >"$run/$name.stderr.pattern"
        lines=$(wc -l <"$run/$name.stderr")
        [ "$lines" -eq "$(wc -l <"$run/$name.stderr.pattern")" ] ||
            fail "$name: standard error is not $(wc -l <"$run/$name.stderr.pattern") lines:
$(cat "$run/$name.stderr")"
        i=0
        while read -r pattern; do
            i=$((i + 1))
            sed -n "${i}p" "$run/$name.stderr" | grep -Eq "^$pattern\$" ||
                fail "$name: standard error line $i does not match /$pattern/:
$(cat "$run/$name.stderr")"
        done <"$run/$name.stderr.pattern"
    fi
}

fatal() {
    echo "panelshow: src/[a-z_/]+\\.cpp:[0-9]+: display_create_fb: Assertion \`$1' failed\\."
}

expect_screen() {
    run=$1
    name=$2
    shift 2
    [ -f "$run/$name.ppm" ] || fail "$name: no screendump; stderr: $(cat "$run/$name.stderr" 2>/dev/null)"
    "$TOOLS/screen_check" "$@" || fail "$name: wrong picture on the screen"
}

# expect_refused RUN CASE "PATH with DECODER, REASON": the decode failure message, the
# fatal check, and the display's state as it was before the run.
expect_refused() {
    expect_output "$1" "$2" 1 "$MODE_LINE
error loading image $3
" "$(fatal "data != 0")"
    { [ -f "$1/$2.before" ] && diff -u "$1/$2.before" "$1/$2.after" >"$1/$2.state.diff"; } ||
        fail "$2: the display changed (before first): $(cat "$1/$2.state.diff")"
}

# A killed panelshow ends with 143 (SIGTERM): it was still holding the image.
HOLDING=143

check() {
    name=$1
    TOOLS=${VM_HOST_BUILD:-$2}/tools/screen
    out=$3
    run=$out/run
    d=$out/data
    case $name in
    RawFrameIsShownByteForByte)
        expect_screen "$run" raw raw "$run/raw.ppm" "$d/frame.rgb"
        expect_output "$run" raw $HOLDING "$MODE_LINE
" "" ;;
    PngAlphaIsIgnoredAndTransparentPixelsShowTheirColour)
        expect_screen "$run" png_alpha image "$run/png_alpha.ppm" "$d/alpha.png"
        expect_output "$run" png_alpha $HOLDING "$MODE_LINE
" "" ;;
    JpegPhotographIsShownWithinDecoderRounding)
        # libjpeg-turbo against stb_image: two correct decoders differ by a few levels.
        expect_screen "$run" jpeg image "$run/jpeg.ppm" "$d/photo.jpg" 3
        expect_output "$run" jpeg $HOLDING "$MODE_LINE
" "" ;;
    PngPhotographIsShownPixelForPixel)
        expect_screen "$run" png_photo image "$run/png_photo.ppm" "$d/photo.png"
        expect_output "$run" png_photo $HOLDING "$MODE_LINE
" "" ;;
    VerboseReportsTimeAndDisplayedThenHolds)
        expect_screen "$run" verbose raw "$run/verbose.ppm" "$d/frame.rgb"
        [ -f "$run/verbose.stdout" ] || fail "verbose: no results"
        sed -n 2p "$run/verbose.stdout" |
            grep -Eq '^Time from display_flip to image displayed: [0-9]+\.[0-9]{3} seconds$' ||
            fail "verbose: line 2 is not the time line: $(sed -n 2p "$run/verbose.stdout")"
        time_line=$(sed -n 2p "$run/verbose.stdout")
        expect_output "$run" verbose $HOLDING "$MODE_LINE
$time_line
Image is now displayed
" "" ;;
    DecodedImageOneColumnNarrowStopsOnWidth)
        expect_output "$run" narrow_png 1 "$MODE_LINE
image /data/narrow.png doesnt match expected size 4320 2160
" "$(fatal "width == MODE_WIDTH")" ;;
    DecodedImageOneRowShortStopsOnHeight)
        expect_output "$run" short_png 1 "$MODE_LINE
image /data/short.png doesnt match expected size 4320 2160
" "$(fatal "height == MODE_HEIGHT")" ;;
    RawFrameOneByteShortStopsOnRead)
        expect_output "$run" short_raw 1 "$MODE_LINE
image /data/short.rgb doesn't match expected size (read $((FRAME_BYTES - 1)) bytes instead of $FRAME_BYTES)
" "$(fatal "nread == MODE_WIDTH\\*MODE_HEIGHT\\*4")" ;;
    MissingImageReportsDecoderReason)
        expect_output "$run" missing_png 1 "$MODE_LINE
error loading image /data/missing.png with stb_image, can't fopen
" "$(fatal "data != 0")
panelshow: open /data/missing\.png: No such file or directory" ;;
    MissingRawFrameStopsOnOpenWithoutMessage)
        expect_output "$run" missing_raw 1 "$MODE_LINE
" "$(fatal "fd >= 0")
panelshow: open /data/missing\.rgb: No such file or directory" ;;
    CutJpegIsRefusedAndNothingShows)
        expect_refused "$run" cut_jpeg "/data/cut.jpg with libjpeg, Premature end of input file" ;;
    CutPngIsRefusedAndNothingShows)
        expect_refused "$run" cut_png "/data/cut.png with libpng, file ends early" ;;
    CutBmpIsRefusedAndNothingShows)
        expect_refused "$run" cut_bmp "/data/cut.bmp with stb_image, file ends early" ;;
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
