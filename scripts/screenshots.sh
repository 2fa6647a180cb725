#!/usr/bin/env bash
# Pictures of the program's window on both targets, as a person sees it: idle, the input box,
# the standard error report (a source that does not exist) and a recording. Builds the
# programs first; the Windows one runs under Wine.
#
#   scripts/screenshots.sh [linux] [windows]     (default: both)
#
# Writes docs/screenshots/{linux,windows}-{idle,input,error,recording}.png.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib/session.sh
. "$root/scripts/lib/session.sh"
cd "$root"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux windows)
for t in "${targets[@]}"; do
  case $t in linux | windows) ;; *) echo "usage: $0 [linux] [windows]" >&2; exit 2 ;; esac
done

"$root/scripts/setup.sh" --group test
out=$root/docs/screenshots
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-shots.XXXXXX")
xvfb_pid=
pid=
wine_started=0
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ "$wine_started" -eq 1 ] && wineserver -k </dev/null >/dev/null 2>&1
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
start_xvfb "$work"

main='录制声音和图像!'
box='请输入路径:'
title='Tarnwick0.02bu'
# Sound and picture for the profile the window starts with; for Wine's DirectShow sound only,
# to a null sound device (its video renderer faults inside Wine under Xvfb).
clip="$work/clip.mp4"
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=44100 -t 30 -c:v libx264 -preset ultrafast \
  -pix_fmt yuv420p -c:a aac "$clip"
wav="$work/clip.wav"
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100 -t 30 \
  -c:a pcm_s16le "$wav"
printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$work/alsa-null.conf"

find_window() {  # find_window CAPTION -> X window id
  timeout 20 xdotool search --sync --name "^$1\$" | head -1
}
shoot() {  # shoot CAPTION FILE: waits for the window, lets it paint, saves it
  local id
  id=$(find_window "$1")
  [ -n "$id" ] || { echo "screenshots: no window \"$1\"" >&2; return 1; }
  sleep 0.7
  import -window "$id" "$2"
  echo "  $2 ($(stat -c %s "$2") bytes)"
}

linux() {
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j2 --target tarnwick >/dev/null
  mkdir -p "$work/linux"
  TMPDIR="$work/linux" build/linux/app/tarnwick >"$work/linux.log" 2>&1 &
  pid=$!
  local win
  win=$(find_window "$main")
  [ -n "$win" ] || { echo "screenshots: the window did not appear" >&2; cat "$work/linux.log" >&2; return 1; }
  # No window manager: the window is its client area, and clicks are in client coordinates.
  click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
  choose() {  # choose SOURCE [SHOT]: Button1, the input box, the source typed
    click 388 22
    [ -z "${2:-}" ] || shoot "$box" "$2"
    xdotool windowfocus --sync "$(find_window "$box")"
    xdotool type --delay 2 "$1"
    xdotool key Return
  }
  shoot "$main" "$out/linux-idle.png"
  choose "$work/no such clip.avi" "$out/linux-input.png"
  click 275 126
  shoot "$title" "$out/linux-error.png"
  xdotool windowfocus --sync "$(find_window "$title")" key Return
  click 339 126
  choose "$clip"
  click 275 126
  shoot "$main" "$out/linux-recording.png"
  click 339 126
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}

windows() {
  export WINEPREFIX="$work/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  cmake --preset windows-i686 >/dev/null
  cmake --build --preset windows-i686 -j2 --target tarnwick tw_wintool >/dev/null
  local exe tool
  exe=$(find build/windows-i686/app -name Tarnwick.exe | head -1)
  tool=$(find build/windows-i686/tests/app -name tw_wintool.exe | head -1)
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  wine_started=1
  wine_start_session
  w() { LC_ALL=C.UTF-8 wine "$tool" "$@" </dev/null; }
  choose() {  # choose WINDOWS-PATH [SHOT]
    w click "$main" Get 0
    w wait "$box" 10000
    [ -z "${2:-}" ] || shoot "$box" "$2"
    w settext "$box" Edit 0 "$1"
    w click "$box" OK
  }
  ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/alsa-null.conf" LC_ALL=C.UTF-8 wine "$exe" </dev/null >"$work/windows.log" 2>&1 &
  pid=$!
  w wait "$main" 30000 || { echo "screenshots: Tarnwick.exe did not start" >&2; cat "$work/windows.log" >&2; return 1; }
  shoot "$main" "$out/windows-idle.png"
  choose 'Z:\no such clip.avi' "$out/windows-input.png"
  w click "$main" '录制'
  shoot "$title" "$out/windows-error.png"
  w click "$title" OK
  w click "$main" '停止'
  choose "Z:${wav//\//\\}"
  w click "$main" '录制'
  shoot "$main" "$out/windows-recording.png"
  w click "$main" '停止'
  w close "$main" || true
  wait "$pid" 2>/dev/null || true
  pid=
}

for t in "${targets[@]}"; do
  echo "==== $t"
  "$t"
done
echo "Screenshots: $out"
