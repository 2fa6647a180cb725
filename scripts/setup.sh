#!/usr/bin/env bash
# Installs the Debian packages Tarnwick needs, in two groups:
#
#   run    building and running the Linux programs: compiler, CMake, FFmpeg's -dev libraries,
#          Qt, the CJK font and the zh_CN.UTF-8 locale
#   test   what the test suites add: GoogleTest, the MinGW-w64 cross compiler, Wine with its
#          32-bit part, Xvfb and the X tools, VLC, the script linter, the fuzzing compiler
#          with its sanitizer runtimes and symbolizer
#
#   scripts/setup.sh [--group run|test] [--check] [--report FILE]
#
# --group run (the default) installs the run group; --group test installs both.
# --check lists what is missing and installs nothing (exit 1 if anything is).
# --report FILE writes one line per package of the test group that could not be installed:
#   the package, a tab, apt's reason. The file is emptied first; test.sh reads it.
#
# Idempotent and silent when everything is there: apt runs only for what is missing. A package
# index that fails to download is a warning: the update is retried once, then the indexes that
# did load are used. A run-group package that still cannot be installed stops the script with
# its name and apt's reason; a test-group package that cannot be installed is reported and
# left out, so that everything else still installs. apt's own output is shown only when it
# fails. Uses sudo only when not run as root.
set -uo pipefail

group=run
check_only=0
report=
while [ $# -gt 0 ]; do
  case "$1" in
    --group) group=${2:-}; shift ;;
    --check) check_only=1 ;;
    --report) report=${2:-}; shift ;;
    *) echo "usage: $0 [--group run|test] [--check] [--report FILE]" >&2; exit 2 ;;
  esac
  shift
done
case "$group" in
  run|test) ;;
  *) echo "setup: unknown group '$group' (run or test)" >&2; exit 2 ;;
esac
[ -n "$report" ] && : >"$report"

run_packages=(
  cmake make g++ pkg-config git
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libcli11-dev
  qt6-base-dev qt6-qpa-plugins
  fonts-wqy-microhei locales
)
test_packages=(
  googletest libgtest-dev
  g++-mingw-w64-i686
  wine fonts-wine
  xvfb xauth x11-utils xdotool imagemagick libx11-dev
  vlc-bin vlc-plugin-base
  shellcheck clang libclang-rt-dev llvm python3
)
# Wine's 32-bit part. Without the GStreamer plugins every RenderFile under Wine fails, and they
# are only recommends of wine32. These need the i386 architecture and its indexes.
i386_packages=(
  wine32:i386
  gstreamer1.0-plugins-base:i386
  gstreamer1.0-plugins-good:i386
)

say() { echo "setup: $*"; }
warn() { echo "setup: warning: $*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "setup: need root (or sudo) to run: $*" >&2
    exit 1
  fi
}

apt_get() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o Dpkg::Use-Pty=0 "$@" </dev/null
}

installed() {
  # "ii" = wanted install, installed. Anything else (absent, half-configured) counts as missing.
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | cut -c1-2)" = "ii" ]
}

missing_of() {  # missing_of PACKAGE... -> prints the missing ones, one per line
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

wanted=("${run_packages[@]}")
need_i386=0
if [ "$group" = test ]; then
  wanted+=("${test_packages[@]}" "${i386_packages[@]}")
  dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
fi
mapfile -t missing < <(missing_of "${wanted[@]}")

locale_missing=0
locale -a 2>/dev/null | grep -qix 'zh_CN\.utf8' || locale_missing=1

if [ "$check_only" -eq 1 ]; then
  [ "$need_i386" -eq 1 ] && say "i386 architecture not enabled"
  [ "${#missing[@]}" -gt 0 ] && say "missing packages: ${missing[*]}"
  [ "$locale_missing" -eq 1 ] && say "locale zh_CN.UTF-8 not generated"
  [ "$need_i386" -eq 0 ] && [ "${#missing[@]}" -eq 0 ] && [ "$locale_missing" -eq 0 ]
  exit
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-setup.XXXXXX")
trap 'rm -rf "$work"' EXIT

# apt's reason for a failed install, in one line: its last error, and the first unmet
# dependency when it lists some.
reason_of() {  # reason_of LOGFILE
  local err dep
  err=$(grep -E '^E: ' "$1" | tail -1 | sed -E 's/^E: //')
  dep=$(grep -m1 -E '^ +[^ ]+ : (Pre)?Depends:|^ +[^ ]+ : (Conflicts|Breaks):' "$1" |
        sed -E 's/^ +//; s/ +/ /g')
  [ -n "$err" ] || err="apt-get failed"
  if [ -n "$dep" ]; then echo "$err; first unmet: $dep"; else echo "$err"; fi
}

update_indexes() {
  local try
  for try in 1 2; do
    if apt_get update -qq >"$work/update.log" 2>&1 && ! grep -qE '^(W|E): Failed to fetch' "$work/update.log"; then
      return 0
    fi
    if [ "$try" -eq 1 ]; then
      warn "a package index failed to download; retrying once:"
      grep -E '^(W|E): ' "$work/update.log" | sed 's/^/  /' >&2
    fi
  done
  warn "going on with the package indexes that did load:"
  grep -E '^(W|E): ' "$work/update.log" | sed 's/^/  /' >&2
  return 0
}

# Installs the packages given; whatever cannot be installed ends up in $work/failed as
# "package<TAB>reason". All at once first (the quick path); if that fails, one at a time, so
# that one broken package does not keep the others out.
install_packages() {
  : >"$work/failed"
  [ $# -gt 0 ] || return 0
  if apt_get install -y -qq --no-install-recommends "$@" >"$work/install.log" 2>&1; then
    return 0
  fi
  local p
  for p in "$@"; do
    installed "$p" && continue
    if ! apt_get install -y -q --no-install-recommends "$p" >"$work/one.log" 2>&1; then
      echo "---- apt-get install $p" >&2
      cat "$work/one.log" >&2
      printf '%s\t%s\n' "$p" "$(reason_of "$work/one.log")" >>"$work/failed"
    fi
  done
}

if [ "$need_i386" -eq 1 ]; then
  say "enabling the i386 architecture for Wine"
  as_root dpkg --add-architecture i386 || warn "could not enable the i386 architecture"
fi

if [ "${#missing[@]}" -gt 0 ]; then
  say "installing ${missing[*]}"
  update_indexes
  install_packages "${missing[@]}"
  fatal=0
  while IFS=$'\t' read -r p why; do
    [ -n "$p" ] || continue
    if printf '%s\n' "${run_packages[@]}" | grep -qxF "$p"; then
      echo "setup: could not install $p, which building and running Tarnwick needs: $why" >&2
      fatal=1
    else
      warn "could not install $p (used by the tests): $why"
      [ -n "$report" ] && printf '%s\t%s\n' "$p" "$why" >>"$report"
    fi
  done <"$work/failed"
  [ "$fatal" -eq 0 ] || exit 1
fi

if [ "$locale_missing" -eq 1 ]; then
  say "generating the zh_CN.UTF-8 locale"
  as_root localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 || { echo "setup: could not generate zh_CN.UTF-8" >&2; exit 1; }
fi
exit 0
