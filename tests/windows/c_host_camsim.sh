#!/usr/bin/env bash
# The plain-C recorder host, built for Windows, under Wine against camsim run
# natively on loopback with the camera settings the host's checks expect.
# Usage: c_host_camsim.sh WINE C_HOST_EXE DLL CAMSIM WORK_DIR [C_HOST OPTIONS]
set -euo pipefail
wine=$1 host=$2 dll=$3 camsim=$4 work=$5
shift 5
rm -rf "$work"
mkdir -p "$work"
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
  [ -n "$camsim_pid" ] && wait "$camsim_pid" 2>/dev/null || true
}
trap cleanup EXIT

read -r -a options <<<"$("$wine" "$host" --camsim-args | tr -d '\r')"
"$camsim" --http-port 0 --rtsp-port 0 "${options[@]}" >"$work/camsim.log" 2>&1 &
camsim_pid=$!
for _ in $(seq 200); do
  grep -q "Press Ctrl-C" "$work/camsim.log" && break
  if ! kill -0 "$camsim_pid" 2>/dev/null; then
    echo "camsim did not start: $(cat "$work/camsim.log")" >&2
    exit 1
  fi
  sleep 0.05
done
http=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$work/camsim.log" | head -n 1 | cut -d: -f3)
rtsp=$(grep -o 'rtsp://127\.0\.0\.1:[0-9]*' "$work/camsim.log" | head -n 1 | cut -d: -f3)
if [ -z "$http" ] || [ -z "$rtsp" ]; then
  echo "no camsim ports in: $(cat "$work/camsim.log")" >&2
  exit 1
fi
"$wine" "$host" "$dll" --camera "$http" "$rtsp" "$@"
