# shellcheck shell=dash
# Guest side, shared by the real-kernel scenarios that drive panelcolor and
# paneldefect: each program on a pseudo-terminal (key_terminal), keys in through
# /tmp/NAME.keys; a scenario sources it from /data/terminal_keys.sh.
BL=/sys/class/backlight/ae94000.dsi.0
HELP_LINE="  print this help: ?"
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts

# start NAME PROGRAM ARGS...
start() {
    name=$1
    shift
    mkfifo "/tmp/$name.keys"
    : >"/tmp/$name.stdout"
    key_terminal "/tmp/$name.keys" "/tmp/$name.stdout" "$@" 2>"/tmp/$name.stderr" &
    PID=$!
}

# keys NAME TEXT: TEXT (printf escapes) typed on the program's terminal.
keys() {
    timeout 10 sh -c "printf '$2' >/tmp/$1.keys" || echo "keys: $1: nobody reads the keys" >&2
}

# wait_lines NAME LINE N: until the program has printed LINE N times (300 s at most).
wait_lines() {
    local n=0
    while [ "$(grep -c -F -x -e "$2" "/tmp/$1.stdout")" -lt "$3" ]; do
        kill -0 "$PID" 2>/dev/null || { echo "wait_lines: $1 ended" >&2; return 1; }
        n=$((n + 1))
        [ $n -ge 15000 ] && { echo "wait_lines: $1: fewer than $3 of '$2'" >&2; return 1; }
        usleep 20000
    done
}

# settle NAME REPAINT: a key that repaints the same frame, then ?. A commit first
# reads the flip event of the one before, so once the help text is out, the
# frame before the repaint has been flipped, and the repaint shows it again.
settle() {
    local before
    before=$(grep -c -F -x -e "$HELP_LINE" "/tmp/$1.stdout")
    keys "$1" "$2?"
    wait_lines "$1" "$HELP_LINE" $((before + 1))
}

# end NAME KEYS: the keys that should end the program (none: it is ending
# already), then what it left.
end() {
    [ -z "$2" ] || keys "$1" "$2"
    timeout 30 sh -c "while kill -0 $PID 2>/dev/null; do usleep 20000; done"
    kill -9 "$PID" 2>/dev/null
    wait "$PID"
    echo $? >"/tmp/$1.status"
    cat "$BL/brightness" >"/tmp/$1.bl_end"
    for f in stdout stderr status bl_on bl_end; do
        [ -f "/tmp/$1.$f" ] && fetch "/tmp/$1.$f"
    done
}
