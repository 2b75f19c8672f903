#!/usr/bin/env bash
# Builds and runs the station server in a station directory (default:
# ./station). The server reads and writes CONFIG/, LOG/ and DLD/ there.
#
# When that directory has no CONFIG/ yet, a demo station is made in it: two
# simulated Arxon units, one on a pseudo-terminal mapped to COM1 and one on a
# TCP port, and relay server #1 serving the first on port 8081. Run it again
# later and the demo's simulators start again with it.
#
# Without a display the window is drawn off screen; the message lines still
# appear on standard error.
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
  { crlf "$station/dev/com1"; for i in 2 3 4 5 6 7 8 9; do crlf "/dev/ttyS$((i-1))"; done; } > "$station/CONFIG/SerialPorts.CFG"
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
  for _ in $(seq 50); do
    grep -q '^TCP ' "$station/dev/tcp.out" 2>/dev/null && grep -q '^TCP ' "$station/dev/kx71.out" 2>/dev/null \
      && [ -e "$station/dev/com1" ] && break
    sleep 0.1
  done
  kxport=$(awk '/^TCP /{print $2}' "$station/dev/kx71.out")
  { crlf " 1" KELPO4 " 1" 1 " 0" " 0" " 0" "" "127.0.0.1" "$(printf '%6d' "$kxport")" "$station/LOG/" "Connect3-" 0 \
         "Demo KX-71 (TCP)" Rack3 "" 0; } > "$station/CONFIG/Connect3.CFG"
  port=$(awk '/^TCP /{print $2}' "$station/dev/tcp.out")
  { crlf " 0" KELPO4 " 1" 1 " 0" " 3" " 0" "" "127.0.0.1" "$(printf '%6d' "$port")" "$station/LOG/" "Connect2-" 0 \
         "Demo ARX (TCP)" Rack2 "" 0; } > "$station/CONFIG/Connect2.CFG"
  echo "Demo: unit on $(readlink "$station/dev/com1") as COM1 (page 1), unit on TCP port $port (page 2)."
  echo "Demo: relay server #1 on port 8081 serves page 1 (user demo, password demo)."
  echo "Demo: KX-71 analyzer on TCP port $kxport (page 3), served by relay server #2 on port 8082."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display: the window is drawn off screen; messages follow below. Stop with Ctrl+C."
fi
cd "$station"
"$server" &
server_pid=$!
pids+=("$server_pid")
# Ctrl+C and kill reach the server as SIGINT/SIGTERM; it closes as "Exit" does.
trap 'kill -TERM "$server_pid" 2>/dev/null || true' INT TERM
wait "$server_pid" || true
