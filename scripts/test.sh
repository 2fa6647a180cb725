#!/usr/bin/env bash
# Builds both presets and runs the whole test suite: the Linux tests natively, the Windows
# test programs under Wine in a fresh 32-bit prefix, all inside one Xvfb session.
#
#   scripts/test.sh [linux|windows] [-- extra ctest arguments]
#
# With no target both suites run. Exit status is non-zero if a build fails, a suite has a
# failing test, or a suite has no tests at all.
#
# Environment: TW_JOBS (build jobs, default 2), TW_CTEST_JOBS (parallel tests, default 1),
# TW_TEST_TIMEOUT (seconds per test, default 300), TW_KEEP_TEST_DIR=1 keeps the temporary
# directory (Wine prefix, logs) for inspection.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib/session.sh
. "$root/scripts/lib/session.sh"
cd "$root"

targets=()
ctest_extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    linux|windows) targets+=("$1") ;;
    --) shift; ctest_extra=("$@"); break ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done
[ ${#targets[@]} -eq 0 ] && targets=(linux windows)

jobs=${TW_JOBS:-2}
ctest_jobs=${TW_CTEST_JOBS:-1}
timeout=${TW_TEST_TIMEOUT:-300}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-test.XXXXXX")

# Both package groups. What the test group could not get is listed in the report; of it only
# Wine's 32-bit part may keep a suite from running, and then it says so (below).
"$root/scripts/setup.sh" --group test --report "$work/setup-report" || { rm -rf "$work"; exit 1; }
wine_missing=
for p in wine32:i386 gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386; do
  if [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | cut -c1-2)" != "ii" ]; then
    why=$(awk -F'\t' -v p="$p" '$1 == p { print $2; exit }' "$work/setup-report")
    wine_missing="$p could not be installed (${why:-not installed})"
    break
  fi
done
xvfb_pid=
wine_started=0

# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  local rc=$?
  if [ "$wine_started" -eq 1 ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  stop_xvfb
  if [ "${TW_KEEP_TEST_DIR:-0}" = 1 ]; then
    echo "test.sh: kept $work"
  else
    rm -rf "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Everything that may start Wine — configuring and building included — must see this prefix,
# or Wine would create ~/.wine.
export WINEPREFIX="$work/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# Wine wants a home directory; bare CI containers may not set one.
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ]; then
  export HOME="$work/home"
  mkdir -p "$HOME"
fi

# One X server for the whole run; Wine must be started after it (a wineserver started with no
# DISPLAY breaks window creation for every later program).
start_xvfb "$work" || exit 1

want() { local t; for t in "${targets[@]}"; do [ "$t" = "$1" ] && return 0; done; return 1; }

# The prefix is created while the Linux tree builds.
boot_pid=
if want windows && [ -z "$wine_missing" ]; then
  wine_started=1
  ( wineboot -i && wineserver -w ) </dev/null >"$work/wineboot.log" 2>&1 &
  boot_pid=$!
fi

declare -A result
status=0

build() {  # build PRESET -> 0 if configured and built
  local preset=$1
  echo "==== configure and build: $preset"
  if cmake --preset "$preset" -DTW_BUILD_TESTS=ON </dev/null && cmake --build --preset "$preset" -j"$jobs" </dev/null; then
    return 0
  fi
  return 1
}

run_suite() {  # run_suite PRESET LABEL
  local preset=$1 label=$2 log="$work/ctest-$1.log" rc=0
  echo "==== tests: $label"
  # Output goes to a file, not a pipe, so that no helper process that inherits it can keep
  # the run waiting for end of file.
  : >"$log"
  ctest --test-dir "$root/build/$preset" --output-on-failure --timeout "$timeout" \
    -j"$ctest_jobs" "${ctest_extra[@]}" </dev/null >>"$log" 2>&1 &
  local ctest_pid=$!
  tail -n +1 -f --pid="$ctest_pid" "$log" || true
  wait "$ctest_pid" || rc=$?
  local line total failed
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    result[$preset]="$((total - failed)) passed, $failed failed"
    if [ "$failed" -ne 0 ] || [ "$rc" -ne 0 ]; then status=1; fi
  elif grep -q 'No tests were found' "$log"; then
    result[$preset]="no tests found"
    status=1
  else
    result[$preset]="ctest failed (exit $rc)"
    status=1
  fi
}

start_wine_session() {
  if ! wait "$boot_pid"; then
    echo "test.sh: creating the Wine prefix failed:" >&2
    cat "$work/wineboot.log" >&2
    return 1
  fi
  wine_start_session
}

if want linux; then
  if build linux; then run_suite linux linux; else result[linux]="build failed"; status=1; fi
fi
if want windows; then
  if build windows-i686; then
    if [ -n "$wine_missing" ]; then
      result[windows-i686]="not run: $wine_missing"
      echo
      echo "!!!! windows (Wine): not run: $wine_missing"
      echo
    elif start_wine_session; then
      run_suite windows-i686 "windows (Wine)"
    else
      result[windows-i686]="Wine prefix could not be created"
      status=1
    fi
  else
    result[windows-i686]="build failed"
    status=1
  fi
fi

echo
echo "==== summary"
want linux && echo "linux: ${result[linux]}"
want windows && echo "windows (Wine): ${result[windows-i686]}"
if [ "$status" -ne 0 ]; then
  echo "FAILED"
elif want windows && [ -n "$wine_missing" ]; then
  echo "the Linux suite passed; the Windows suite did NOT run (Wine's 32-bit part is missing)"
else
  echo "all suites passed"
fi
exit "$status"
