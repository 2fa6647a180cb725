#!/usr/bin/env bash
# Installs the Debian packages the two builds and their tests need, and generates the
# zh_CN.UTF-8 locale Wine's ANSI calls use for code page 936.
#
# Idempotent and silent when everything is already there. Runs apt only for what is missing
# (and `apt-get update` only then). Uses sudo only when not run as root.
#
#   scripts/setup.sh [--check]     --check: list what is missing, install nothing (exit 1 if any)
set -euo pipefail

check_only=0
case "${1:-}" in
  --check) check_only=1 ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

# Native (amd64) packages.
native_packages=(
  cmake make g++ pkg-config git
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev qt6-qpa-plugins
  googletest libgtest-dev
  g++-mingw-w64-i686
  wine fonts-wine
  xvfb xauth x11-utils xdotool imagemagick
  fonts-wqy-microhei locales
  vlc-bin vlc-plugin-base
)
# 32-bit packages for the Wine prefix. Without the GStreamer plugins every RenderFile under
# Wine fails, and they are only recommends of wine32.
i386_packages=(
  wine32:i386
  gstreamer1.0-plugins-base:i386
  gstreamer1.0-plugins-good:i386
)

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

installed() {
  # "ii" = wanted install, installed. Anything else (absent, half-configured) counts as missing.
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | cut -c1-2)" = "ii" ]
}

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
for p in "${native_packages[@]}" "${i386_packages[@]}"; do
  installed "$p" || missing+=("$p")
done

locale_missing=0
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf8'; then
  locale_missing=1
fi

if [ "$check_only" -eq 1 ]; then
  [ "$need_i386" -eq 1 ] && echo "setup: i386 architecture not enabled"
  [ "${#missing[@]}" -gt 0 ] && echo "setup: missing packages: ${missing[*]}"
  [ "$locale_missing" -eq 1 ] && echo "setup: locale zh_CN.UTF-8 not generated"
  if [ "$need_i386" -eq 1 ] || [ "${#missing[@]}" -gt 0 ] || [ "$locale_missing" -eq 1 ]; then
    exit 1
  fi
  exit 0
fi

if [ "$need_i386" -eq 1 ]; then
  echo "setup: enabling the i386 architecture for Wine"
  as_root dpkg --add-architecture i386
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq </dev/null
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Use-Pty=0 "${missing[@]}" </dev/null >/dev/null
  still=()
  for p in "${missing[@]}"; do
    installed "$p" || still+=("$p")
  done
  if [ "${#still[@]}" -gt 0 ]; then
    echo "setup: could not install: ${still[*]}" >&2
    exit 1
  fi
fi

if [ "$locale_missing" -eq 1 ]; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  as_root localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
