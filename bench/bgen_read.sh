#!/usr/bin/env bash
# Times Ombra's BGEN reader decoding every dosage against PLINK 2 importing
# the same file (not run in CI).
#
#   bench/bgen_read.sh [--samples N] [--snps M] [--runs R] [--data DIR]
#
# Simulates N unrelated individuals x M SNPs (default 10,000 x 20,000) with
# simulate_plink, exports them with plink2 as BGEN 1.2, 8 bits, zlib (not
# timed), then runs on the same file:
#   bgen_decode SET.bgen                                                (bench/bgen_decode.cpp)
#   plink2 --threads 1 --bgen SET.bgen ref-first --sample SET.sample --make-pgen
#   plink2 --threads 2 (the same)
# Wall time from the shell clock, processor time (user + system) and peak
# memory (max RSS) from /usr/bin/time -v; medians of R runs (default 3).
set -euo pipefail

die() { echo "bgen_read: error: $*" >&2; exit 1; }
note() { echo "bgen_read: $*" >&2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
samples=10000
snps=20000
runs=3
data=/tmp/ombra-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --samples) [ $# -ge 2 ] || die "--samples needs a value"; samples="$2"; shift ;;
    --snps) [ $# -ge 2 ] || die "--snps needs a value"; snps="$2"; shift ;;
    --runs) [ $# -ge 2 ] || die "--runs needs a value"; runs="$2"; shift ;;
    --data) [ $# -ge 2 ] || die "--data needs a value"; data="$2"; shift ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
  shift
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs must be a positive integer"
command -v plink2 >/dev/null || die "plink2 is not installed (apt-get install plink2)"
[ -x /usr/bin/time ] || die "GNU time is not installed (apt-get install time)"

build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target bgen_decode simulate_plink >/dev/null

dir="$data/bgen-$samples-$snps"
mkdir -p "$dir"
cd "$dir"
if [ ! -s set.bgen ]; then
  note "simulating $samples x $snps and exporting BGEN 1.2 (8 bits, zlib) in $dir"
  "$build/simulate_plink" --families 0 --unrelated "$samples" --snps "$snps" --seed 1 --out "$dir" >/dev/null
  plink2 --bfile unrelated --export bgen-1.2 bits=8 --out set >/dev/null
  rm -f family.* unrelated.*
fi
cat set.bgen >/dev/null

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
measure() {
  local name="$1" times="" cpus="" peak=0 i t0 t1 mb
  shift
  for ((i = 1; i <= runs; i++)); do
    t0=$(date +%s.%N)
    /usr/bin/time -v -o "$name.time" "$@" >"$name.log" 2>&1 || { tail -5 "$name.log" >&2; die "$name failed"; }
    t1=$(date +%s.%N)
    times+="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"$'\n'
    cpus+="$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' "$name.time")"$'\n'
    mb=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$name.time")
    [ "$mb" -gt "$peak" ] && peak="$mb"
  done
  SEC=$(printf '%s' "$times" | median)
  CPU=$(printf '%s' "$cpus" | median)
  MB="$peak"
}

measure ombra "$build/bgen_decode" set.bgen
row() { echo "| $1 | $SEC | $CPU | $MB |"; }
rows=("$(row "Ombra \`bgen_decode\` (every dosage), 1 thread")")
measure plink1 plink2 --threads 1 --bgen set.bgen ref-first --sample set.sample --make-pgen --out p1
rows+=("$(row "PLINK 2 \`--bgen ref-first --make-pgen\`, 1 thread")")
measure plink2 plink2 --threads 2 --bgen set.bgen ref-first --sample set.sample --make-pgen --out p2
rows+=("$(row "PLINK 2 the same, 2 threads")")

fileMb=$(awk -v b="$(stat -c %s set.bgen)" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "### BGEN read: $samples samples, $snps SNPs (BGEN 1.2, 8 bits, zlib: $fileMb MB)"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo);" \
  "Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?'); $(plink2 --version | head -1)."
echo "Medians of $runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end. $(cat ombra.log)"
echo
echo "| task | wall s | CPU s | peak MB |"
echo "|---|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
