#!/usr/bin/env bash
# A chain of three venues on this machine's loopback, as docs/chain.md sets one up: a central
# Prometheus sees every venue (two scraped directly with each venue's viewer token, the third
# through its own Prometheus's /federate), and tools/chain-rollout rolls a preset out to them
# all, two at a time, with a report per venue and room: a room that is offline and a venue
# that cannot be reached are told as failed, and the rest took the preset.
#   chain.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
zev720d=$build/zev720d
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/loopback.sh"
begin_work prometheus python3 curl
for venue in one two three; do start_venue "$work/$venue" K01 K02; done
api() { # VENUE METHOD PATH [BODY]
    curl -fsS -X "$2" -H "Authorization: Bearer $(cat "$1/token")" -H "Content-Type: application/json" \
        ${4:+--data "$4"} "http://127.0.0.1:$(cat "$1/api")$3"
}

# Venue three's own Prometheus, which the central one federates.
three=$(free_port)
cat >three/prometheus.yml <<EOF
global: {scrape_interval: 1s, external_labels: {venue: three}}
scrape_configs:
  - job_name: zev720d
    authorization: {credentials_file: $work/three/viewer.token}
    static_configs: [{targets: ['127.0.0.1:$(cat three/api)']}]
EOF
prometheus --config.file=three/prometheus.yml --storage.tsdb.path=three/prometheus-data \
    --web.listen-address=127.0.0.1:$three >three/prometheus.out 2>&1 &
pids+=($!)
central=$(free_port)
cat >central.yml <<EOF
global: {scrape_interval: 1s}
scrape_configs:
EOF
for venue in one two; do
    cat >>central.yml <<EOF
  - job_name: venue-$venue
    authorization: {credentials_file: $work/$venue/viewer.token}
    static_configs: [{targets: ['127.0.0.1:$(cat $venue/api)'], labels: {venue: $venue}}]
    relabel_configs: [{target_label: job, replacement: zev720d}]
EOF
done
cat >>central.yml <<EOF
  - job_name: venue-three
    honor_labels: true
    metrics_path: /federate
    params: {'match[]': ['{job="zev720d"}']}
    static_configs: [{targets: ['127.0.0.1:$three']}]
EOF
prometheus --config.file=central.yml --storage.tsdb.path=central-data \
    --web.listen-address=127.0.0.1:$central >central.out 2>&1 &
pids+=($!)
every_venue_seen() {
    curl -fs "http://127.0.0.1:$central/api/v1/query" \
        --data-urlencode 'query=sum by (venue) (zev720d_room_up{job="zev720d"})' >seen.json || return 1
    python3 - <<'EOF'
import json, sys
seen = {r["metric"].get("venue"): r["value"][1] for r in json.load(open("seen.json"))["data"]["result"]}
sys.exit(0 if seen == {"one": "2", "two": "2", "three": "2"} else 1)
EOF
}
if ! wait_for 60 every_venue_seen; then
    echo "the central Prometheus does not see every venue's rooms: $(cat seen.json)"
    tail -5 central.out three/prometheus.out
    exit 1
fi
echo "central Prometheus: every venue's rooms online, two scraped directly, one federated"

# The preset, made at venue one and kept as its parameter file.
api one PATCH /api/v1/rooms/K01/registers \
    '{"registers":[{"name":"MusicVolumeTrackBar","shown":"60dB"}]}' >/dev/null
api one PUT /api/v1/presets/night '{"fromRoom":"K01"}' >/dev/null
api one GET '/api/v1/presets/night?format=dat' >night.dat
# Venue three's K02 switched off; a fourth venue that nothing answers.
kill -TERM "$(cat three/K02.pid)"
wait_for 20 sh -c "curl -fs -H 'Authorization: Bearer $(cat three/token)' \
    http://127.0.0.1:$(cat three/api)/api/v1/rooms/K02 | grep -q '\"state\":\"offline\"'"
gone=$(free_port)
cat >venues.txt <<EOF
# venue  server  technician's token
one    http://127.0.0.1:$(cat one/api)    one/token
two    http://127.0.0.1:$(cat two/api)    two/token
three  http://127.0.0.1:$(cat three/api)  three/token
gone   http://127.0.0.1:$gone             one/token
EOF
status=0
python3 "$here/../../tools/chain-rollout" venues.txt night.dat --name 深夜 --parallel 2 \
    --timeout 10 >report || status=$?
cat report
[ $status -eq 1 ] || { echo "chain-rollout ended with $status, not 1"; exit 1; }
for line in "one	K01	ok" "one	K02	ok" "two	K01	ok" "two	K02	ok" "three	K01	ok"; do
    grep -qx "$line" report || { echo "no line '$line'"; exit 1; }
done
grep -q "^three	K02	failed	" report || { echo "three's K02 not told as failed"; exit 1; }
grep -q "^gone	-	failed	" report || { echo "the unreachable venue not told"; exit 1; }
grep -qx "2 of 4 venues took '深夜' in every room; not: three, gone" report
api two GET /api/v1/rooms/K02 | grep -q '"name":"MusicVolumeTrackBar"[^}]*"shown":"60dB"' ||
    { echo "venue two's K02 does not hold the preset"; exit 1; }
if grep -q "$(cat one/token)" report; then echo "a token in the report"; exit 1; fi
echo "chain-rollout: the preset in every room that was online, the rest told"
