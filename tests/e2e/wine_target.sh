#!/bin/sh
# A Windows program under Wine: its notepad, in a Wine prefix kept between runs (making one takes
# a while). Same start protocol as the other targets: "MAPPED <window>" in EVENTS once its window
# is up; its text is read back through the clipboard.
# Usage: wine_target.sh TEXT EVENTS, or wine_target.sh --prepare to make the prefix only.
events=$2
export WINEPREFIX="${KQ_WINEPREFIX:-$HOME/.cache/keyquill/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# Quirk: wineboot returns before the new prefix is complete; a program started meanwhile can
# lose keys. Wait for every process of the prefix to end.
[ -e "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; } >/dev/null 2>&1
[ "$1" = --prepare ] && exit 0
wine notepad >/dev/null 2>&1 &
notepad=$!
trap 'kill $notepad 2>/dev/null; wineserver -k 2>/dev/null' EXIT TERM INT
w=$(xdotool search --sync --name ' - Notepad$' | head -n 1)
printf 'MAPPED 0x%x\n' "$w" >>"$events"
wait $notepad
