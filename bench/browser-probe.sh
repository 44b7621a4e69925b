#!/usr/bin/env bash
# Probe (run by hand, not a test): how exactly the real Keyquill types into web browsers.
# On a private Xvfb, for each browser x keyboard layout x run, a page with a focused <textarea>
# (bench/browser_probe_page.py) reports the textarea's value on every input event; Keyquill loads
# a list through File > Load, "Enabled" is ticked, and each line is typed by one press of TAB.
# Every line ends with {ENTER}, so the textarea should end up holding the lines, one per line.
# Prints browser x layout: exact runs / runs, code points lost of all (expected minus longest
# common subsequence, counted per press) and extra code points. Logs stay in /tmp/kq-browser-probe.*
#
# Usage: bench/browser-probe.sh [--runs N] [--browsers "chromium firefox-esr"]
#                               [--layouts "us de fr"] [--keyquill PATH]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=3 browsers="chromium firefox-esr" layouts="us de fr" keyquill="$here/../build/src/keyquill"
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2 ;;
    --browsers) browsers=$2 ;;
    --layouts) layouts=$2 ;;
    --keyquill) keyquill=$2 ;;
    *) sed -n '2,12s/^# \{0,1\}//p' "$0"; exit 2 ;;
    esac
    shift 2
done
. "$here/../scripts/deps.sh"
ensure_packages xvfb xauth xdotool x11-xkb-utils python3 chromium firefox-esr
[ -x "$keyquill" ] || { echo "no keyquill at $keyquill" >&2; exit 1; }

work=$(mktemp -d /tmp/kq-browser-probe.XXXXXX)
helper=(python3 "$here/browser_probe_page.py")
log() { echo "$(date +%T) $*" | tee -a "$work/probe.log" >&2; }

pids=()
stop() { # stop one process we started, politely first
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$1" 2>/dev/null
}
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done
    wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A private X server on a free display number.
n=90
while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
Xvfb :$n -noreset -nolisten tcp -screen 0 1280x900x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
export DISPLAY=:$n
xdotool getmouselocation >/dev/null 2>&1 || { log "Xvfb :$n did not start"; exit 1; }

# The page server and the list.
mkdir -p "$work/page" "$work/kq"
"${helper[@]}" serve "$work/page" >"$work/page/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/page/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/page/port")/"
read -r -a targets < <("${helper[@]}" list "$work/list.txt")
cp "$keyquill" "$work/kq/keyquill" # its folder keeps its config.ini: a folder of its own
log "display :$n, page $url, keyquill $keyquill, logs in $work"

# Prints the newest visible window whose title matches, waiting up to $2 tenths of a second.
find_window() {
    local w=""
    for _ in $(seq "$2"); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

start_browser() { # $1 browser, $2 folder; sets bpid
    local profile="$2/profile"
    mkdir -p "$profile"
    case "$1" in
    chromium)
        chromium --no-sandbox --user-data-dir="$profile" --disable-gpu --no-first-run \
            --disable-background-networking --disable-component-update --disable-sync --disable-quic \
            --no-default-browser-check --password-store=basic --disable-domain-reliability \
            --disable-client-side-phishing-detection --no-pings --disable-breakpad \
            --disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication \
            --ozone-platform=x11 --window-position=0,0 --window-size=1000,700 "$url" \
            >"$2/browser.log" 2>&1 &
        ;;
    firefox-esr)
        # First run, telemetry, updates and everything else that would phone home: off.
        local prefs='browser.shell.checkDefaultBrowser=false browser.startup.page=0
            browser.startup.homepage_override.mstone="ignore" startup.homepage_welcome_url=""
            browser.aboutwelcome.enabled=false trailhead.firstrun.didSeeAboutWelcome=true
            datareporting.policy.dataSubmissionEnabled=false datareporting.policy.firstRunURL=""
            datareporting.healthreport.uploadEnabled=false toolkit.telemetry.enabled=false
            toolkit.telemetry.unified=false toolkit.telemetry.reportingpolicy.firstRun=false
            app.update.auto=false app.normandy.enabled=false app.shield.optoutstudies.enabled=false
            extensions.update.enabled=false extensions.getAddons.cache.enabled=false
            browser.safebrowsing.malware.enabled=false browser.safebrowsing.phishing.enabled=false
            browser.safebrowsing.downloads.enabled=false browser.safebrowsing.update.enabled=false
            network.captive-portal-service.enabled=false network.connectivity-service.enabled=false
            network.dns.disablePrefetch=true network.prefetch-next=false extensions.pocket.enabled=false
            media.gmp-manager.updateEnabled=false browser.region.update.enabled=false
            browser.translations.enable=false browser.uitour.enabled=false
            browser.sessionstore.resume_from_crash=false toolkit.startup.max_resumed_crashes=-1'
        for p in $prefs; do echo "user_pref(\"${p%%=*}\", ${p#*=});"; done >"$profile/user.js"
        MOZ_CRASHREPORTER_DISABLE=1 MOZ_ENABLE_WAYLAND=0 GDK_BACKEND=x11 firefox-esr --no-remote \
            --new-instance --profile "$profile" -width 1000 -height 700 "$url" >"$2/browser.log" 2>&1 &
        ;;
    *) log "unknown browser $1"; return 1 ;;
    esac
    bpid=$! && pids+=($bpid)
}

click_textarea() { # focus the browser, click into the textarea, caret to the end
    local X Y WIDTH HEIGHT
    xdotool windowraise "$bwin" windowfocus --sync "$bwin" 2>/dev/null
    eval "$(xdotool getwindowgeometry --shell "$bwin")"
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT * 2 / 3)) click 1
    sleep 0.3
    xdotool key ctrl+End
}
# Empties the textarea and proves the focus is in it by typing "x" (then erasing it) and seeing
# it arrive. Returns 1 when that never works.
focus_textarea() {
    for attempt in 1 2 3; do
        rm -f "$work/page/value.txt"
        click_textarea
        xdotool key ctrl+a BackSpace x
        [ "$("${helper[@]}" wait "$work/page" 1 3)" = 1 ] && [ "$(cat "$work/page/value.txt")" = x ] && {
            xdotool key BackSpace
            [ "$("${helper[@]}" wait "$work/page" 0 3)" = 0 ] && return 0
        }
        log "  focus attempt $attempt failed (value: $(head -c 80 "$work/page/value.txt" 2>/dev/null))"
        sleep 1
    done
    return 1
}

results="$work/results.tsv"
: >"$results"
for browser in $browsers; do
    for layout in $layouts; do
        cell="$work/$browser-$layout"
        mkdir -p -m 700 "$cell/runtime"
        log "$browser / $layout"
        start_browser "$browser" "$cell" || continue
        if ! bwin=$(find_window kq-probe 300); then
            log "  $browser showed no window; its output:"
            tail -20 "$cell/browser.log" | tee -a "$work/probe.log" >&2
            stop "$bpid"
            continue
        fi
        sleep 2 # let the page settle

        setxkbmap -display "$DISPLAY" "$layout"
        rm -f "$work/kq/config.ini"
        (cd "$work/kq" && XDG_RUNTIME_DIR="$cell/runtime" exec ./keyquill) >"$cell/keyquill.log" 2>&1 &
        kpid=$! && pids+=($kpid)
        kwin=$(find_window '^Keyquill$' 100) || { log "  keyquill showed no window"; stop "$kpid"; stop "$bpid"; continue; }
        # File > Load, answer the dialog with the list's path; then tick "Enabled".
        xdotool windowraise "$kwin" windowfocus --sync "$kwin"
        sleep 0.3
        xdotool key alt+f Return
        sleep 0.8
        xdotool type --delay 20 "$work/list.txt"
        xdotool key Return
        sleep 0.8
        eval "$(xdotool getwindowgeometry --shell "$kwin")"
        menu=$((HEIGHT - 201))
        xdotool mousemove --sync $((X + 16 + 7)) $((Y + menu + 8 + 8)) click 1
        sleep 0.3
        xdotool windowmove "$kwin" 1000 700 # out of the browser's way

        for run in $(seq "$runs"); do
            dir="$cell/run$run"
            mkdir -p "$dir"
            if focus_textarea; then
                for k in "${!targets[@]}"; do
                    xdotool key Tab
                    got=$("${helper[@]}" wait "$work/page" "${targets[k]}" 5)
                    cp "$work/page/value.txt" "$dir/press-$((k + 1)).txt"
                    [ "$got" = "${targets[k]}" ] || log "  run $run press $((k + 1)): length $got, expected ${targets[k]}"
                    # A message box of Keyquill's ("illegal characters") takes the focus: answer it.
                    for box in $(xdotool search --onlyvisible --name '^Keyquill$' 2>/dev/null); do
                        [ "$box" = "$kwin" ] && continue
                        log "  run $run press $((k + 1)): Keyquill showed a message box; answered it"
                        xdotool windowfocus --sync "$box" key Return
                        sleep 0.3
                        click_textarea
                    done
                done
            else
                log "  run $run: the textarea never had the focus; counted as all lost"
            fi
            read -r exact lost extra total < <("${helper[@]}" score "$work/list.txt.expected.json" "$dir")
            echo "$browser $layout $run $exact $lost $extra $total" >>"$results"
            log "  run $run: exact $exact, lost $lost/$total, extra $extra (details $dir/score.txt)"
        done
        mv "$work/page/events.log" "$cell/page-events.log" 2>/dev/null # focus/blur of the textarea
        stop "$kpid"
        stop "$bpid"
        sleep 1
    done
done

echo
"${helper[@]}" table "$results" | tee "$work/table.txt"
echo "logs: $work"
exit 0
