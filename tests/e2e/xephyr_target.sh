#!/bin/sh
# A window that forwards key codes: a nested X server (Xephyr) in a window of the test's X server,
# with the recording target inside it, reading keys through the nested server's own keymap: the
# same layout as the outer server's, as a user sets up the far side of a VM console or a remote
# desktop. Same protocol as the other targets, whose command runs inside: TEXT EVENTS, and
# "MAPPED <window>" names the Xephyr window on the outer server.
# Usage: xephyr_target.sh COMMAND... TEXT EVENTS
eval "text=\${$(($# - 1))} events=\${$#}"
# Quirk: the nested server's keymap must be set on its keyboard device (-keybd); a keymap set on
# its core keyboard is overwritten by the device's at the next key.
layout=$(setxkbmap -query | awk '/^layout:/ { print $2 }')
# Xephyr picks a free display itself (tests running beside this one start X servers too) and
# names it on the pipe once it takes clients.
pipe=$(mktemp -u) && mkfifo "$pipe" || exit 1
Xephyr -displayfd 3 -screen 640x400 -ac -title kq-forwarder -keybd "ephyr,,,xkblayout=$layout" \
    3>"$pipe" >/dev/null 2>&1 &
xephyr=$!
trap 'kill $inner $xephyr 2>/dev/null; rm -f "$pipe"' EXIT TERM INT
read -r n <"$pipe"
inner_command=""
while [ $# -gt 2 ]; do inner_command="$inner_command '$1'"; shift; done
eval "DISPLAY=:$n $inner_command '$text' /dev/null kq-inner &"
inner=$!
# Focused once it is viewable: a window found by its name may not be mapped yet.
w=$(DISPLAY=:$n xdotool search --sync --onlyvisible --name '^kq-inner$' | head -n 1)
DISPLAY=:$n xdotool windowfocus --sync "$w"
outer=$(xdotool search --sync --name '^kq-forwarder$' | head -n 1)
printf 'MAPPED 0x%x\n' "$outer" >>"$events"
wait $inner
