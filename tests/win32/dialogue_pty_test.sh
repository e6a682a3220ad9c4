#!/bin/sh
# dialogue_win32_pty_test.sh WINE_RUN PREFIX PROGRAM WORK_DIR
#
# visor-gcode.exe under Wine on a terminal (a tmux pane, a pseudo-terminal):
# Wine's console host turns the terminal's keys into console key events and
# the console calls into terminal output. Types the three values at their
# prompts, waits for the job, checks the screen as the terminal shows it,
# presses a key, and checks the exit status and the file.
set -eu
[ $# -eq 4 ] || { echo "usage: $0 WINE_RUN PREFIX PROGRAM WORK_DIR" >&2; exit 2; }
wine_run=$1 prefix=$2 program=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
sock="$work/tmux.sock"
session=dialogue

# The pane stays after the program has ended, so that its end can be read.
tmux -S "$sock" new-session -d -x 120 -y 30 -s "$session" \
  "cd '$work' && '$wine_run' '$prefix' '$program'; echo \"EXIT=\$?\"; sleep 600"
trap 'tmux -S "$sock" kill-server 2>/dev/null || true' EXIT

screen() { tmux -S "$sock" capture-pane -p -t "$session"; }
fail() {
  echo "$*"
  echo "--- screen:"
  screen
  exit 1
}
# wait_for TEXT SECONDS: the time-out only guards against a hang.
wait_for() {
  n=$(($2 * 10))
  while [ "$n" -gt 0 ]; do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
    n=$((n - 1))
  done
  fail "not on the screen after $2 s: $1"
}
keys() {
  for k in "$@"; do
    tmux -S "$sock" send-keys -t "$session" -- "$k"
  done
}

# A prompt on the screen means its field has flushed the input: no key
# typed after it is lost.
wait_for "Enter calibrating point (number between -40.000 and 200.000):" 120
keys 0 . 4 Enter
wait_for "Enter heating temperature (depends on filament number between 170 and 270):" 60
keys 2 1 0 Enter
wait_for "Enter speed value (300 strongly encouraged 600 maximum):" 60
keys 3 0 0 Enter
wait_for "Created file:     dagoma0.g (in current directory)" 900

screen | grep -qF "Lumenforge - 3d vantor dagoma printing" || fail "no banner"
screen | grep -qF "Progress:         |$(printf '%080d' 0 | tr 0 =)|    100 %" ||
  fail "no complete progress bar"
screen | grep -qF "Enter calibrating point (number between -40.000 and 200.000):  0.4" ||
  fail "the first value is not shown behind its prompt"
title=$(tmux -S "$sock" display -p -t "$session" '#{pane_title}')
[ "$title" = "Lumenforge | Vantor" ] || fail "window title is '$title'"

keys a
wait_for "EXIT=0" 60
[ "$(wc -l <"$work/dagoma0.g")" -eq 3758388 ] || fail "dagoma0.g has $(wc -l <"$work/dagoma0.g") lines"
sed -n 2p "$work/dagoma0.g" | grep -qx "; With z_start: 0.4 heat temp: 210 speed: 300" ||
  fail "second line of dagoma0.g: $(sed -n 2p "$work/dagoma0.g")"
rm -f "$work/dagoma0.g"
echo "dialogue on a terminal: passed"
