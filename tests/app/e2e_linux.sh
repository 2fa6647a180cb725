#!/usr/bin/env bash
# The program as a person uses it, on the X display of the test run: choose a source in the
# input box, an output path, a profile; record; stop; read the file back. Then record again
# and close the window while recording: that file must be complete too.
#
#   e2e_linux.sh TARNWICK XCLOSE
set -euo pipefail
tarnwick=$1
xclose=$2
[ -n "${DISPLAY:-}" ] || { echo "e2e: no X display (DISPLAY is not set)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

clip="$work/clip one.mp4"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 \
  -f lavfi -i sine=frequency=660:sample_rate=44100 -t 4 -c:v libx264 -preset ultrafast \
  -pix_fmt yuv420p -c:a aac -ac 2 "$clip"

caption='录制声音和图像!'
start() {
  TMPDIR="$work" "$tarnwick" >"$work/out.log" 2>&1 &
  pid=$!
  win=$(timeout 20 xdotool search --sync --all --pid "$pid" --name "^$caption\$" | head -1)
  [ -n "$win" ] || { echo "e2e: the window did not appear" >&2; cat "$work/out.log" >&2; exit 1; }
}
# Clicks at a point of the window's client area (no window manager: the window is its client).
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
wait_window() {  # wait_window TITLE -> its id
  timeout 10 xdotool search --sync --all --pid "$pid" --name "^$1\$" | head -1
}
probe() {  # probe FILE FIELD -> value
  ffprobe -v error -show_entries "$2" -of default=nw=1:nk=1 "$1" | head -1
}
settle() {  # waits until FILE has stopped growing (the source is short and renders quickly)
  local last=-1 size
  for _ in $(seq 1 100); do
    size=$(stat -c %s "$1" 2>/dev/null || echo 0)
    [ "$size" -gt 0 ] && [ "$size" = "$last" ] && return 0
    last=$size
    sleep 0.2
  done
}

# ---- First recording: source typed into the input box, output typed into Memo2, profile
# wmp_V80_256Video chosen with the keyboard (one above the initial wmp_V80_384Video).
start
click 388 22                      # Button1 "Get"
box=$(wait_window '请输入路径:')
[ -n "$box" ] || { echo "e2e: the input box did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$box"
xdotool type --delay 5 "$clip"    # replaces the selected "http://"
xdotool key Return
out1="$work/first.asf"
click 200 94                      # Memo2
xdotool key ctrl+a
xdotool type --delay 5 "$out1"
click 150 58                      # PFBox
sleep 0.3
xdotool key Up Return
sleep 0.3
click 275 126                     # Button3 "录制"
settle "$out1"
click 339 126                     # Button4 "停止"
sleep 0.5
[ -s "$out1" ] || { echo "e2e: no file at $out1" >&2; cat "$work/out.log" >&2; exit 1; }
vcodec=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$out1")
width=$(ffprobe -v error -select_streams v:0 -show_entries stream=width -of default=nw=1:nk=1 "$out1")
duration=$(probe "$out1" format=duration)
echo "first: $vcodec ${width}px ${duration}s $(stat -c %s "$out1") bytes"
[ "$vcodec" = wmv2 ] || { echo "e2e: video codec $vcodec, expected wmv2" >&2; exit 1; }
[ "$width" = 320 ] || { echo "e2e: width $width, expected 320 (wmp_V80_256Video)" >&2; exit 1; }
awk -v d="$duration" 'BEGIN { exit !(d > 3.5 && d < 4.5) }' || { echo "e2e: duration $duration" >&2; exit 1; }
ffmpeg -v error -i "$out1" -f null - || { echo "e2e: the first file does not decode" >&2; exit 1; }

# ---- Second recording into the initial output path, closed while recording.
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=
start
click 388 22
box=$(wait_window '请输入路径:')
xdotool windowfocus --sync "$box"
xdotool type --delay 5 "$clip"
xdotool key Return
click 275 126
out2="$work/temp.asf"             # Memo2's initial text on Linux
settle "$out2"
"$xclose" "$win"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "e2e: the program did not end after closing" >&2; exit 1; fi
rc=0; wait "$pid" || rc=$?; pid=
[ "$rc" -eq 0 ] || { echo "e2e: exit code $rc after closing" >&2; cat "$work/out.log" >&2; exit 1; }
acodec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$out2")
duration=$(probe "$out2" format=duration)
echo "second: audio $acodec ${duration}s $(stat -c %s "$out2") bytes"
[ "$acodec" = wmav2 ] || { echo "e2e: audio codec $acodec, expected wmav2" >&2; exit 1; }
awk -v d="$duration" 'BEGIN { exit !(d > 3.5 && d < 4.5) }' || { echo "e2e: duration $duration" >&2; exit 1; }
ffmpeg -v error -i "$out2" -f null - || { echo "e2e: the second file does not decode" >&2; exit 1; }
echo "e2e: both recordings complete"
