#!/usr/bin/env bash
# The checks beyond the test suite, each in a build tree of its own:
#
#   asan   every Linux test under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
#   tsan   the graph, media, writer and network tests under ThreadSanitizer
#   fuzz   the libFuzzer harnesses (clang) for the network sink's request reader and for
#          opening and reading a source, each for a bounded time from a generated seed corpus
#
#   scripts/check.sh [asan|tsan|fuzz]...
#
# With no argument all three run. Each stage prints its time; the exit status is non-zero if
# a build fails, a test fails, a sanitizer reports, or a fuzzer finds a crash, a leak or a hang
# (the input is kept and its path printed: make it a test, then fix the fault).
#
# Suppressions (tests/sanitizers/) cover reports inside FFmpeg, Qt and the system libraries,
# which are not built with the sanitizers; never our own code.
#
# Environment: TW_JOBS (build jobs, default 2), TW_TEST_TIMEOUT (seconds per test, default
# 600), TW_FUZZ_SECONDS (per harness, default 60), TW_KEEP_TEST_DIR=1 keeps the temporary
# directory (logs, corpora, crash inputs).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/session.sh
. "$root/scripts/lib/session.sh"

stages=()
while [ $# -gt 0 ]; do
  case "$1" in
    asan|tsan|fuzz) stages+=("$1") ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "check.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done
[ ${#stages[@]} -eq 0 ] && stages=(asan tsan fuzz)

jobs=${TW_JOBS:-2}
timeout=${TW_TEST_TIMEOUT:-600}
fuzz_seconds=${TW_FUZZ_SECONDS:-60}
supp="$root/tests/sanitizers"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-check.XXXXXX")
"$root/scripts/setup.sh" --group test || { rm -rf "$work"; exit 1; }

xvfb_pid=
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  local rc=$?
  stop_xvfb
  if [ "${TW_KEEP_TEST_DIR:-0}" = 1 ]; then
    echo "check.sh: kept $work"
  else
    rm -rf "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ]; then
  export HOME="$work/home"
  mkdir -p "$HOME"
fi

# The window tests need a display: one X server for the whole run, as in test.sh.
start_xvfb "$work" || exit 1

# Every report ends the program with a failure, with its stack; the suppression files are
# given even where a sanitizer is not built in (the options are then ignored).
symbolizer=$(command -v llvm-symbolizer || true)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1${symbolizer:+:external_symbolizer_path=$symbolizer}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"

declare -A result
declare -A took
status=0

build() {  # build PRESET [TARGET...] -> 0 if configured and built
  local preset=$1
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  echo "==== configure and build: $preset"
  cmake --preset "$preset" </dev/null >"$work/configure-$preset.log" 2>&1 ||
    { cat "$work/configure-$preset.log"; return 1; }
  cmake --build --preset "$preset" -j"$jobs" "${targets[@]}" </dev/null
}

run_tests() {  # run_tests NAME DIR [ctest selection...] -> 0 if every selected test passed
  local name=$1 dir=$2 log="$work/ctest-$1.log" rc=0
  shift 2
  echo "==== tests: $name"
  : >"$log"
  ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" "$@" </dev/null >>"$log" 2>&1 &
  local ctest_pid=$!
  tail -n +1 -f --pid="$ctest_pid" "$log" || true
  wait "$ctest_pid" || rc=$?
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - failed))
  fi
  if [ -n "$line" ] && [ "$rc" -eq 0 ]; then
    return 0
  fi
  failures+=("$name: ${line:-ctest failed (exit $rc)}")
  return 1
}

stage_asan() {
  passed=0 failures=()
  if ! build linux-asan; then
    result[asan]="FAILED: build"
    status=1
    return
  fi
  run_tests linux-asan "$root/build/linux-asan" -L linux || true
  summarise asan
}

summarise() {  # summarise STAGE: the stage's line from passed and failures
  if [ ${#failures[@]} -eq 0 ]; then
    result[$1]="$passed tests passed"
  else
    result[$1]="FAILED: $passed passed; $(IFS=';'; echo "${failures[*]}")"
    status=1
  fi
}

# The tests whose code runs on several threads: our graph manager and filters, the media
# filters, the ASF writer and the network sink, and the components over them; each folder's
# programs are built and its tests run.
tsan_dirs=(posix_graph posix_media posix_asf posix_net dsgraph)
stage_tsan() {
  passed=0 failures=()
  echo "==== configure: linux-tsan"
  if ! cmake --preset linux-tsan </dev/null >"$work/configure-linux-tsan.log" 2>&1; then
    cat "$work/configure-linux-tsan.log"
    result[tsan]="FAILED: configure"
    status=1
    return
  fi
  local d
  for d in "${tsan_dirs[@]}"; do
    echo "==== build: linux-tsan tests/$d"
    if ! cmake --build "$root/build/linux-tsan/tests/$d" -j"$jobs" </dev/null; then
      failures+=("$d: build failed")
      continue
    fi
    # The track bar's tests run Qt's event loop: Qt and GLib are not built with the sanitizer,
    # and their own threads give reports it cannot judge. The cycles are fewer: each is many
    # times slower here, and 40 random stops still cross every state.
    TW_CYCLES=40 run_tests "tsan-$d" "$root/build/linux-tsan/tests/$d" -E '^DSTrackBarTest[.]' || true
  done
  summarise tsan
}

# Seeds: HTTP requests as players send them, and short clips in the containers and codecs a
# recording meets.
make_corpora() {
  local http="$work/corpus-http" media="$work/corpus-source" i=0 r
  mkdir -p "$http" "$media"
  local requests=(
    $'GET / HTTP/1.0\r\nAccept: */*\r\nUser-Agent: NSPlayer/4.1.0.3856\r\nHost: 127.0.0.1:8080\r\nPragma: no-cache,rate=1.000000,stream-time=0,stream-offset=0:0,request-context=1,max-duration=0\r\nPragma: xClientGUID={c77e7400-738a-11d2-9add-0020af0a3278}\r\nConnection: Close\r\n\r\n'
    $'GET / HTTP/1.0\r\nUser-Agent: NSPlayer/7.10.0.3059\r\nPragma: xPlayStrm=1\r\nPragma: xClientGUID={3300AD50-2C39-46c0-AE0A-000000000000}\r\nPragma: stream-switch-count=2\r\nPragma: stream-switch-entry=ffff:1:0 ffff:2:0\r\n\r\n'
    $'GET http://example.org:8080/?x=1 HTTP/1.1\nHost: example.org\n\n'
    $'POST /other HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET / HTTP/1.0\r\n\r\n'
    $'GET / HTTP/1.0\r\nUser-Agent: VLC/3.0.18 LibVLC/3.0.18\r\nIcy-MetaData: 1\r\n\r\n'
  )
  for r in "${requests[@]}"; do
    # The first byte sets the size of the pieces the request arrives in.
    printf '%b%s' "\\x$(printf '%02x' $((i * 7 + 3)))" "$r" >"$http/request$i"
    i=$((i + 1))
  done
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
  local v=(-f lavfi -i testsrc2=size=64x48:rate=10) a=(-f lavfi -i sine=sample_rate=8000)
  "${ff[@]}" "${v[@]}" "${a[@]}" -t 0.6 -c:v mpeg4 -c:a pcm_s16le "$media/mpeg4-pcm.avi" &&
    "${ff[@]}" "${v[@]}" "${a[@]}" -t 0.6 -c:v libx264 -preset ultrafast -c:a aac -b:a 16k "$media/h264-aac.mp4" &&
    "${ff[@]}" "${v[@]}" "${a[@]}" -t 0.6 -c:v libvpx -c:a libvorbis "$media/vp8-vorbis.webm" &&
    "${ff[@]}" "${v[@]}" "${a[@]}" -t 0.6 -c:v wmv2 -c:a wmav2 "$media/wmv2-wmav2.asf" &&
    "${ff[@]}" "${v[@]}" -t 0.6 -c:v mjpeg "$media/mjpeg.mov" &&
    "${ff[@]}" "${a[@]}" -t 0.6 -c:a libmp3lame -b:a 16k "$media/audio.mp3" &&
    "${ff[@]}" "${a[@]}" -t 0.3 "$media/audio.wav" &&
    "${ff[@]}" "${v[@]}" "${a[@]}" -t 0.6 -c:v mpeg2video -c:a mp2 -f mpegts "$media/mpeg2-mp2.ts"
}

# run_fuzzer NAME CORPUS: runs the harness for the bounded time; a finding fails the stage.
run_fuzzer() {
  local name=$1 corpus=$2 exe="$root/build/linux-fuzz/tests/fuzz/tw_fuzz_$1"
  local found="$work/fuzz-$name" rc=0
  mkdir -p "$found"
  echo "==== fuzz: $name for ${fuzz_seconds}s"
  # One process, so that a finding is never left behind by a parallel worker; a hang of 30 s
  # on one input is a finding too. The log is kept to its summary lines.
  "$exe" -max_total_time="$fuzz_seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$found/" "$corpus" </dev/null >"$work/fuzz-$name.log" 2>&1 || rc=$?
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units)' "$work/fuzz-$name.log" || true
  if [ "$rc" -ne 0 ] || [ -n "$(find "$found" -type f)" ]; then
    tail -n 60 "$work/fuzz-$name.log"
    local kept="$root/build/linux-fuzz/findings"
    mkdir -p "$kept"
    cp "$found"/* "$kept"/ 2>/dev/null || true
    result[fuzz-$name]="FAILED: exit $rc; inputs kept in $kept: $(find "$found" -type f -printf '%f ')"
    status=1
  else
    result[fuzz-$name]="$(grep -Eo 'Done [0-9]+ runs' "$work/fuzz-$name.log" | tail -1), nothing found"
  fi
}

stage_fuzz() {
  if ! build linux-fuzz tw_fuzz_http tw_fuzz_source; then
    result[fuzz]="FAILED: build"
    status=1
    return
  fi
  if ! make_corpora; then
    result[fuzz]="FAILED: the seed corpus could not be made"
    status=1
    return
  fi
  run_fuzzer http "$work/corpus-http"
  run_fuzzer source "$work/corpus-source"
}

for s in "${stages[@]}"; do
  start=$SECONDS
  case "$s" in
    asan) stage_asan ;;
    tsan) stage_tsan ;;
    fuzz) stage_fuzz ;;
  esac
  took[$s]=$((SECONDS - start))
  echo "==== $s took $((took[$s] / 60))m$((took[$s] % 60))s"
done

echo
echo "==== summary"
for s in "${stages[@]}"; do
  case "$s" in
    asan) echo "asan+ubsan ($((took[$s] / 60))m$((took[$s] % 60))s): ${result[asan]}" ;;
    tsan) echo "tsan ($((took[$s] / 60))m$((took[$s] % 60))s): ${result[tsan]}" ;;
    fuzz) echo "fuzz ($((took[$s] / 60))m$((took[$s] % 60))s): ${result[fuzz]:-}"
          echo "  http: ${result[fuzz-http]:-not run}"
          echo "  source: ${result[fuzz-source]:-not run}" ;;
  esac
done
if [ "$status" -ne 0 ]; then echo "FAILED"; else echo "all checks passed"; fi
exit "$status"
