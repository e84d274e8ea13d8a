#!/usr/bin/env bash
# End to end: the real tavrin window under Xvfb, driven with xdotool, against
# the simulated reader on a pseudo-terminal. Checks the exact frames the
# reader received for a connect (which reads the settings) and a write.
#   e2e.sh TAVRIN READERSIM [SCREENSHOT]
set -euo pipefail

tavrin=$1
readersim=$2
shot=${3:-}

for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- simulator log"; cat "$work/sim.log" || true
    echo "--- tavrin output"; tail -n 40 "$work/tavrin.log" || true
    exit 1
}

# Help and version need no display.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tavrin" --help 2>&1) || fail "tavrin --help failed: $help"
grep -q -- '--verbose' <<<"$help" || fail "tavrin --help does not list --verbose: $help"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tavrin" --version 2>&1) || fail "tavrin --version failed"
grep -q '^tavrin [0-9]' <<<"$version" || fail "tavrin --version printed: $version"

# The simulator leaves a file at its --link path alone.
echo "keep" >"$work/taken"
if "$readersim" --link "$work/taken" >"$work/refused.log" 2>&1; then fail "the simulator took an existing file"; fi
[ "$(cat "$work/taken")" = "keep" ] && [ ! -L "$work/taken" ] || fail "the simulator replaced an existing file"

# A free display, chosen by the server itself.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

"$readersim" --link "$work/port" --firmware "1BT E2E1" --flags 0x1F --start 3 --length 10 \
    --preamble "[STX]" --postamble "[CR][LF]" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L "$work/port" ] && break; sleep 0.1; done
[ -L "$work/port" ] || fail "the simulator made no port"

# A session's own runtime, configuration and state folders: Qt warns without
# the first, the window remembers its connection in the second and keeps
# what each write replaced in the third.
mkdir -m 700 "$work/runtime"
(cd "$work" && XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    exec "$tavrin") >"$work/tavrin.log" 2>&1 &
pids+=($!)
win=$(xdotool search --sync --onlyvisible --name '^Tavrin V1.0.0$' | head -n1)
[ -n "$win" ] || fail "no window"
sleep 0.5
# The form sits below the menu bar, which is about as tall as the status bar.
height=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
top=$(( (height - 451) / 2 ))

wait_box() { # title
    local box=""
    for _ in $(seq 100); do
        box=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "no \"$1\" box"
    # Keys go through XTEST to the focused window; events sent to a window
    # directly are refused by Qt and by some servers.
    xdotool windowfocus --sync "$box"
    sleep 0.2
    xdotool key Return
    sleep 0.3
}

# No USB reader here, so "Serial Port" is preselected: type the port name.
xdotool windowfocus --sync "$win"
xdotool mousemove --window "$win" 60 $((90 + top)) click 1
xdotool key ctrl+a
xdotool type --delay 5 "$work/port"
xdotool mousemove --window "$win" 190 $((65 + top)) click 1
wait_box "Read Status"

read_frames=(
    "rx 1B 42 00 00 00 00 00 0D"
    "rx 1B 42 02 00 00 00 00 0D"
    "rx 1B 42 10 00 00 00 00 0D"
    "rx 1B 42 20 00 00 00 00 0D"
    "rx 1B 42 24 00 00 00 00 0D"
    "rx 1B 42 28 00 00 00 00 0D"
)
got=$(grep -o 'rx .*' "$work/sim.log" || true)
expected=$(printf '%s\n' "${read_frames[@]}")
[ "$got" = "$expected" ] || fail "connect sent other frames: $got"

xdotool windowfocus --sync "$win"
xdotool key alt+s
wait_box "Setting iButton"

write_frames=(
    "rx 1B 42 02 01 1F 00 00 0D"
    "rx 1B 42 10 01 03 0A 00 0D"
    "rx 1B 42 21 01 02"
    "rx 1B 42 25 02 0D 0A"
    "rx 1B 42 29 00"
    "rx 1B 42 80 55 AA 55 AA 0D"
)
# What the reader holds is read and kept first, then the write, then the
# read that checks it took.
got=$(grep -o 'rx .*' "$work/sim.log" | tail -n +7 || true)
expected=$(printf '%s\n' "${read_frames[@]}" "${write_frames[@]}" "${read_frames[@]}")
[ "$got" = "$expected" ] || fail "the write sent other frames: $got"

# The reader's settings from before the write are on disk, then the outcome.
history="$work/state/tavrin/history.jsonl"
[ "$(grep -c '"result":"pending"' "$history" || true)" = 1 ] || fail "no pending entry in $history"
[ "$(grep -c '"result":"confirmed"' "$history" || true)" = 1 ] || fail "no confirmed entry in $history"

# An ordinary run says nothing on the terminal.
[ ! -s "$work/tavrin.log" ] || fail "tavrin printed something"

if [ -n "$shot" ] && command -v import >/dev/null; then
    import -window root "$shot" || true
fi
echo "PASS: connect, read and write over the simulated serial reader"
