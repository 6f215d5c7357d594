#!/usr/bin/env bash
# A whole launcher run on this machine, with the library's real timings:
# installs what the build needs, builds the programs, installs them into a
# fresh temporary directory and runs the launcher there. The launcher starts
# the AIR client, which asks for the game; the game connects and reports; chat
# goes both ways; the game stops; a version is installed and listed through the
# patch library and its game started and stopped; the AIR client closes; the
# launcher's exit callback fires and everything is removed. Prints the run's
# timeline and exits 0 only if all of that happened and nothing was left
# running.
#
# It also draws the run as a sequence diagram, a self-contained SVG file (one
# lane per program, an arrow per message), and prints where it is.
#
# Environment: DRUX_DEMO_BUILD_DIR builds there instead of build/default;
# DRUX_DEMO_KEEP=1 keeps the temporary directory (logs, timeline);
# DRUX_DEMO_PICTURE names the picture (default: drux-demo-run.svg in the build
# directory).
#
# scripts/demo.sh --ui: the same launcher, with the web UI (apps/web-ui) as its
# AIR client instead of the scripted stand-in; prints the page's URL for a
# person to click through, and ends when the page closes the launcher (or on
# Ctrl-C).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
ui=0
case "${1:-}" in
    --ui) ui=1 ;;
    "") ;;
    *) echo "usage: scripts/demo.sh [--ui]" >&2; exit 1 ;;
esac

cat <<'TEXT'
DruxLauncher demo: one whole launcher run with the library's real timings.
The library pauses twice for 5 seconds whenever it starts a program. This run
starts three (the AIR client, the game, the game of version 1.1.0; the first
two at the same time), so it takes about 20 seconds, plus the build the first
time (a few minutes).
TEXT

scripts/setup.sh
build=${DRUX_DEMO_BUILD_DIR:-$root/build/default}
echo "=== building the programs in $build"
if [ -n "${DRUX_DEMO_BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
else
    cmake --preset default >/dev/null
fi
cmake --build "$build" --target drux_apps DruxLauncher

work=$(mktemp -d "${TMPDIR:-/tmp}/drux-demo-XXXXXX")
keep=${DRUX_DEMO_KEEP:-}
cleanup() {
    # Nothing of the run may outlive it: end whatever noted its pid and still runs.
    if [ -f "$work/timeline.tsv" ]; then
        for pid in $(awk -F'\t' '$3 ~ /^pid [0-9]+/ {split($3, w, " "); print w[2]}' "$work/timeline.tsv"); do
            if running "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
        done
    fi
    if [ -n "$keep" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
# Whether the process runs: it exists and is not a zombie.
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != "Z" ]
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work" >/dev/null
cat >"$work/demo.air" <<'SCRIPT'
# The AIR client's part of the demo run.
create game --mode demo
wait GAMECLIENT_LAUNCHED 60
wait GAMECLIENT_CONNECTED_TO_SERVER 60
chat Hello from the AIR client
wait CHATMESSAGE_FROM_GAME 60 echo: Hello from the AIR client
chat /quit
wait GAMECLIENT_STOPPED 60
install 1.1.0
install progress
wait GAMECLIENT_INSTALL_PROGRESS 30 "state":"complete"
enumerate installed
wait GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS 30 "1.1.0"
create version 1.1.0 --mode demo
wait GAMECLIENT_LAUNCHED 60
wait GAMECLIENT_CONNECTED_TO_SERVER 60
chat /quit
wait GAMECLIENT_STOPPED 60
close
SCRIPT

if [ "$ui" = 1 ]; then
    echo "=== running the launcher in $work/bin on three free loopback ports, with the web UI as its AIR client"
    status=0
    (
        cd "$work/bin"
        unset DRUX_FIGURES DRUX_AIR_SCRIPT
        DRUX_TIMELINE="$work/timeline.tsv" DRUX_UI_URL_FILE="$work/ui-url" \
            exec ./drux-launcher --ports auto --air-path "$root/apps/web-ui/bin/drux-web-ui.js" >"$work/launcher.out" 2>&1
    ) &
    launcher=$!
    trap 'kill -INT "$launcher" 2>/dev/null || true' INT
    for _ in $(seq 300); do
        [ -s "$work/ui-url" ] && break
        kill -0 "$launcher" 2>/dev/null || break
        sleep 0.1
    done
    if [ -s "$work/ui-url" ]; then
        echo
        echo "UI: $(cat "$work/ui-url")"
        echo
        echo "Open it in a browser on this machine; \"Close the launcher\" on the page (or Ctrl-C here) ends the run."
    else
        echo "the web UI did not start; the launcher said:"
        cat "$work/launcher.out"
    fi
    # A Ctrl-C interrupts the wait; the launcher, told by the trap, closes the run.
    while :; do
        status=0
        wait "$launcher" || status=$?
        kill -0 "$launcher" 2>/dev/null || break
    done
    trap - INT
    echo "=== the launcher exited with status $status"
    exit "$status"
fi

# The default ports 47310-47312 may be taken (on Linux they lie inside the
# range the system gives outgoing connections): the launcher chooses three
# free loopback ports itself and prints them.
echo "=== running the launcher in $work/bin on three free loopback ports (--ports auto; printed below)"
status=0
(
    cd "$work/bin"
    unset DRUX_FIGURES  # the real figures
    DRUX_TIMELINE="$work/timeline.tsv" DRUX_AIR_SCRIPT="$work/demo.air" ./drux-launcher --ports auto
) || status=$?

echo
echo "=== timeline (seconds since the launcher started; -> sent to, <- received from)"
if [ -f "$work/timeline.tsv" ]; then
    sort -s -n -k1,1 "$work/timeline.tsv" |
        awk -F'\t' 'NR == 1 {t0 = $1} {printf "%8.3f  %-11s %s\n", ($1 - t0) / 1000, $2, $3}'
fi
echo
picture=${DRUX_DEMO_PICTURE:-$build/drux-demo-run.svg}
if [ -f "$work/timeline.tsv" ] && python3 tools/timeline/timeline_svg.py "$work/timeline.tsv" "$picture"; then
    echo "=== the run as a picture: $picture"
    echo
fi

failures=()
[ "$status" -eq 0 ] || failures+=("the launcher exited with status $status")
note() { grep -qF -- "$2" <(awk -F'\t' -v who="$1" '$2 == who {print $3}' "$work/timeline.tsv" 2>/dev/null); }
note air-client "script passed" || failures+=("the AIR client's script did not pass")
note game "started from $work/bin/versions/1.1.0/drux-game" || failures+=("no game of version 1.1.0 ran")
note launcher "exit callback" || failures+=("the exit callback did not fire")
note launcher "removed the controller" || failures+=("the controller was not removed")
# Every program noted its pid; none may still run.
for _ in $(seq 50); do
    left=()
    for pid in $(awk -F'\t' '$3 ~ /^pid [0-9]+/ {split($3, w, " "); print w[2]}' "$work/timeline.tsv" 2>/dev/null); do
        if running "$pid"; then left+=("$pid"); fi
    done
    [ ${#left[@]} -eq 0 ] && break
    sleep 0.1
done
[ ${#left[@]} -eq 0 ] || failures+=("still running: pids ${left[*]}")

if [ ${#failures[@]} -eq 0 ]; then
    echo "demo passed: the whole launcher run went as it should, and nothing is left running"
    exit 0
fi
echo "demo FAILED:"
printf '  - %s\n' "${failures[@]}"
for log in "$work"/bin/vantrel-*.log; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
done
exit 1
