#!/usr/bin/env bash
# Many phenotypes in one pass: Ombra's test of 20 quantitative phenotypes
# against its test of one, and against plink2 --glm on the same 20 with the
# same components as covariates, side by side in one script run.
#
#   bench/phenotypes_benchmark.sh OMBRA DATA [runs]
#
# DATA holds the medium set as Ombra's binary sets o_fam, o_unr (from
# `ombra --f family --make-bed o_fam`, `ombra --i unrelated --make-bed o_unr`)
# and PLINK 2's merged.pgen/.pvar/.psam (plink1.9 --merge, plink2 --make-pgen)
# of `simulate --families 600 --unrelated 1000 --snps 100000`. The components
# are computed once, untimed (--op), and loaded by every timed Ombra run
# (--rp); PLINK 2 gets them as covariates. Each command runs at --threads 1
# and 2, `runs` times each (default 3); the table gives the median of the
# faster setting and its peak memory. Exits 1 when a phenotype's result in
# the many-phenotype runs differs from a run of it alone.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OMBRA DATA [runs]" >&2; exit 2; }
ombra="$(realpath "$1")" data="$(realpath "$2")" runs="${3:-3}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

"$ombra" --bf "$data/o_fam" --bi "$data/o_unr" --p 10 --op pca.txt >pca.out
python3 "$here/make_phenotypes.py" ph20.txt 20 1 "$data/o_fam.fam" "$data/o_unr.fam"
python3 "$here/make_phenotypes.py" ph20x4.txt 20 4 "$data/o_fam.fam" "$data/o_unr.fam"
awk -F'\t' 'BEGIN { printf "#FID\tIID"; for (k = 1; k <= 10; k++) printf "\tPC%d", k; print "" }
  { printf "%s\t%s", $1, $2; for (k = 5; k <= 14; k++) printf "\t%s", $k; print "" }' pca.txt >covar.txt

# time_run TASK THREADS COMMAND...: seconds and peak kilobytes into TASK.THREADS.times
time_run() {
  local task="$1" threads="$2"
  shift 2
  /usr/bin/time -f "%e %M" -a -o "$task.$threads.times" "$@" >"$task.out" 2>&1
}
test_args=("$ombra" --bf "$data/o_fam" --bi "$data/o_unr" --p 10 --rp pca.txt)
ombra_test() { "${test_args[@]}" "$@"; }

for ((r = 1; r <= runs; r++)); do
  for t in 1 2; do
    time_run one "$t" "${test_args[@]}" --threads "$t" --pheno ph20.txt --pheno-name Q1 --out one.txt
    time_run many "$t" "${test_args[@]}" --threads "$t" --pheno ph20.txt --pheno-name all --out many.txt
    time_run patterns "$t" "${test_args[@]}" --threads "$t" --pheno ph20x4.txt --pheno-name all --out patterns.txt
    time_run plink_one "$t" plink2 --threads "$t" --pfile "$data/merged" --pheno ph20.txt --pheno-name Q1 \
      --covar covar.txt --glm hide-covar --out p2one
    time_run plink_many "$t" plink2 --threads "$t" --pfile "$data/merged" --pheno ph20.txt --pheno-name Q1-Q20 \
      --covar covar.txt --glm hide-covar --out p2many
  done
done

# best TASK: "seconds megabytes threads" of the faster thread setting (by median)
best() {
  local t s m out=""
  for t in 1 2; do
    s="$(cut -d' ' -f1 "$1.$t.times" | median)" m="$(cut -d' ' -f2 "$1.$t.times" | median)"
    if [ -z "$out" ] || awk -v a="$s" -v b="${out%% *}" 'BEGIN { exit !(a < b) }'; then out="$s $((m / 1024)) $t"; fi
  done
  echo "$out"
}
read -r one_s one_mb one_t <<<"$(best one)"
read -r many_s many_mb many_t <<<"$(best many)"
read -r pat_s pat_mb pat_t <<<"$(best patterns)"
read -r p1_s p1_mb p1_t <<<"$(best plink_one)"
read -r p20_s p20_mb p20_t <<<"$(best plink_many)"
printf '| run | seconds | peak MB | threads |\n|---|---:|---:|---:|\n'
printf '| Ombra, 1 phenotype | %s | %s | %s |\n' "$one_s" "$one_mb" "$one_t"
printf '| Ombra, 20 phenotypes, no missing value | %s | %s | %s |\n' "$many_s" "$many_mb" "$many_t"
printf '| Ombra, 20 phenotypes in 4 missing patterns | %s | %s | %s |\n' "$pat_s" "$pat_mb" "$pat_t"
printf '| plink2 --glm, 1 phenotype | %s | %s | %s |\n' "$p1_s" "$p1_mb" "$p1_t"
printf '| plink2 --glm, 20 phenotypes | %s | %s | %s |\n' "$p20_s" "$p20_mb" "$p20_t"
awk -v o="$one_s" -v m="$many_s" -v p="$pat_s" -v g="$p20_s" 'BEGIN {
  printf "\n20 phenotypes / 1: %.2f (target <= 2); against plink2 on 20: %.3f (target <= 0.1); 4 patterns / 1: %.2f (target <= 5)\n",
    m / o, m / g, p / o }'

# Each phenotype's numbers are those of a run of it alone.
status=0
for q in Q1 Q2 Q7 Q20; do
  for set in many patterns; do
    file="ph20.txt"
    [ "$set" = patterns ] && file="ph20x4.txt"
    ombra_test --pheno "$file" --pheno-name "$q" --out alone.txt >/dev/null
    if cmp -s alone.txt "$set.$q.txt"; then echo "identical: $set.$q.txt"; else echo "DIFFERENT: $set.$q.txt"; status=1; fi
  done
done
exit "$status"
