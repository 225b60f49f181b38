#!/usr/bin/env bash
# ombrelix-host.exe under Wine records from camsim, which runs natively on
# loopback, every codec over UDP and interleaved in RTSP; ffprobe decodes
# every file. Usage: record_camsim.sh WINE HOST_EXE DLL CAMSIM WORK_DIR
set -euo pipefail
wine=$1 host=$2 dll=$3 camsim=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
host_dir=$(dirname "$host")
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
  rm -f "$host_dir/Ombrelix.xml"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

failed=0
runs=0
# codec (ombrelix-host), codec (camsim), RTP mode, ffprobe codec name
for combo in "h264 H.264 RTPoverUDP h264" "h264 H.264 RTPoverTCP h264" \
             "jpeg MJPEG RTPoverUDP mjpeg" "jpeg MJPEG RTPoverRTSP mjpeg" \
             "mpeg4 MPEG4 RTPoverUDP mpeg4" "mpeg4 MPEG4 RTPoverTCP mpeg4"; do
  set -- $combo
  name=$1-$3
  out="$work/$name"
  mkdir -p "$out"
  http=$(free_port)
  rtsp=$(free_port)
  "$camsim" --http-port "$http" --rtsp-port "$rtsp" --codec "$2" --fps 25 >"$out/camsim.log" 2>&1 &
  camsim_pid=$!
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $http), 0.2)" 2>/dev/null && break
    sleep 0.05
  done
  printf '<?xml version="1.0"?><Configuration><Device><VideoChannel><RTPMode>%s</RTPMode></VideoChannel></Device></Configuration>\n' \
    "$3" >"$host_dir/Ombrelix.xml"
  status=0
  "$wine" "$host" record --library "$dll" --probe -q -a 127.0.0.1 -p "$http" -u admin -w admin -c "$1" \
    --width 640 --height 480 --interval 40 -d 5 -o "Z:${out//\//\\}" >"$out/host.txt" 2>&1 || status=$?
  kill "$camsim_pid" 2>/dev/null || true
  wait "$camsim_pid" 2>/dev/null || true
  camsim_pid=
  runs=$((runs + 1))
  file=$(ls "$out"/channel0.* 2>/dev/null | grep -v '\.log$' | head -n 1 || true)
  probe=""
  [ -n "$file" ] && probe=$(ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames \
    -of csv=p=0 "$file" 2>/dev/null || true)
  frames=$(echo "$probe" | awk -F, '{print $4}')
  if [ "$status" -ne 0 ] || [ "$(echo "$probe" | cut -d, -f1-3)" != "$4,640,480" ] || [ "${frames:-0}" -lt 10 ]; then
    echo "FAIL $name: host exit $status, ffprobe [$probe]"
    tail -n 5 "$out/host.txt"
    failed=$((failed + 1))
  else
    echo "ok   $name: $frames frames decoded ($probe)"
  fi
done
echo "$((runs - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
