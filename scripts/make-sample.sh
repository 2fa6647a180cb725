#!/usr/bin/env bash
# Regenerates samples/sample.mp4, the small clip the README's first command records:
# ten seconds of a moving test pattern with a tone, H.264 video and AAC audio.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p samples
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=320x240:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:beep_factor=4" \
  -t 10 -c:v libx264 -preset veryfast -crf 30 -pix_fmt yuv420p -g 50 \
  -c:a aac -b:a 64k -ac 2 -movflags +faststart \
  -metadata title="Tarnwick sample" samples/sample.mp4
ls -l samples/sample.mp4
