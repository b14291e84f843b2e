#!/usr/bin/env bash
# An alert's way from a room to a person, with the real parts on this machine's loopback:
# Debian's Prometheus scrapes a real zev720d with a viewer's token and evaluates the shipped
# rules (their "for" shortened to seconds), Debian's Alertmanager gets the alert and sends it to
# a webhook receiver of this test's own, which must hear of the room whose emulator was killed,
# by its name, and of no other.
#   alerting.sh BUILD_DIR [ZEV720D RULES]   (the server and the rules to try: an installed
#                                            package's; the build's and the source's by default)
set -euo pipefail
build=$(cd "$1" && pwd)
zev720d=${2:-$build/zev720d}
here=$(cd "$(dirname "$0")" && pwd)
rules=${3:-$here/../../packaging/prometheus/zev720d.rules.yml}
source "$here/../support/loopback.sh"
begin_work prometheus prometheus-alertmanager python3 curl
start_venue "$work/venue" K01 K02
api=$(cat "$work/venue/api")

# The receiver: each POST's body, a line of the file.
cat >receiver.py <<'EOF'
import http.server, sys
class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        with open("received", "ab") as out:
            out.write(body.replace(b"\n", b" ") + b"\n")
        self.send_response(200)
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Hook)
open("receiver.port", "w").write(str(server.server_port))
server.serve_forever()
EOF
python3 receiver.py &
pids+=($!)
wait_for 10 test -s receiver.port
hook=$(cat receiver.port)

# The shipped rules, each "for" a few seconds.
sed 's/for: [0-9]*[mh]$/for: 5s/' "$rules" >rules.yml
alertmanager=$(free_port)
cat >alertmanager.yml <<EOF
route:
  receiver: venue
  group_by: [alertname, room]
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: venue
    webhook_configs: [{url: 'http://127.0.0.1:$hook/hooks/zev720', send_resolved: false}]
EOF
prometheus-alertmanager --config.file=alertmanager.yml --storage.path=alertmanager-data \
    --web.listen-address=127.0.0.1:$alertmanager --cluster.listen-address= \
    >alertmanager.out 2>&1 &
pids+=($!)
wait_for 30 curl -fs "http://127.0.0.1:$alertmanager/-/ready" -o /dev/null

prometheus=$(free_port)
cat >prometheus.yml <<EOF
global: {scrape_interval: 1s, evaluation_interval: 1s}
rule_files: [rules.yml]
alerting:
  alertmanagers: [{static_configs: [{targets: ['127.0.0.1:$alertmanager']}]}]
scrape_configs:
  - job_name: zev720d
    authorization: {credentials_file: $work/venue/viewer.token}
    static_configs: [{targets: ['127.0.0.1:$api']}]
EOF
prometheus --config.file=prometheus.yml --storage.tsdb.path=prometheus-data \
    --web.listen-address=127.0.0.1:$prometheus >prometheus.out 2>&1 &
pids+=($!)
rooms_up() {
    curl -fs "http://127.0.0.1:$prometheus/api/v1/query" --data-urlencode 'query=sum(zev720d_room_up)' |
        grep -q '"value":\[[0-9.]*,"2"\]'
}
if ! wait_for 60 rooms_up; then
    echo "Prometheus does not see both rooms online"; tail -20 prometheus.out; exit 1
fi

# K02's processor gone: the alert reaches the receiver, with the room's name and its reason.
kill -TERM "$(cat venue/K02.pid)"
if ! wait_for 90 grep -q '"alertname":"Zev720RoomOffline"' received 2>/dev/null; then
    echo "no alert reached the receiver"
    tail -5 venue/server.out prometheus.out alertmanager.out
    exit 1
fi
alert=$(grep '"alertname":"Zev720RoomOffline"' received)
echo "$alert" | grep -q '"room":"K02"' || { echo "the alert names no K02: $alert"; exit 1; }
echo "$alert" | grep -q '"reason":"' || { echo "the alert gives no reason: $alert"; exit 1; }
if grep -q '"room":"K01"' received; then echo "an alert of K01, which is online"; exit 1; fi
echo "the receiver heard: $(echo "$alert" | grep -o '"summary":"[^"]*"' | head -n 1)"
