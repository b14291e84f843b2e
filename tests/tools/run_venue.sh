#!/usr/bin/env bash
# tools/run-venue as a user meets it: eight rooms come online (the misbehaving one too), the
# login it prints lets one in, and Ctrl+C ends the server, which releases every processor, and
# then the emulators.
#   run_venue.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
group=
trap '[ -z "$group" ] || kill -KILL -- "-$group" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/script.out" >&2; exit 1; }
# Ports below the system's ephemeral range (where the suites beside this one get theirs from
# the system), chosen per run: the API's and the eight rooms' after it.
first_ephemeral=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
api=$((10000 + RANDOM % (first_ephemeral - 10000 - 16)))
ZEV_BUILD_DIR="$build_dir" ZEV_RUN_DIR="$work/run" ZEV_VENUE_PORT=$api ZEV_FRAME_PORT=$((api + 1)) \
    setsid bash "$source_dir/tools/run-venue" --no-build </dev/null >"$work/script.out" 2>&1 &
script=$!
group=$script
for _ in $(seq 300); do [ "$(grep -c ': online' "$work/script.out")" -ge 8 ] && break; sleep 0.1; done
[ "$(grep -c ': online' "$work/script.out")" -ge 8 ] || fail "not every room came online"
password=$(sed -n 's/.*user demo, password \(.*\)$/\1/p' "$work/script.out")
body="{\"user\":\"demo\",\"password\":\"$password\"}"
exec 3<>"/dev/tcp/127.0.0.1/$api"
printf 'POST /api/v1/login HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/json\r\nContent-Length: %s\r\nConnection: close\r\n\r\n%s' \
    "$api" "${#body}" "$body" >&3
reply=$(cat <&3)
exec 3<&-
grep -q '^HTTP/1.1 200 ' <<<"$reply" || fail "the printed login was refused: $reply"
kill -INT -- "-$group"
status=0
wait "$script" || status=$?
group=
for n in 1 2 3 4 5 6 7 8; do
    tail -n 2 "$work/run/room$n.frames" | grep -q "rx FE 07 66 6D FD" ||
        fail "Ctrl+C: room $n was not released"
done
for pid in $(pgrep -x 'zev720-sim|zev720d' || true); do
    [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" != "$work/run" ] || fail "process $pid was left running"
done
echo "run-venue: eight rooms online, the printed login taken, every processor released (exit $status)"
