#!/usr/bin/env bash
# The demo behind `./run demo`: three simulated PSIA cameras on free loopback
# ports, one per codec, recorded for a few seconds through the driver as a
# recorder host would: H.264 over UDP, JPEG interleaved in the RTSP
# connection, MPEG-4 interleaved over TCP. Output lands in demo-output/.
set -euo pipefail
build=$1
shift || true
seconds=${DEMO_SECONDS:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/demo-output"
camsim="$build/tools/camsim/camsim"
host="$build/tools/ombrelix-host/ombrelix-host"
library="$build/src/libombrelix.so"

rm -rf "$out"
mkdir -p "$out/host"
# The driver reads its configuration file next to the host's executable, so
# the demo runs its own copy of the host with its own Ombrelix.xml.
cp "$host" "$out/host/ombrelix-host"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# start_camera NAME CODEC -> sets HTTP_PORT
start_camera() {
  local name=$1 codec=$2 log="$out/camsim-$1.log"
  "$camsim" --http-port 0 --rtsp-port 0 --codec "$codec" --resolution 640x480 --inputs 0 --outputs 0 >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    HTTP_PORT=$(sed -n 's#.*PSIA: *http://127.0.0.1:\([0-9]*\)/.*#\1#p' "$log" | head -n 1)
    [ -n "$HTTP_PORT" ] && return 0
    sleep 0.1
  done
  echo "demo: camsim ($name) did not start:" >&2
  cat "$log" >&2
  exit 1
}

start_camera h264 H.264
h264_port=$HTTP_PORT
start_camera jpeg MJPEG
jpeg_port=$HTTP_PORT
start_camera mpeg4 MPEG4
mpeg4_port=$HTTP_PORT

cat >"$out/host/Ombrelix.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Configuration>
  <Device address="127.0.0.1" port="$h264_port"><VideoChannel><RTPMode>RTPoverUDP</RTPMode></VideoChannel></Device>
  <Device address="127.0.0.1" port="$jpeg_port"><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></Device>
  <Device address="127.0.0.1" port="$mpeg4_port"><VideoChannel><RTPMode>RTPoverTCP</RTPMode></VideoChannel></Device>
</Configuration>
EOF

echo "demo: cameras on HTTP ports $h264_port (H.264), $jpeg_port (JPEG), $mpeg4_port (MPEG-4)"
echo "demo: probing the H.264 camera"
"$out/host/ombrelix-host" probe --library "$library" -p "$h264_port" -u admin -w admin | tee "$out/probe.txt"

record() { # name codec port
  mkdir -p "$out/$1"
  "$out/host/ombrelix-host" record --library "$library" --probe -q -a 127.0.0.1 -p "$3" -u admin -w admin \
    -c "$2" --width 640 --height 480 --interval 40 -d "$seconds" -o "$out/$1" >"$out/$1/record.txt" 2>&1
}

echo "demo: recording $seconds s from each camera (H.264 over UDP, JPEG over RTSP, MPEG-4 over TCP)"
status=0
record h264 h264 "$h264_port" & r1=$!
record jpeg jpeg "$jpeg_port" & r2=$!
record mpeg4 mpeg4 "$mpeg4_port" & r3=$!
wait $r1 || status=1
wait $r2 || status=1
wait $r3 || status=1

for name in h264 jpeg mpeg4; do
  echo "== $name"
  grep -v '^capability text' "$out/$name/record.txt" || true
  file=$(ls "$out/$name"/channel0.* 2>/dev/null | grep -v '\.log$' | head -n 1)
  if [ -n "$file" ] && command -v ffprobe >/dev/null; then
    echo "   ffprobe: $(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$file" 2>/dev/null | head -n 1)"
  fi
done
echo "demo: files in $out"
exit $status
