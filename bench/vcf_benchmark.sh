#!/usr/bin/env bash
# Times Ombra reading a bgzip VCF against PLINK 2 converting the same file.
#
#   bench/vcf_benchmark.sh [small|medium] [--runs N] [--data DIR]
#
# Generates the family set of bench/run_benchmarks.sh (same simulator, sizes
# and seed), turns it into a bgzip VCF with plink2 (not timed) and runs, one
# thread each, on the same file:
#   ombra --vf SET --make-bed OUT                      (VCF read into the store, binary set written)
#   plink2 --threads 1 --vcf SET.vcf.gz --make-pgen --out OUT
# Wall time from the shell clock, processor time (user + system) and peak
# memory (max RSS) from /usr/bin/time -v; the table shows medians. The VCF is read once before timing (page cache).
set -euo pipefail

die() { echo "vcf_benchmark: error: $*" >&2; exit 1; }
note() { echo "vcf_benchmark: $*" >&2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size=medium
runs=3
data=/tmp/ombra-bench
while [ $# -gt 0 ]; do
  case "$1" in
    small | medium) size="$1" ;;
    --runs) [ $# -ge 2 ] || die "--runs needs a value"; runs="$2"; shift ;;
    --data) [ $# -ge 2 ] || die "--data needs a value"; data="$2"; shift ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
  shift
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs must be a positive integer"
case "$size" in
  small) params=(100 200 20000) ;;
  medium) params=(600 1000 100000) ;;
esac
command -v plink2 >/dev/null || die "plink2 is not installed (apt-get install plink2)"
[ -x /usr/bin/time ] || die "GNU time is not installed (apt-get install time)"
"$root/scripts/setup.sh"

build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ombra simulate >/dev/null

dir="$data/vcf-$size"
mkdir -p "$dir"
cd "$dir"
if [ ! -s family.vcf.gz ]; then
  note "generating the $size family set and its VCF in $dir"
  "$build/simulate" --families "${params[0]}" --unrelated "${params[1]}" --snps "${params[2]}" --seed 1 \
    --out "$dir/text" >/dev/null
  # plink2 names the samples FID_IID, which Ombra matches to the .fam.
  plink2 --pedmap text/family --export vcf bgz --out family >/dev/null
  cut -d' ' -f1-6 text/family.ped >family.fam
  rm -rf text
fi
cat family.vcf.gz >/dev/null

# measure NAME CMD...: sets SEC (median seconds), CPU (median user + system
# seconds) and MB (largest peak).
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

measure ombra "$build/ombra" --vf family --make-bed ombra_out
ombraSec="$SEC" ombraCpu="$CPU" ombraMb="$MB"
measure plink2 plink2 --threads 1 --vcf family.vcf.gz --make-pgen --out plink2_out
plinkSec="$SEC" plinkCpu="$CPU" plinkMb="$MB"

samples=$(wc -l <family.fam)
snps=$(wc -l <ombra_out.bim)
fileMb=$(awk -v b="$(stat -c %s family.vcf.gz)" 'BEGIN { printf "%.1f", b / 1e6 }')
textMb=$(gzip -dc family.vcf.gz | wc -c | awk '{ printf "%.0f", $1 / 1e6 }')
echo "### VCF read, $size: $samples samples, $snps SNPs ($fileMb MB bgzip, $textMb MB of text)"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo);" \
  "Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?'); $(plink2 --version | head -1)."
echo "Medians of $runs runs: wall and processor (user + system) seconds; peak resident memory (MB); one thread each;"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
echo
echo "| task | Ombra s | PLINK 2 s | Ombra/PLINK 2 | Ombra CPU s | PLINK 2 CPU s | Ombra MB | PLINK 2 MB |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
echo "| \`--vf --make-bed\` vs \`--vcf --make-pgen\` | $ombraSec | $plinkSec |" \
  "$(awk -v a="$ombraSec" -v b="$plinkSec" 'BEGIN { printf "%.2f", a / b }') | $ombraCpu | $plinkCpu | $ombraMb | $plinkMb |"
