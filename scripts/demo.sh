#!/usr/bin/env bash
# The scripted demo: a private Xvfb, a small window that records what it receives, and keyquill
# driven with xdotool the way a person would use it.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$PWD/build/demo"
mkdir -p "$out"
work=$(mktemp -d)
chmod 700 "$work"
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -noreset -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
pids=()
cleanup() { kill "${pids[@]}" "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done

build/tests/kq_e2e_target "$work/text" "$work/events" "Demo target" &
pids+=($!)
target=$(xdotool search --sync --name '^Demo target$' | head -1)
start=$(date +%s%N)
XDG_RUNTIME_DIR="$work" build/src/keyquill &
pids+=($!)
main=$(xdotool search --sync --name '^Keyquill$' | head -1)
shown=$(date +%s%N)
menu=$(( $(xwininfo -id "$main" | awk '/Height:/ {print $2}') - 201 ))

echo "keyquill window shown $(( (shown - start) / 1000000 )) ms after start"
xdotool windowfocus --sync "$main"; sleep 0.3
xdotool key alt+f Return; sleep 0.6
xdotool type --delay 10 "$PWD/data/sample-list.txt"; xdotool key Return; sleep 0.4
xdotool mousemove --window "$main" 23 $((menu + 16)) click 1; sleep 0.3
import -window "$main" "$out/keyquill-main.png"
echo "Loaded data/sample-list.txt and ticked \"Enabled\"; pressing TAB three times in the demo window"
xdotool windowfocus --sync "$target"; sleep 0.2
for _ in 1 2 3; do xdotool key Tab; sleep 0.4; done
echo "The demo window received:"
sed 's/<Delete>/[Delete]/g' "$work/text"; echo
rss=$(awk '/VmRSS/ {print $2, $3}' "/proc/${pids[1]}/status")
echo "keyquill resident memory: $rss"
xdotool windowfocus --sync "$main"; sleep 0.2
xdotool key alt+f Down Down Down Down Down Return
multi=$(xdotool search --sync --name '^Keyquill - Config 1$' | head -1); sleep 0.4
import -window "$multi" "$out/keyquill-multi.png"
echo "Screenshots: $out/keyquill-main.png $out/keyquill-multi.png"

# Closed as a user closes it (File > Exit), before its X server goes.
xdotool windowfocus --sync "$multi"; sleep 0.2
xdotool key alt+f x
for _ in $(seq 100); do kill -0 "${pids[1]}" 2>/dev/null || break; sleep 0.05; done
if kill -0 "${pids[1]}" 2>/dev/null; then
    echo "keyquill did not close within 5 s of File > Exit" >&2
    exit 1
fi
status=0
wait "${pids[1]}" || status=$?
pids=("${pids[0]}")
[ "$status" -eq 0 ] || { echo "keyquill ended with status $status" >&2; exit 1; }
echo "Closed Keyquill with File > Exit"
