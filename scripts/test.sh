#!/usr/bin/env bash
# Builds Ombra twice (optimised, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"
for variant in release sanitize; do
  dir="$root/build-$variant"
  flags=(-DCMAKE_BUILD_TYPE=Release)
  [ "$variant" = sanitize ] && flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRA_SANITIZE=ON)
  cmake -S "$root" -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests ($variant) =="
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
