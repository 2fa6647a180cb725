#!/usr/bin/env bash
# Side-by-side benchmark: tarnwick-record against the FFmpeg command line and VLC on the same
# transcodes, run in turn (tarnwick, ffmpeg, vlc, tarnwick, ...), so that a busy machine weighs
# on all of them alike.
#
#   bench/bench.sh [RUNS]      (default 5 runs of each; BENCH_QUICK=1: 1 run, short clips)
#   BENCH_JOBS="a b c"         which jobs to run ("a b c d e" adds the PAL and audio-only jobs)
#   BENCH_LONG=0               skip the 10-minute memory check
#
# Jobs (sources generated once with the ffmpeg CLI, kept in BENCH_DIR):
#   a  60 s 640x480 30 fps H.264/AAC      -> wmp_V80_384Video        (320x240 WMV8 352 kbps)
#   b  the same source                    -> wmp_V80_100768VideoMBR  (four 320x240 WMV8 variants,
#                                            68/224/352/736 kbps; FFmpeg: one decode, one scale,
#                                            split into the four encoders)
#   c  30 s 1920x1080 30 fps H.264/AAC    -> wmp_V80_1400NTSCVideo   (640x480 WMV8 1272 kbps,
#                                            WMA 128 kbps)
#   d  the same source                    -> wmp_V80_700PALVideo     (768x576 at 25 fps WMV8
#                                            636 kbps, WMA 64 kbps: a change of frame rate, and
#                                            a picture that shrinks by no whole factor)
#   e  the 10-minute 640x480 source       -> wmp_V80_128StereoAudio  (audio only, WMA 128 kbps:
#                                            what the sound path costs on its own; no VLC)
# Every video key frame at most 8 s apart, WMA at 44.1 kHz stereo, ASF; pictures scaled with
# their aspect kept (bars where it differs), as tarnwick-record does.
#
# Printed per job and tool: median wall time, CPU time (user + system) and peak memory (RSS),
# their ratios against the FFmpeg command line, the video's SSIM and the bit rate it achieved.
# SSIM: the output's video (for MBR the highest-rate variant) and the source scaled the same
# way (an output of another size, as VLC rounds some, is scaled to the profile's) are both
# brought to the profile's frame rate (29.97, or 25 for d) with FFmpeg's fps filter, which takes for
# each output instant the frame shown at that time; the two sequences are then compared frame
# by frame with the ssim filter, over the length of the shorter. Bit rate: the video stream's
# payload bytes (ffprobe's packet sizes) over its duration.
#
# VLC (cvlc) refuses to run as root; the script runs it as the user `nobody` when it is root.
# VLC's ASF muxer writes one stream of each kind, so it has no MBR job.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}
QUICK=${BENCH_QUICK:-0}
[ "$QUICK" = 1 ] && RUNS=1
JOBS=${BENCH_JOBS:-a b c}
BUILD=${BUILD:-build/linux}
REC=$BUILD/tools/tarnwick-record
WORK=${BENCH_DIR:-/tmp/tarnwick-bench}
mkdir -p "$WORK"
chmod 0777 "$WORK"  # VLC writes here as an unprivileged user

if [ ! -x "$REC" ]; then
  # The preset configures build/linux only: another BUILD must already hold the tool.
  [ "$BUILD" = build/linux ] || { echo "bench: no $REC (build it there first)" >&2; exit 2; }
  cmake --preset linux -DTW_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target tarnwick-record >/dev/null
fi

vlc_cmd=()
if command -v cvlc >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    vlc_cmd=(runuser -u nobody -- cvlc)
  else
    vlc_cmd=(cvlc)
  fi
else
  echo "bench: cvlc not found (scripts/setup.sh --group test installs it); VLC is left out" >&2
fi

short=60 long=30
[ "$QUICK" = 1 ] && short=10 long=5
make_clip() {  # SECONDS SIZE FILE
  [ -s "$3" ] && return 0
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$2:rate=30" -f lavfi -i "sine=frequency=523:sample_rate=48000" \
    -t "$1" -c:v libx264 -preset medium -b:v 1500k -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -ac 2 "$3"
  chmod 0644 "$3"
}
src_a="$WORK/clip${short}-640x480.mp4"
src_c="$WORK/clip${long}-1920x1080.mp4"

# Prints "wall cpu peak_kB" of one run of the command.
measure() {
  /usr/bin/time -o "$WORK/time.txt" -f "%e %U %S %M" "$@" >/dev/null 2>"$WORK/stderr.txt" || {
    echo "failed: $*" >&2; tail -5 "$WORK/stderr.txt" >&2; return 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$WORK/time.txt"
}
median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

fit() {  # the filter that fits a picture into W:H with its aspect kept
  echo "scale=$1:$2:force_original_aspect_ratio=decrease:flags=bicubic,pad=$1:$2:(ow-iw)/2:(oh-ih)/2"
}

# The peers' commands for a job: set_ffmpeg_cmd JOB SRC OUT (into ffmpeg_cmd), vlc_sout JOB OUT
set_ffmpeg_cmd() {
  local audio=(-c:a wmav2 -ar 44100 -ac 2)
  ffmpeg_cmd=(ffmpeg -nostdin -hide_banner -loglevel error -y -i "$2")
  case $1 in
    a) ffmpeg_cmd+=(-vf "$(fit 320 240)" -r 30000/1001 -c:v wmv2 -b:v 352k -g 240 "${audio[@]}" -b:a 32k) ;;
    b) ffmpeg_cmd+=(-filter_complex "[0:v]$(fit 320 240),fps=30000/1001,split=4[v1][v2][v3][v4]"
                    -map "[v1]" -map "[v2]" -map "[v3]" -map "[v4]" -map 0:a -c:v wmv2 -g 240
                    -b:v:0 68k -b:v:1 224k -b:v:2 352k -b:v:3 736k "${audio[@]}" -b:a 32k) ;;
    c) ffmpeg_cmd+=(-vf "$(fit 640 480)" -r 30000/1001 -c:v wmv2 -b:v 1272k -g 240 "${audio[@]}" -b:a 128k) ;;
    d) ffmpeg_cmd+=(-vf "$(fit 768 576)" -r 25 -c:v wmv2 -b:v 636k -g 200 "${audio[@]}" -b:a 64k) ;;
    e) ffmpeg_cmd+=(-vn "${audio[@]}" -b:a 128k) ;;
  esac
  ffmpeg_cmd+=(-f asf "$3")
}
vlc_sout() {
  case $1 in
    a) echo "#transcode{vcodec=WMV2,vb=352,width=320,height=240,fps=29.97,acodec=wma2,ab=32,channels=2,samplerate=44100}:std{access=file,mux=asf,dst=$2}" ;;
    c) echo "#transcode{vcodec=WMV2,vb=1272,width=640,height=480,fps=29.97,acodec=wma2,ab=128,channels=2,samplerate=44100}:std{access=file,mux=asf,dst=$2}" ;;
    d) echo "#transcode{vcodec=WMV2,vb=636,width=768,height=576,fps=25,acodec=wma2,ab=64,channels=2,samplerate=44100}:std{access=file,mux=asf,dst=$2}" ;;
  esac
}
profile_of() {
  case $1 in a) echo wmp_V80_384Video ;; b) echo wmp_V80_100768VideoMBR ;; c) echo wmp_V80_1400NTSCVideo ;;
    d) echo wmp_V80_700PALVideo ;; e) echo wmp_V80_128StereoAudio ;; esac
}
size_of() { case $1 in a|b) echo "320 240" ;; c) echo "640 480" ;; d) echo "768 576" ;; esac; }
rate_of() { case $1 in d) echo 25 ;; *) echo 30000/1001 ;; esac; }

# quality OUT SRC W H RATE -> "ssim kbps" of the output's highest-rate video stream; with no
# video, "- kbps" of its sound
quality() {
  local out=$1 src=$2 w=$3 h=$4 fps=$5 best=0 best_rate=0 n i bytes dur
  if [ -z "$w" ]; then
    bytes=$(ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 "$out" | awk '{s += $1} END {print s + 0}')
    dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
    awk -v b="$bytes" -v d="$dur" 'BEGIN { printf "- %.0f\n", (d > 0 ? b * 8 / d / 1000 : 0) }'
    return
  fi
  n=$(ffprobe -v error -select_streams v -show_entries stream=index -of csv=p=0 "$out" | wc -l)
  for ((i = 0; i < n; i++)); do
    bytes=$(ffprobe -v error -select_streams "v:$i" -show_entries packet=size -of csv=p=0 "$out" | awk '{s += $1} END {print s + 0}')
    if [ "$bytes" -gt "$best_rate" ]; then best_rate=$bytes; best=$i; fi
  done
  dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
  local ssim
  ssim=$(ffmpeg -nostdin -hide_banner -i "$out" -i "$src" -lavfi \
    "[0:v:$best]scale=$w:$h:flags=bicubic,fps=$fps,setpts=PTS-STARTPTS[o];[1:v]$(fit "$w" "$h"),fps=$fps,setpts=PTS-STARTPTS[r];[o][r]ssim=shortest=1" \
    -f null - 2>&1 | sed -n 's/.*SSIM .* All:\([0-9.]*\).*/\1/p' | tail -1)
  awk -v s="${ssim:-0}" -v b="$best_rate" -v d="$dur" 'BEGIN { printf "%.4f %.0f\n", s, (d > 0 ? b * 8 / d / 1000 : 0) }'
}

run_job() {  # run_job JOB SRC
  local job=$1 src=$2 profile tools=(tarnwick ffmpeg) i tool line
  profile=$(profile_of "$job")
  [ ${#vlc_cmd[@]} -gt 0 ] && [ "$job" != b ] && [ "$job" != e ] && tools+=(vlc)
  declare -A wall cpu mem
  for ((i = 1; i <= RUNS; i++)); do
    for tool in "${tools[@]}"; do
      local out="$WORK/$job-$tool.asf"
      rm -f "$out"
      case $tool in
        tarnwick) line=$(measure "$REC" --quiet --profile "$profile" "$src" "$out") ;;
        ffmpeg) set_ffmpeg_cmd "$job" "$src" "$out"; line=$(measure "${ffmpeg_cmd[@]}") ;;
        vlc) line=$(measure "${vlc_cmd[@]}" -q -I dummy "$src" --sout "$(vlc_sout "$job" "$out")" vlc://quit) ;;
      esac || { echo "  $tool failed on job $job" >&2; continue; }
      read -r w c m <<<"$line"
      wall[$tool]+="$w "; cpu[$tool]+="$c "; mem[$tool]+="$m "
    done
  done
  read -r vw vh <<<"$(size_of "$job")"
  echo
  echo "job $job: $(basename "$src") -> $profile, median of $RUNS"
  printf '  %-9s %8s %8s %10s %7s %7s %7s %7s %8s\n' tool "wall s" "cpu s" "peak kB" "wall x" "cpu x" "mem x" SSIM kbps
  local fw fc fm
  fw=$(tr ' ' '\n' <<<"${wall[ffmpeg]:-}" | grep . | median || true)
  fc=$(tr ' ' '\n' <<<"${cpu[ffmpeg]:-}" | grep . | median || true)
  fm=$(tr ' ' '\n' <<<"${mem[ffmpeg]:-}" | grep . | median || true)
  for tool in "${tools[@]}"; do
    [ -n "${wall[$tool]:-}" ] || { printf '  %-9s failed\n' "$tool"; continue; }
    local tw tc tm q
    tw=$(tr ' ' '\n' <<<"${wall[$tool]}" | grep . | median)
    tc=$(tr ' ' '\n' <<<"${cpu[$tool]}" | grep . | median)
    tm=$(tr ' ' '\n' <<<"${mem[$tool]}" | grep . | median)
    q=$(quality "$WORK/$job-$tool.asf" "$src" "$vw" "$vh" "$(rate_of "$job")")
    awk -v t="$tool" -v w="$tw" -v c="$tc" -v m="$tm" -v fw="${fw:-0}" -v fc="${fc:-0}" -v fm="${fm:-0}" -v q="$q" \
      'function r(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
       BEGIN { split(q, s, " "); printf "  %-9s %8.2f %8.2f %10d %7s %7s %7s %7s %8s\n", t, w, c, m, r(w, fw), r(c, fc), r(m, fm), s[1], s[2] }'
  done
}

for job in $JOBS; do
  case $job in
    a|b) make_clip "$short" 640x480 "$src_a"; run_job "$job" "$src_a" ;;
    c|d) make_clip "$long" 1920x1080 "$src_c"; run_job "$job" "$src_c" ;;
    e) make_clip 600 640x480 "$WORK/clip600-640x480.mp4"; run_job e "$WORK/clip600-640x480.mp4" ;;
    *) echo "bench: unknown job '$job'" >&2; exit 2 ;;
  esac
done
echo
echo "goals against ffmpeg: wall <= 0.70 (a, c, d, e), <= 0.55 (b); cpu <= 1.00; memory <= 0.80;"
echo "SSIM no lower than ffmpeg's - 0.005 at a bit rate no higher than the profile's"

if [ "${BENCH_LONG:-1}" = 1 ] && [ "$QUICK" != 1 ]; then
  make_clip 600 640x480 "$WORK/clip600-640x480.mp4"
  read -r _ _ m600 < <(measure "$REC" --quiet --profile wmp_V80_384Video "$WORK/clip600-640x480.mp4" "$WORK/tarnwick600.asf")
  read -r _ _ m60 < <(measure "$REC" --quiet --profile wmp_V80_384Video "$src_a" "$WORK/tarnwick60.asf")
  echo
  echo "memory with the source's length: 10-minute source $m600 kB, 60-second source $m60 kB" \
    "(ratio $(awk -v a="$m600" -v b="$m60" 'BEGIN{printf "%.2f", a/b}'))"
fi
