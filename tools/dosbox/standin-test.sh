#!/bin/bash
# Runs the DOSBox stand-in the way the launcher does and checks what the watchers will read.
set -u
bin="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi; }

game="$work/My Game"
mkdir -p "$game"
: > "$game/GAME.EXE"
echo data > "$game/LEVEL2.DAT"
cat > "$game/dosbox.conf" <<CONF
[sdl]
fullscreen=false
# the launcher writes these two before a launch
[LOG]
LogFile=$game/.meta/zeb.log
files=true
CONF
cat > "$game/standin.script" <<SCRIPT
# a short game session
open LEVEL2.DAT
sleep 10
open MISSING.DAT
score hiscore 10000
event boss
event ../escape
SCRIPT
mkdir -p "$game/.meta"

# Debugger build, configuration from the working folder, no display at all.
(cd "$game" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/dosbox-zeb" "$game/GAME.EXE")
check "debugger build ends with 0" "[ $? -eq 0 ]"
log="$game/.meta/zeb.log"
check "one log line per opened file" "[ \$(grep -c 'FILES:' '$log') -eq 2 ]"
check "FILES: after the first 10 characters" "[ \"\$(head -1 '$log' | cut -c13-18)\" = 'FILES:' ]"
check "file name is the last word" "[ \"\$(head -1 '$log' | awk '{print \$NF}')\" = LEVEL2.DAT ] && [ \"\$(tail -1 '$log' | awk '{print \$NF}')\" = MISSING.DAT ]"
check "score file is 10000 little-endian" "[ \"\$(od -An -tx1 '$game/.meta/hiscore.se' | tr -d ' \n')\" = 10270000 ]"
check "event file written" "[ -f '$game/.meta/boss.ae' ]"
check "names leaving .meta are refused" "[ ! -e '$game/escape.ae' ] && [ ! -e '$game/.meta/../escape.ae' ]"

# Plain build with -conf from elsewhere: it runs the game but does not log.
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/dosbox" -conf "$game/dosbox.conf" -noconsole "$game/GAME.EXE")
check "plain build ends with 0" "[ $? -eq 0 ]"
check "plain build writes no log lines" "[ \$(grep -c 'FILES:' '$log') -eq 2 ]"

# No -conf and no dosbox.conf in the working folder: the game's own is used.
(cd "$work" && QT_QPA_PLATFORM=offscreen "$bin/dosbox-zeb" "$game/GAME.EXE")
check "game folder's dosbox.conf without -conf" "[ \$(grep -c 'FILES:' '$log') -eq 4 ]"

# A later -conf overrides an earlier one; a second debugger run appends to the log.
printf '[log]\nfiles=false\n' > "$work/off.conf"
(cd "$work" && "$bin/dosbox-zeb" -conf "$game/dosbox.conf" -conf "$work/off.conf" "$game/GAME.EXE")
check "files=false in a later -conf stops file lines" "[ \$(grep -c 'FILES:' '$log') -eq 4 ]"
(cd "$work" && QT_QPA_PLATFORM=offscreen "$bin/dosbox-zeb.exe" -conf "$game/dosbox.conf" "$game/GAME.EXE")
check "another run appends" "[ \$(grep -c 'FILES:' '$log') -eq 6 ]"

# The debugger window, as the launcher looks for it.
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
    printf 'open LEVEL2.DAT\nstay\n' > "$game/standin.script"
    xvfb-run -a bash -c "
        '$bin/dosbox-zeb' -conf '$game/dosbox.conf' '$game/GAME.EXE' & pid=\$!
        timeout 30 xdotool search --sync --name 'DOSBox Debugger' >/dev/null; rc=\$?
        kill \$pid; wait \$pid 2>/dev/null; exit \$rc"
    check "window titled DOSBox Debugger" "[ $? -eq 0 ]"
else
    echo "skipped: window check (no xvfb-run or xdotool)"
fi

exit $fail
