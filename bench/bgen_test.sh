#!/usr/bin/env bash
# Times Ombra's streamed test on a BGEN file against PLINK 2's --glm on the
# same file, import included, as a user runs each (not run in CI).
#
#   bench/bgen_test.sh [--samples N] [--snps M] [--data DIR]
#
# Simulates N unrelated individuals x M SNPs (default 10,000 x 200,000) with
# simulate_plink and exports them with plink2 as BGEN 1.2, 8 bits, zlib, and
# a second file of the first M/2 SNPs (untimed); the 10 components come from
# Ombra on the PLINK fileset (untimed). Then, at 1 and 2 threads:
#   ombra --gi SET --rp pca.txt --p 10                      (the streamed test)
#   plink2 --bgen SET.bgen ref-first --sample SET.sample --glm (linear, the
#          trait as 0.5/1.5, the 10 components as covariates)
# and Ombra once on the half file, for memory against the SNP count. Wall
# time from the shell clock, processor time and peak memory from
# /usr/bin/time -v; one run each.
set -euo pipefail

die() { echo "bgen_test: error: $*" >&2; exit 1; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
samples=10000
snps=200000
data=/tmp/ombra-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --samples) samples="$2"; shift ;;
    --snps) snps="$2"; shift ;;
    --data) data="$2"; shift ;;
    *) die "unknown argument '$1'" ;;
  esac
  shift
done
command -v plink2 >/dev/null || die "plink2 is not installed (apt-get install plink2)"
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target ombra simulate_plink >/dev/null
ombra="$build/ombra"

dir="$data/bgen-test-$samples-$snps"
mkdir -p "$dir"
cd "$dir"
if [ ! -s set.bgen ]; then
  "$build/simulate_plink" --families 0 --unrelated "$samples" --snps "$snps" --seed 1 --out "$dir" >/dev/null
  plink2 --bfile unrelated --export bgen-1.2 bits=8 --out set >/dev/null
  head -n $((snps / 2)) unrelated.bim | cut -f2 >half.snps
  plink2 --bfile unrelated --extract half.snps --export bgen-1.2 bits=8 --out half >/dev/null
  cp unrelated.fam set.fam
  cp unrelated.fam half.fam
  "$ombra" --bi unrelated --p 10 --op pca.txt >/dev/null
  awk 'BEGIN { print "FID\tIID\tTRAIT" } { print $1 "\t" $2 "\t" (($3 == "1") ? "0.5" : (($3 == "2") ? "1.5" : "NA")) }' \
    pca.txt >pheno.txt
  awk 'BEGIN { printf "FID\tIID"; for (k = 1; k <= 10; k++) printf "\tPC%d", k; print "" }
       { printf "%s\t%s", $1, $2; for (k = 5; k <= 14; k++) printf "\t%s", $k; print "" }' pca.txt >covar.txt
fi

measure() {
  local name="$1" t0 t1
  shift
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$name.time" "$@" >"$name.log" 2>&1 || { tail -5 "$name.log" >&2; die "$name failed"; }
  t1=$(date +%s.%N)
  SEC=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }')
  CPU=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.1f", u + s }' "$name.time")
  MB=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$name.time")
}
rows=()
for t in 1 2; do
  measure "ombra$t" "$ombra" --gi set --rp pca.txt --p 10 --threads "$t" --out "ombra$t.txt"
  rows+=("| Ombra \`--gi --rp\` (streamed test), $t thread(s) | $SEC | $CPU | $MB |")
  measure "plink$t" plink2 --bgen set.bgen ref-first --sample set.sample --pheno pheno.txt --pheno-name TRAIT \
    --covar covar.txt --glm hide-covar --threads "$t" --out "plink$t"
  rows+=("| PLINK 2 \`--bgen --glm\` (import included), $t thread(s) | $SEC | $CPU | $MB |")
done
measure half "$ombra" --gi half --rp pca.txt --p 10 --threads 2 --out half.txt
rows+=("| Ombra the same on the first $((snps / 2)) SNPs, 2 threads | $SEC | $CPU | $MB |")

echo "### BGEN test: $samples samples, $snps SNPs (BGEN 1.2, 8 bits, zlib: $(awk -v b="$(stat -c %s set.bgen)" 'BEGIN { printf "%.0f", b / 1e6 }') MB)"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?');" \
  "$(plink2 --version | head -1). One run each; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
echo
echo "| task | wall s | CPU s | peak MB |"
echo "|---|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
