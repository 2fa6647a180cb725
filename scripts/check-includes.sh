#!/usr/bin/env bash
# Checks that every #include "..." of the sources points down or sideways, never up.
#
#   scripts/check-includes.sh [ROOT]     (exit 1 and one line per upward include)
#
# Areas, lowest first. A file may include its own area and the areas below it; two areas on
# the same level do not include each other. The root files of platform/posix/ that hold shared
# utilities (object, diagnostics, console) sit with the lowest level; registry.cpp, which names
# the classes and openers of every area, sits above them all.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

level_of() {  # level_of PATH -> "LEVEL AREA", or nothing for files outside the checked tree
  case $1 in
    platform/posix/registry.cpp) echo "9 posix-registry" ;;
    platform/posix/win/* | platform/posix/object.* | platform/posix/diagnostics.* | platform/posix/console.*)
      echo "1 posix-base" ;;
    platform/posix/com/*) echo "2 posix-com" ;;
    platform/posix/graph/*) echo "3 posix-graph" ;;
    platform/posix/net/*) echo "3 posix-net" ;;
    platform/posix/ffmpeg/*) echo "1 posix-ffmpeg" ;;
    platform/posix/media/*) echo "4 posix-media" ;;
    platform/posix/asf/*) echo "5 posix-asf" ;;
    platform/posix/*) echo "1 posix-base" ;;
    platform/win32/*) echo "1 win32" ;;
    platform/*) echo "0 platform" ;;
    dsutil/*) echo "10 dsutil" ;;
    framework/*) echo "10 framework" ;;
    dsgraph/*) echo "11 dsgraph" ;;
    app/*) echo "12 app" ;;
    tools/*) echo "12 tools" ;;
    *) ;;
  esac
}

# The platform's declarations (level 0) are what every target includes; the Linux and Windows
# implementations below them are never included from above the platform.
bad=0
while IFS= read -r file; do
  from=$(level_of "$file")
  [ -n "$from" ] || continue
  read -r from_level from_area <<<"$from"
  while IFS= read -r target; do
    to=$(level_of "$target")
    [ -n "$to" ] || continue
    read -r to_level to_area <<<"$to"
    [ "$to_area" = "$from_area" ] && continue
    # The declarations of the platform are shared by everything above them.
    [ "$to_area" = platform ] && continue
    if [ "$to_level" -ge "$from_level" ] || { [ "$from_level" -ge 10 ] && [[ $to_area == posix-* || $to_area == win32 ]]; }; then
      echo "$file includes $target ($from_area may not depend on $to_area)"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find platform dsutil framework dsgraph app tools -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) 2>/dev/null | sort)
exit "$bad"
