#!/usr/bin/env bash
# Makes the small test clips in this folder from ffmpeg's synthetic test
# source. Run from anywhere; needs ffmpeg (with libx264) and cjpeg.
#
# H.264 clips are Annex B byte streams with an access unit delimiter at the
# start of every access unit; MPEG-4 clips are elementary streams (VOS/VO/VOL
# headers, then VOPs); JPEG clips are baseline JPEG files with the standard
# Huffman tables and IJG quality scaling, concatenated (cjpeg, so that the
# quantization tables are exactly those that an RTP/JPEG Q value stands for).
set -euo pipefail
cd "$(dirname "$0")"

src() { # width height frames
  echo "testsrc2=size=$1x$2:rate=25,format=yuv420p"
}

x264() { # name width height frames profile extra-params
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$(src "$2" "$3")" -frames:v "$4" \
    -c:v libx264 -profile:v "$5" -preset veryfast -g 10 -bf 0 -b:v "$7" \
    -x264-params "aud=1:repeat-headers=1:scenecut=0${6:+:$6}" -bsf:v h264_mp4toannexb \
    -f h264 "$1"
}

x264 h264_baseline_640x480.h264 640 480 30 baseline "" 600k
x264 h264_baseline_1280x720.h264 1280 720 20 baseline "" 900k
x264 h264_high_1920x1080.h264 1920 1080 10 high "" 1500k
# Baseline with x264's default picture parameter set: the one a receiver
# falls back to when a camera announces no parameter sets.
x264 h264_baseline_1920x1080.h264 1920 1080 3 baseline "ref=1" 1500k
# Field-coded (frame_mbs_only_flag 0).
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$(src 720 576)" -frames:v 10 \
  -c:v libx264 -profile:v main -preset veryfast -g 10 -bf 0 -b:v 800k -flags +ildct+ilme \
  -x264-params "aud=1:repeat-headers=1:scenecut=0:tff=1" -f h264 h264_interlaced_720x576.h264
# Field-coded and cropped: 34 map units of 32 lines, 8 lines cropped.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$(src 1920 1080)" -frames:v 3 \
  -c:v libx264 -profile:v high -preset veryfast -g 10 -bf 0 -b:v 1500k -flags +ildct+ilme \
  -x264-params "aud=1:repeat-headers=1:scenecut=0:tff=1" -f h264 h264_interlaced_1920x1080.h264

m4v() { # name width height frames
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$(src "$2" "$3")" -frames:v "$4" \
    -c:v mpeg4 -g 10 -bf 0 -b:v 800k -f m4v "$1"
}
m4v mpeg4_sp_640x480.m4v 640 480 30
m4v mpeg4_sp_1280x720.m4v 1280 720 20

jpegs() { # name width height frames quality cjpeg-options...
  local name=$1 w=$2 h=$3 n=$4 q=$5
  shift 5
  local tmp
  tmp=$(mktemp -d)
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -frames:v "$n" \
    -pix_fmt rgb24 "$tmp/f%03d.ppm"
  : > "$name"
  for f in "$tmp"/f*.ppm; do
    cjpeg -quality "$q" -baseline "$@" "$f" >> "$name"
  done
  rm -rf "$tmp"
}
jpegs jpeg420_640x480.mjpeg 640 480 15 50 -sample 2x2
jpegs jpeg422_640x480.mjpeg 640 480 15 50 -sample 2x1
jpegs jpeg420_restart_640x480.mjpeg 640 480 10 75 -sample 2x2 -restart 10B
jpegs jpeg420_1280x720.mjpeg 1280 720 10 50 -sample 2x2

du -ch -- *.h264 *.m4v *.mjpeg | tail -n 1
