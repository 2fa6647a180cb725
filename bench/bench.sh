#!/usr/bin/env bash
# Side-by-side benchmark: tarnwick-record against the FFmpeg command line on the same transcode.
#
#   bench/bench.sh [RUNS]      (default 5 runs of each, alternating)
#
# Generates a 60-second 640x480 30 fps H.264/AAC clip, records it with
# `tarnwick-record --profile wmp_V80_384Video` and transcodes it with ffmpeg to the same output
# (320x240 at 29.97 fps, WMV8 at 352 kbps with a key frame every 8 s, WMA at 32 kbps 44.1 kHz
# stereo, ASF), alternating the two, and prints the median wall time and peak memory of each
# and their ratios. Then it records a 10-minute source and compares its peak memory with the
# 60-second run's, to show that memory stays flat with the length of the source.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}
BUILD=${BUILD:-build/linux}
REC=$BUILD/tools/tarnwick-record
WORK=${BENCH_DIR:-/tmp/tarnwick-bench}
mkdir -p "$WORK"

if [ ! -x "$REC" ]; then
  cmake --preset linux >/dev/null
  cmake --build "$BUILD" -j2 --target tarnwick-record >/dev/null
fi

make_clip() {  # seconds, file
  [ -s "$2" ] && return 0
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=640x480:rate=30" -f lavfi -i "sine=frequency=523:sample_rate=48000" \
    -t "$1" -c:v libx264 -preset medium -b:v 1500k -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -ac 2 "$2"
}
make_clip 60 "$WORK/clip60.mp4"

# Prints "seconds peak_kB" of one run of the command.
measure() {
  /usr/bin/time -o "$WORK/time.txt" -f "%e %M" "$@" >/dev/null 2>"$WORK/stderr.txt" || {
    echo "failed: $*" >&2; cat "$WORK/stderr.txt" >&2; exit 1; }
  tail -1 "$WORK/time.txt"
}

median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

tw_times=(); tw_mem=(); ff_times=(); ff_mem=()
for ((i = 1; i <= RUNS; i++)); do
  read -r t m < <(measure "$REC" --quiet --profile wmp_V80_384Video "$WORK/clip60.mp4" "$WORK/tarnwick.asf")
  tw_times+=("$t"); tw_mem+=("$m")
  read -r t m < <(measure ffmpeg -nostdin -hide_banner -loglevel error -y -i "$WORK/clip60.mp4" \
    -vf "scale=320:240" -r 30000/1001 -c:v wmv2 -b:v 352k -g 240 -maxrate 352k -bufsize 1760k \
    -c:a wmav2 -b:a 32k -ar 44100 -ac 2 -f asf "$WORK/ffmpeg.asf")
  ff_times+=("$t"); ff_mem+=("$m")
  echo "run $i: tarnwick ${tw_times[-1]} s ${tw_mem[-1]} kB, ffmpeg ${ff_times[-1]} s ${ff_mem[-1]} kB"
done

tw_t=$(printf '%s\n' "${tw_times[@]}" | median); ff_t=$(printf '%s\n' "${ff_times[@]}" | median)
tw_m=$(printf '%s\n' "${tw_mem[@]}" | median); ff_m=$(printf '%s\n' "${ff_mem[@]}" | median)
echo
echo "60 s 640x480 H.264/AAC -> wmp_V80_384Video, median of $RUNS"
printf '  %-10s %8s s %10s kB\n' tarnwick "$tw_t" "$tw_m" ffmpeg "$ff_t" "$ff_m"
awk -v a="$tw_t" -v b="$ff_t" -v c="$tw_m" -v d="$ff_m" \
  'BEGIN { printf "  ratio      %8.2f   %10.2f      (goal: time <= 0.85, memory <= 1.00)\n", a / b, c / d }'

if [ "${BENCH_LONG:-1}" = 1 ]; then
  make_clip 600 "$WORK/clip600.mp4"
  read -r t m < <(measure "$REC" --quiet --profile wmp_V80_384Video "$WORK/clip600.mp4" "$WORK/tarnwick600.asf")
  echo
  echo "10-minute source: $t s, peak $m kB (60-second source: $tw_m kB; ratio $(awk -v a="$m" -v b="$tw_m" 'BEGIN{printf "%.2f", a/b}'))"
fi
