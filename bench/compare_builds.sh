#!/usr/bin/env bash
# Two builds of Ombra on the same data, side by side: the components (--op),
# the test with those components loaded (--rp) and the whole default run,
# each timed (medians) with its peak memory, and every output compared byte
# for byte. For changes that must leave the numbers alone (a redesign, a
# faster kernel).
#
#   bench/compare_builds.sh OLD_OMBRA NEW_OMBRA FAMILY_PREFIX UNRELATED_PREFIX [runs]
#
# The prefixes name binary sets (--bf/--bi: Ombra's own or PLINK 1). Works in
# a temporary folder; exits 1 when an output differs.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: $0 OLD NEW FAMILY UNRELATED [runs]" >&2; exit 2; }
old="$(realpath "$1")" new="$(realpath "$2")" family="$(realpath "$3")" unrelated="$(realpath "$4")"
runs="${5:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir old new

# median of the numbers on standard input
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# time_run BUILD TASK ARGS...: seconds and peak kilobytes into TASK.BUILD.times
time_run() {
  local build="$1" task="$2" binary
  shift 2
  binary="$old"
  [ "$build" = new ] && binary="$new"
  (cd "$build" && /usr/bin/time -f "%e %M" -a -o "../$task.$build.times" "$binary" "$@" >"$task.out")
}

for ((r = 1; r <= runs; r++)); do
  for build in old new; do
    time_run "$build" components --bf "$family" --bi "$unrelated" --p 10 --op pca.txt
    time_run "$build" test --bf "$family" --bi "$unrelated" --p 10 --rp ../old/pca.txt --out test.txt
    time_run "$build" whole --bf "$family" --bi "$unrelated" --p 10 --out whole.txt
  done
done

printf '| task | old s | new s | new/old | old MB | new MB |\n|---|---:|---:|---:|---:|---:|\n'
for task in components test whole; do
  os="$(cut -d' ' -f1 "$task.old.times" | median)" ns="$(cut -d' ' -f1 "$task.new.times" | median)"
  om="$(cut -d' ' -f2 "$task.old.times" | median)" nm="$(cut -d' ' -f2 "$task.new.times" | median)"
  awk -v t="$task" -v os="$os" -v ns="$ns" -v om="$om" -v nm="$nm" \
    'BEGIN {printf "| %s | %.2f | %.2f | %.2f | %d | %d |\n", t, os, ns, ns / os, om / 1024, nm / 1024}'
done

status=0
for file in pca.txt pca.Eigen_Loading.txt test.txt whole.txt; do
  if cmp -s "old/$file" "new/$file"; then
    echo "identical: $file ($(wc -c <"new/$file") bytes)"
  else
    echo "DIFFERENT: $file"
    status=1
  fi
done
exit "$status"
