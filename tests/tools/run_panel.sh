#!/usr/bin/env bash
# tools/run-panel as a user meets it: without a display it says so before installing or building
# anything; with one, Ctrl+C in its terminal (SIGINT to the whole foreground group) ends the
# panel first, which releases the processor and saves its default file, and then the emulator.
#   run_panel.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
group=
trap '[ -z "$group" ] || kill -KILL -- "-$group" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; for f in "$work"/run/*.out "$work"/panel.err; do [ -f "$f" ] && cat "$f" >&2; done; exit 1; }

# No display: nothing installed, configured or built. Stand-ins on PATH note any call.
mkdir "$work/bin"
for tool in apt-get dpkg-query cmake sudo; do
    printf '#!/bin/sh\necho %s >>"%s/called"\n' "$tool" "$work" >"$work/bin/$tool"
    chmod +x "$work/bin/$tool"
done
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$work/bin:$PATH" \
    bash "$source_dir/tools/run-panel" >"$work/nodisplay.out" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "no display: exit $status"
grep -q "^No display" "$work/nodisplay.out" || fail "no display: $(cat "$work/nodisplay.out")"
[ ! -e "$work/called" ] || fail "no display, yet it ran: $(tr '\n' ' ' <"$work/called")"

# Ctrl+C: the panel goes first, the emulator after it.
ZEV_BUILD_DIR="$build_dir" ZEV_RUN_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
    ZEV720_STARTUP_REPORT=1 XDG_RUNTIME_DIR="$work" \
    setsid bash "$source_dir/tools/run-panel" --no-build </dev/null >"$work/script.out" 2>"$work/panel.err" &
script=$!
group=$script # setsid from a background job: the script leads a group of its own
for _ in $(seq 300); do grep -q "first frame" "$work/panel.err" 2>/dev/null && break; sleep 0.1; done
grep -q "first frame" "$work/panel.err" || fail "the panel did not start"
for _ in $(seq 100); do grep -q "rx FE 06 66 6C FD" "$work/run/frames.log" 2>/dev/null && break; sleep 0.1; done
grep -q "rx FE 06 66 6C FD" "$work/run/frames.log" || fail "the panel did not connect"
kill -INT -- "-$group"
status=0
wait "$script" || status=$?
group=
grep -q "rx FE 07 66 6D FD" "$work/run/frames.log" || fail "Ctrl+C: no release frame reached the emulator"
[ "$(stat -c %s "$work/run/ZEV720Default.dat" 2>/dev/null)" = 5632 ] || fail "Ctrl+C: no default file"
[ ! -e "$work/run/zev720-com1" ] || fail "the emulator was left running"
echo "run-panel: no display found before building; Ctrl+C released the processor (exit $status)"
