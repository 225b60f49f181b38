#!/usr/bin/env bash
# ombrelix-host.exe under Wine as a person meets it, against camsim running
# natively on loopback: a bad option exits 2 naming it, --version, a refused
# password named as the cause, an earlier recording kept without -y and after
# a failed run with -y, and a snapshot refused by a build without libavcodec.
# Usage: host_tool_camsim.sh WINE HOST_EXE DLL CAMSIM VERSION WORK_DIR
set -uo pipefail
wine=$1 host=$2 dll=$3 camsim=$4 version=$5 work=$6
rm -rf "$work"
mkdir -p "$work/rec"
camsim_pid=
trap '[ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
http=$(free_port)
rtsp=$(free_port)
"$camsim" --http-port "$http" --rtsp-port "$rtsp" >"$work/camsim.log" 2>&1 &
camsim_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $http), 0.2)" 2>/dev/null && break
  sleep 0.05
done

failed=0
# expect NAME STATUS TEXT -- ARGUMENTS: the tool exits with STATUS and prints TEXT.
expect() {
  local name=$1 want=$2 text=$3 status=0
  shift 4
  "$wine" "$host" "$@" >"$work/$name.txt" 2>&1 || status=$?
  if [ "$status" -ne "$want" ] || ! tr -d '\r' <"$work/$name.txt" | grep -qF -- "$text"; then
    echo "FAIL $name: exit $status (want $want), no '$text' in:"
    sed 's/^/    /' "$work/$name.txt"
    failed=$((failed + 1))
  else
    echo "ok   $name"
  fi
}

device=(--library "$dll" -p "$http" -u admin)
recording=(-q -d 3 -o "Z:${work//\//\\}\\rec" --capability "1;$rtsp;CBR,VBR;64;8192;20,40,60")
earlier="$work/rec/channel0.h264"
echo "an earlier recording" >"$earlier"

expect bad-option 2 "--quality: Value 500 not in range 0 to 100" -- record --quality 500
expect version 0 "ombrelix-host $version" -- --version
expect refused-password 1 "deviceInfo answered HTTP 401 (code 3)" -- probe "${device[@]}" -w wrong
expect kept-without-y 2 "channel0.h264 exists (-y or --overwrite replaces it)" -- \
  record "${device[@]}" -w admin "${recording[@]}"
expect kept-after-failure 1 "no frame arrived (the driver says: GET /PSIA/Streaming/channels/1 answered HTTP 401)" -- \
  record "${device[@]}" -w wrong -y "${recording[@]}"
if [ "$(cat "$earlier")" != "an earlier recording" ] || [ "$(ls "$work/rec")" != channel0.h264 ]; then
  echo "FAIL the earlier recording changed or files were left beside it: $(ls "$work/rec" | tr '\n' ' ')"
  failed=$((failed + 1))
fi
expect snapshot-without-libavcodec 2 "decodes no pictures (no libavcodec)" -- snapshot "${device[@]}" -w admin
[ "$failed" -eq 0 ]
