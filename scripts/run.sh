#!/usr/bin/env bash
# Builds and runs the station server in a station directory (default:
# ./station). The server reads and writes CONFIG/, LOG/ and DLD/ there.
#
# When that directory has no CONFIG/ yet, a demo station is made in it: two
# simulated Arxon units, one on a pseudo-terminal mapped to COM1 and one on a
# TCP port, a KX-71 analyzer, a KH-71 HD monitor mapped to COM4 and a KF-71
# on a TCP port; relay servers #1, #2 and #3 serve the first unit, the KX-71
# and the KH-71 on ports 8081, 8082 and 8083. Run it again later and the
# demo's simulators start again with it.
#
# Without a display the server runs without a window, as the service does
# (--headless); the message lines appear on standard error.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
station="$(realpath -m "${1:-$repo/station}")"
bash "$repo/scripts/build.sh" >/dev/null
server="$repo/build/tolva-server"
unitsim="$repo/build/tolva-unitsim"

crlf() { printf '%s\r\n' "$@"; }

make_demo() {
  mkdir -p "$station/CONFIG" "$station/LOG" "$station/DLD" "$station/dev"
  touch "$station/CONFIG/.demo"
  # COM1 is the simulator's pseudo-terminal, through a fixed link.
  # COM4 is the KH-71's.
  { crlf "$station/dev/com1" /dev/ttyS1 /dev/ttyS2 "$station/dev/com4"; for i in 5 6 7 8 9; do crlf "/dev/ttyS$((i-1))"; done; } \
    > "$station/CONFIG/SerialPorts.CFG"
  # The KM-71 and KV-73 take their module programs from DLD/<model>.DLD.
  for model in KM71 KV73; do
    { crlf 4660; for i in 1 2 3 4 5 6; do crlf ":10000${i}00C2A5E1F0$i"; done; } > "$station/DLD/$model.DLD"
  done
  # Page 1: RS-232 on COM1, logging on. Page 2: network, port filled in at start.
  { crlf " 0" KELPO4 " 0" 1 " 0" " 3" " 0" "" "000.000.000.000" "     0" "$station/LOG/" "Connect1-" 1 \
         "Demo ARX (pty)" Rack1 "" 0; } > "$station/CONFIG/Connect1.CFG"
  # Relay server 1 serves page 1 on port 8081; user "demo", password "demo".
  { crlf " 1" 1 "  8081" 0; } > "$station/CONFIG/Server1.CFG"
  { crlf " 1" demo demo Supervisor; } > "$station/CONFIG/Server1.USR"
  chmod 600 "$station/CONFIG/Server1.USR"
  # The KX-71's two program files: the server reads their version heads.
  { crlf 3; crlf "KXHC11 uP"; crlf "01.23"; crlf "S1130000"; } > "$station/DLD/KXHC11.DLD"
  { crlf 3; crlf "KXDSP"; crlf "04.56"; crlf "S1130000"; } > "$station/DLD/KXDSP.DLD"
  # Relay server 2 serves the KX-71 (page 3) on port 8082: "T\r", "U\r", "D1\r" ... "D4\r".
  { crlf " 3" 1 "  8082" 0; } > "$station/CONFIG/Server2.CFG"
  { crlf " 0"; } > "$station/CONFIG/Server2.USR"
  chmod 600 "$station/CONFIG/Server2.USR"
  # Page 4: a KH-71 HD monitor (hardware type 2) on COM4 at 57600 baud, HD
  # text log on; relay server 3 serves it on port 8083 (user demo, password demo).
  { crlf " 2" KELPO4 " 0" 1 " 3" " 0" " 0" "" "000.000.000.000" "     0" "$station/LOG/" "Connect4-" 1 \
         "Demo KH-71 (pty)" Rack4 "" 0; } > "$station/CONFIG/Connect4.CFG"
  { crlf " 4" 1 "  8083" 0; } > "$station/CONFIG/Server3.CFG"
  { crlf " 1" demo demo Supervisor; } > "$station/CONFIG/Server3.USR"
  chmod 600 "$station/CONFIG/Server3.USR"
  # The console on 127.0.0.1:8080, account demo/demo (Supervisor).
  printf '# The station console\nbind = 127.0.0.1\nport = 8080\n' > "$station/CONFIG/Console.CFG"
  printf 'demo' | "$server" --base "$station" --console-user demo --level Supervisor >/dev/null 2>&1
}

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ ! -d "$station/CONFIG" ]; then
  echo "No station in $station: making a demo station with simulated units."
  make_demo
fi

if [ -f "$station/CONFIG/.demo" ]; then
  "$unitsim" --pty --link "$station/dev/com1" --model KM71 --modules ks71,kc71,option \
    --trace "$station/LOG/unit-pty.trace" > "$station/dev/pty.out" &
  pids+=($!)
  "$unitsim" --tcp 0 --model KV73 --modules kv75 --trace "$station/LOG/unit-tcp.trace" > "$station/dev/tcp.out" &
  pids+=($!)
  "$unitsim" --tcp 0 --unit kx71 --trace "$station/LOG/unit-kx71.trace" > "$station/dev/kx71.out" &
  pids+=($!)
  # The HD units trace every 40th frame only: a frame line is 3 KB.
  "$unitsim" --pty --link "$station/dev/com4" --unit kh71 --trace "$station/LOG/unit-kh71.trace" \
    --trace-frames 40 > "$station/dev/kh71.out" &
  pids+=($!)
  # The KF-71 goes silent for 100 s two minutes after its data starts, so that
  # an alarm is raised (after 60 s) and cleared (10 s after it talks again).
  "$unitsim" --tcp 0 --unit kf71 --trace "$station/LOG/unit-kf71.trace" --trace-frames 40 --pause 120:100 \
    > "$station/dev/kf71.out" &
  pids+=($!)
  for _ in $(seq 50); do
    grep -q '^TCP ' "$station/dev/tcp.out" 2>/dev/null && grep -q '^TCP ' "$station/dev/kx71.out" 2>/dev/null \
      && grep -q '^TCP ' "$station/dev/kf71.out" 2>/dev/null && [ -e "$station/dev/com1" ] \
      && [ -e "$station/dev/com4" ] && break
    sleep 0.1
  done
  # Page 5: the KF-71 (hardware type 3) on its TCP port.
  kfport=$(awk '/^TCP /{print $2}' "$station/dev/kf71.out")
  { crlf " 3" KELPO4 " 1" 1 " 0" " 0" " 0" "" "127.0.0.1" "$(printf '%6d' "$kfport")" "$station/LOG/" "Connect5-" 0 \
         "Demo KF-71 (TCP)" Rack5 "" 0; } > "$station/CONFIG/Connect5.CFG"
  kxport=$(awk '/^TCP /{print $2}' "$station/dev/kx71.out")
  { crlf " 1" KELPO4 " 1" 1 " 0" " 0" " 0" "" "127.0.0.1" "$(printf '%6d' "$kxport")" "$station/LOG/" "Connect3-" 0 \
         "Demo KX-71 (TCP)" Rack3 "" 0; } > "$station/CONFIG/Connect3.CFG"
  port=$(awk '/^TCP /{print $2}' "$station/dev/tcp.out")
  { crlf " 0" KELPO4 " 1" 1 " 0" " 3" " 0" "" "127.0.0.1" "$(printf '%6d' "$port")" "$station/LOG/" "Connect2-" 0 \
         "Demo ARX (TCP)" Rack2 "" 0; } > "$station/CONFIG/Connect2.CFG"
  echo "Demo: unit on $(readlink "$station/dev/com1") as COM1 (page 1), unit on TCP port $port (page 2)."
  echo "Demo: relay server #1 on port 8081 serves page 1 (user demo, password demo)."
  echo "Demo: KX-71 analyzer on TCP port $kxport (page 3), served by relay server #2 on port 8082."
  echo "Demo: KH-71 on $(readlink "$station/dev/com4") as COM4 (page 4), served by relay server #3 on port 8083;"
  echo "      KF-71 on TCP port $kfport (page 5); it goes silent for 100 s two minutes in (an alarm: View > Alarms,"
  echo "      curl -u demo:demo http://127.0.0.1:8080/api/alarms)."
  echo "Demo: station console on http://127.0.0.1:8080/ (user demo, password demo), e.g."
  echo "      curl -u demo:demo http://127.0.0.1:8080/api/station ; curl http://127.0.0.1:8080/metrics"
fi

# The station network: with mosquitto installed, the demo publishes to a broker
# on 127.0.0.1:1883, started here unless one listens there already.
if [ -f "$station/CONFIG/.demo" ] && command -v mosquitto >/dev/null; then
  if ! (exec 3<>/dev/tcp/127.0.0.1/1883) 2>/dev/null; then
    printf 'listener 1883 127.0.0.1\nallow_anonymous true\n' > "$station/dev/mosquitto.conf"
    mosquitto -c "$station/dev/mosquitto.conf" 2>"$station/dev/mosquitto.err" &
    pids+=($!)
  fi
  [ -f "$station/CONFIG/Network.CFG" ] || printf 'broker_host = 127.0.0.1\nstation = demo\n' > "$station/CONFIG/Network.CFG"
  echo "Demo: publishing to the MQTT broker on 127.0.0.1:1883 as tolva/demo; watch it with"
  echo "      mosquitto_sub -v -t 'tolva/#'   (the fleet: curl -u demo:demo http://127.0.0.1:8080/api/network)"
fi

mode=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  mode=(--headless)
  echo "No display: the server runs without a window, as the service does; messages follow below. Stop with Ctrl+C."
fi
cd "$station"
"$server" "${mode[@]}" &
server_pid=$!
pids+=("$server_pid")
# Ctrl+C reaches the server itself (the terminal signals the whole group) and
# kill is passed on as SIGTERM; either closes it as "Exit" does. One signal
# only: a second one would end the server before its units' sessions.
trap 'kill -TERM "$server_pid" 2>/dev/null || true' TERM
trap ':' INT
wait "$server_pid" || true
# A signal ends the first wait early; the simulators stay up until the server
# has closed its links.
wait "$server_pid" 2>/dev/null || true
