#!/usr/bin/env bash
# Tarnwick.exe under Wine as a person uses it: a missing source brings the standard error
# report and leaves the window recording; stop returns it to idle; a clip Wine's DirectShow
# can play records (to Wine's own renderers: Wine has no WM ASF Writer); closing ends the
# program with exit code 0.
#
#   e2e_wine.sh TARNWICK.EXE WINTOOL.EXE      (inside the test run's Wine session and X display)
set -Eeuo pipefail
# A step that fails without a word of its own still says where the script stopped.
trap 'echo "e2e: stopped at line $LINENO: $BASH_COMMAND (exit $?)" >&2' ERR
exe=$1
tool=$2
[ -n "${DISPLAY:-}" ] || { echo "e2e: no X display (DISPLAY is not set)" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || { echo "e2e: no Wine prefix (WINEPREFIX is not set)" >&2; exit 1; }
# Wine reads the command line in the Unix locale's character set: UTF-8 for the captions.
export LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e-wine.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

main='录制声音和图像!'
title='Tarnwick0.02bu'
w() { wine "$tool" "$@" </dev/null; }
state() {  # state -> "enabled flags of Button1..3 and the status label's text"
  w texts "$main" >"$work/texts" || return 1
  cat "$work/texts"
}

# A clip Wine's DirectShow plays here: sound only, to a null sound device. (Its video renderer
# faults inside Wine under Xvfb when it is handed YV12, which is what Wine's own splitter offers
# for video.)
ffmpeg -hide_banner -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100 -t 4 \
  -c:a pcm_s16le "$work/clip.wav"
printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$work/alsa-null.conf"
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/alsa-null.conf"

wine "$exe" </dev/null >"$work/out.log" 2>&1 &
pid=$!
w wait "$main" 30000 || { echo "e2e: the window did not appear" >&2; cat "$work/out.log" >&2; exit 1; }
# The caption is there as soon as the window is created, its controls a moment later: a click
# sent in between found no "Get" button.
for _ in $(seq 1 100); do state 2>/dev/null | grep -q '^Button|1|Get$' && break; sleep 0.1; done
state | grep -q '^Button|1|Get$' || { echo "e2e: the window's controls did not appear" >&2; cat "$work/texts" >&2; exit 1; }

choose_source() {  # choose_source WINDOWS-PATH: Button1, then the input box
  w click "$main" Get 0
  w wait '请输入路径:' 10000 || { echo "e2e: no input box" >&2; exit 1; }
  grep -q 'http://' <(w texts '请输入路径:') || { echo "e2e: the input box does not offer http://" >&2; exit 1; }
  w settext '请输入路径:' Edit 0 "$1"
  w click '请输入路径:' OK
}

# ---- A missing source: the standard error report, then Recording until stop.
choose_source 'Z:\nonexistent\tarnwick-missing.avi'
w click "$main" '录制'
w wait "$title" 20000 || { echo "e2e: no error report" >&2; exit 1; }
report=$(w texts "$title")
echo "error report: $(grep '^Static|1|.' <<<"$report" | tail -1)"
# shellcheck disable=SC2016  # a literal $ of the report, not an expansion
grep -qE '\(\$8007000[23]\)\.$' <<<"$report" || { echo "e2e: unexpected report: $report" >&2; exit 1; }
w click "$title" OK
sleep 0.5
state | grep -q '^Button|0|录制$' || { echo "e2e: not in Recording after the failure" >&2; cat "$work/texts" >&2; exit 1; }
state | grep -q '正在录制\.\.\.' || { echo "e2e: no status text" >&2; exit 1; }
w click "$main" '停止'
sleep 0.5
state | grep -q '^Button|1|录制$' || { echo "e2e: not Idle after stop" >&2; cat "$work/texts" >&2; exit 1; }

# ---- A clip Wine can play: no report, Recording, then stop.
choose_source "Z:${work//\//\\}\\clip.wav"
w click "$main" '录制'
sleep 2
if w wait "$title" 0 2>/dev/null; then
  echo "e2e: an error was reported for a playable clip: $(w texts "$title")" >&2
  exit 1
fi
state | grep -q '^Button|0|录制$' || { echo "e2e: not recording" >&2; exit 1; }
w click "$main" '停止'
sleep 0.5
state | grep -q '^Button|1|录制$' || { echo "e2e: not Idle after stop" >&2; exit 1; }

# ---- Closing ends the program with exit code 0.
w close "$main"
rc=0
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || { echo "e2e: exit code $rc" >&2; cat "$work/out.log" >&2; exit 1; }
echo "e2e (Wine): error report, stop, a playable clip, close: all as expected"
