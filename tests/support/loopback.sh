# Shell helpers of the tests that start real programs on this machine's loopback. Sourced.

# begin_work PROGRAM...: skipped (77) without any of them; otherwise in a new folder, $work,
# which goes at the exit with every process added to the array pids.
begin_work() {
    local program
    for program in "$@"; do
        command -v "$program" >/dev/null || { echo "no $program: skipped"; exit 77; }
    done
    work=$(mktemp -d)
    pids=()
    trap end_work EXIT
    cd "$work"
}
end_work() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    local until=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}

# A loopback port that nothing listens on now, for programs whose port is named in advance.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_venue DIR ROOM...: an emulator per room on TCP and a zev720d on them, its API on a
# port of its own; DIR/token holds a technician's token, DIR/viewer.token a viewer's (for a
# Prometheus), DIR/api the API's port, and
# DIR/ROOM.pid each emulator's process. Their processes are added to the array pids.
start_venue() {
    local dir=$1 room
    shift
    mkdir -p "$dir"
    echo "room, line" >"$dir/venue.csv"
    for room in "$@"; do
        "$build/zev720-sim" --listen 127.0.0.1:0 </dev/null >"$dir/$room.sim" 2>&1 &
        pids+=($!)
        echo $! >"$dir/$room.pid"
        wait_for 10 test -s "$dir/$room.sim"
        echo "$room, $(head -n 1 "$dir/$room.sim")" >>"$dir/venue.csv"
    done
    echo "tech-password" | "$zev720d" user add tech --role technician --state "$dir/state" >/dev/null
    "$zev720d" token add tech test --state "$dir/state" | tail -n 1 >"$dir/token"
    echo "viewer-password" | "$zev720d" user add monitor --role viewer --state "$dir/state" >/dev/null
    "$zev720d" token add monitor prometheus --state "$dir/state" | tail -n 1 >"$dir/viewer.token"
    "$zev720d" --venue "$dir/venue.csv" --state "$dir/state" --listen 127.0.0.1:0 >"$dir/server.out" 2>&1 &
    pids+=($!)
    wait_for 20 grep -q "$room: online" "$dir/server.out"
    sed -n 's|^API: http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$dir/server.out" >"$dir/api"
}
