#!/usr/bin/env bash
# Installs what building and running need (not the test tools), builds the Linux program and records the bundled sample clip into
# an ASF file with the default profile.
#
#   scripts/run-sample.sh [recorder options]     e.g. --profile wmp_V80_256Video
#
# The ASF file is written to out/sample.asf.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

build_dir="$root/build/linux"
recorder="$build_dir/tools/tarnwick-record"
sample="$root/samples/sample.mp4"
output="$root/out/sample.asf"

echo "==== building (preset linux)"
# The tests are not needed here, nor what they need (GoogleTest comes with the test group).
cmake --preset linux -DTW_BUILD_TESTS=OFF </dev/null >/dev/null
targets=$(cmake --build --preset linux --target help </dev/null)
if grep -q '\.\.\. tarnwick-record$' <<<"$targets"; then
  cmake --build --preset linux -j"${TW_JOBS:-2}" --target tarnwick-record </dev/null
else
  cmake --build --preset linux -j"${TW_JOBS:-2}" </dev/null
fi

if [ -x "$recorder" ]; then
  if [ ! -f "$sample" ]; then
    "$root/scripts/make-sample.sh"
  fi
  mkdir -p "$(dirname "$output")"
  echo "==== recording $sample"
  "$recorder" "$@" "$sample" "$output"
  echo
  echo "Recorded: $output"
  exit 0
fi

# No recorder yet: say what this build already holds.
echo
echo "The recorder (tools/tarnwick-record) is not part of this build yet, so the sample"
echo "cannot be recorded. What the build holds so far:"
echo
echo "Libraries:"
found=0
while IFS= read -r lib; do
  echo "  ${lib#"$build_dir"/}"
  found=1
done < <(find "$build_dir" -name 'libtw_*.a' -not -path '*/CMakeFiles/*' | sort)
[ "$found" -eq 0 ] && echo "  (none)"
echo
echo "Programs:"
found=0
while IFS= read -r exe; do
  echo "  ${exe#"$build_dir"/}"
  found=1
done < <(find "$build_dir" -type f -perm -u+x -not -path '*/CMakeFiles/*' -not -name '*.so*' \
           -not -name '*.sh' | sort)
[ "$found" -eq 0 ] && echo "  (none)"
echo
tests=$(ctest --test-dir "$build_dir" -N </dev/null 2>/dev/null | sed -n 's/^Total Tests: //p')
echo "Tests: ${tests:-0} (run them, and the Windows build's under Wine, with ./scripts/test.sh)"
