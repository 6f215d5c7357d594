#!/usr/bin/env bash
# A whole launcher run of the Windows programs under Wine: the launcher starts
# the AIR client, which asks for the game; chat goes both ways; the game stops;
# a version is listed, installed through the patch library and its game
# started and stopped; the AIR client closes and the exit callback ends the
# run. Start pauses are shortened through DRUX_FIGURES, which only the test
# build of the library (tests/test-seams/DruxLauncher.dll) reads.
# Usage: wine_run_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/drux-wine-run-XXXXXX")
trap 'if [ -z "${DRUX_KEEP_RUNS:-}" ]; then rm -rf "$work"; else echo "kept $work"; fi' EXIT

for program in drux-launcher.exe KyrCLient.exe drux-game.exe patcher.dll; do
    cp "$build/apps/$program" "$work/"
done
cp "$build/tests/test-seams/DruxLauncher.dll" "$work/"
# Three ports of our own below the ephemeral range: free when nothing listens.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 12000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}
launcher_port=$(free_port)
air_port=$(free_port)
game_port=$(free_port)

cat >"$work/run.air" <<'SCRIPT'
create game first second
wait LAUNCHED 30
wait CONNECTED_TO_SERVER 30
chat hello game
wait CHATMESSAGE_FROM_GAME 20 echo: hello game
chat /quit
wait STOPPED 30
enumerate latest
wait ENUMERATE_LATEST_VERSIONS 20 ["2.0.0","1.1.0","1.0.0"]
install 1.1.0
install progress
wait INSTALL_PROGRESS 20 "state":"complete"
enumerate installed
wait ENUMERATE_INSTALLED_VERSIONS 20 ["1.1.0"]
create version 1.1.0 with args
wait CONNECTED_TO_SERVER 30
chat /quit
wait STOPPED 30
close
SCRIPT

# Windows programs read these paths on the Unix root's drive.
windows() { echo "Z:$1" | tr / '\\'; }
status=0
(
    cd "$work"
    export DRUX_TIMELINE=$(windows "$work/timeline.tsv") DRUX_AIR_SCRIPT=$(windows "$work/run.air")
    export DRUX_PATCHER_ROOT=$(windows "$work/versions")
    export DRUX_FIGURES=processStartPauseMs=100,processExitWaitMs=3000
    timeout 180 "$source/scripts/wine-run.sh" "$build" "$work/drux-launcher.exe" --launcher-port "$launcher_port" \
        --air-port "$air_port" --game-port "$game_port" </dev/null >"$work/launcher.out" 2>&1
) || status=$?

failures=()
[ "$status" -eq 0 ] || failures+=("the launcher exited with status $status")
notes() { awk -F'\t' -v who="$1" '$2 == who {print $3}' "$work/timeline.tsv" 2>/dev/null; }
expect() { notes "$1" | grep -qF -- "$2" || failures+=("$1 did not note: $2"); }
expect air-client "script passed"
expect game "ordinary start, game port $game_port, arguments \"first second\""
expect game "<- launcher  CHATMESSAGE_TO_GAME \"hello game\""
expect game "versions\\1.1.0/drux-game.exe"
expect game "arguments \"with args\""
expect launcher "exit callback"
expect launcher "removed the controller"
if notes launcher | grep -qF "error callback"; then failures+=("the launcher reported an error"); fi
[ -f "$work/versions/1.1.0/drux-game.exe" ] || failures+=("version 1.1.0 has no game")
[ -f "$work/versions/1.1.0/DruxLauncher.dll" ] || failures+=("version 1.1.0 has no DruxLauncher.dll")

if [ ${#failures[@]} -eq 0 ]; then
    echo "whole run under Wine passed ($(wc -l <"$work/timeline.tsv") timeline notes)"
    exit 0
fi
echo "whole run under Wine FAILED:"
printf '  - %s\n' "${failures[@]}"
echo "--- timeline"; sort -n "$work/timeline.tsv" 2>/dev/null || true
echo "--- launcher output"; cat "$work/launcher.out"
for log in "$work"/vantrel-*.log; do [ -f "$log" ] && { echo "--- $log"; tail -n 30 "$log"; }; done
exit 1
