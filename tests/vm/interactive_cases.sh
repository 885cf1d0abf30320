# shellcheck shell=dash
# Guest side of the panelcolor and paneldefect real-kernel tests, run by
# tools/virtual-panel/virtual-panel. Each program runs on a pseudo-terminal
# (key_terminal); keys go in through /tmp/NAME.keys. Each run leaves NAME.stdout,
# NAME.stderr, NAME.status, NAME.bl_on (brightness after the first frame) and
# NAME.bl_end with the host, plus screendumps; tests/vm/interactive_vm.sh judges them.
# shellcheck source=/dev/null # the guest path of tests/vm/terminal_keys.sh, checked on its own
. /data/terminal_keys.sh

lit() {
    cat "$BL/brightness" >"/tmp/$1.bl_on"
}

# panelcolor: start-up white; Enter ends it.
start pc_white panelcolor
wait_lines pc_white "updating display" 1 && settle pc_white 1 && snap pc_white
lit pc_white
end pc_white '\r'

# panelcolor: keys change colours and halves. Even black, odd (10, 20, 30) locked;
# 1 makes even white, and repeats as a repaint of the same frame.
start pc_keys panelcolor 0 0 0 10 20 30 7 0
wait_lines pc_keys "updating display" 1 && settle pc_keys "" # ? alone: the first pass has ended
lit pc_keys
keys pc_keys 1t && settle pc_keys 1 && snap pc_keys_left_off
keys pc_keys '\t' && settle pc_keys 1 && snap pc_keys_swapped
keys pc_keys b && settle pc_keys 1 && snap pc_keys_blank
keys pc_keys 5 && settle pc_keys 1 && snap pc_keys_both
end pc_keys '\003'

# panelcolor: SIGTERM ends it as Ctrl-C does.
start pc_term panelcolor
wait_lines pc_term "updating display" 1 && settle pc_term ""
lit pc_term
kill -TERM "$(pidof panelcolor)"
end pc_term ""

# panelcolor: 1,000 redraws in a small mode (a full-size fill takes about 0.2 s
# under emulation); Ctrl-C ends it.
small=$(sed -n 's/^    mode\[\([0-9]*\)\]: .* (640 x 480 @ .*/\1/p' /tmp/pc_white.stdout | head -n 1)
start pc_many panelcolor -m "${small:-0}" 0
wait_lines pc_many "updating display" 1 && settle pc_many 5
lit pc_many
keys pc_many "$(printf '%0500d' 0 | sed 's/0/qa/g')"
wait_lines pc_many "updating display" 1002
end pc_many '\003'

# paneldefect: start-up pattern, then keys and presets; 5 repaints the same frame.
start pd_keys paneldefect
wait_lines pd_keys "Background:" 1 && settle pd_keys 5 && snap pd_start
lit pd_keys
keys pd_keys 9q && settle pd_keys 5 && snap pd_zone_b
keys pd_keys 0m && settle pd_keys 5 && snap pd_dark
keys pd_keys nq && settle pd_keys 5 && snap pd_background
end pd_keys '\003'

# paneldefect: 1,000 full-size redraws, far past the 128 flip events the kernel
# queues per open file; Ctrl-C ends it.
start pd_many paneldefect 1 2 3
wait_lines pd_many "Background:" 1 && settle pd_many 5
lit pd_many
keys pd_many "$(printf '%01000d' 0 | sed 's/0/q/g')"
wait_lines pd_many "Background:" 1002
end pd_many '\003'
