#!/usr/bin/env bash
# Builds Ombra and runs the full analysis on the bundled example data: the
# family and the unrelated text sets, 10 principal components.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j "$(nproc)" --target ombra
out="$root/example-output"
mkdir -p "$out"
cd "$out"
"$root/build-release/ombra" --f "$root/examples/family" --i "$root/examples/unrelated" --p 10 --out result.txt
echo "Results: $out/result.txt"
# The same data as PLINK 1 binary filesets must give the same result file.
"$root/build-release/ombra" --bf "$root/examples/plink/family" --bi "$root/examples/plink/unrelated" --p 10 \
  --out result-plink.txt >plink-run.log
if cmp -s result.txt result-plink.txt; then
  echo "The PLINK 1 filesets in examples/plink give the same result."
else
  echo "The PLINK 1 filesets in examples/plink give a different result: compare $out/result-plink.txt" >&2
  exit 1
fi
# The README's worked example: the PLINK 1 filesets with the covariates of
# examples/covariates.txt, to a tab-separated table and plots (its output is in
# example.log).
"$root/build-release/ombra" --bf "$root/examples/plink/family" --bi "$root/examples/plink/unrelated" \
  --covar "$root/examples/covariates.txt" --covar-name AGE,BATCH,SEX \
  --out-format tsv --out example.tsv --plot example --plot-stat all >/dev/null \
  || { cat example.log >&2; exit 1; }
echo "Worked example: $out/example.tsv, $out/example.manhattan.svg, $out/example.qq.svg"
# Imputed data: the example sets as dosages, a BGEN file (8-bit, as PLINK 2
# writes it) and a DS VCF; both give the dosage-aware table with INFO.
"$root/build-release/ombra" --gf "$root/examples/imputed/family" --gi "$root/examples/imputed/unrelated" \
  --out-format tsv --out imputed-bgen.tsv >imputed-bgen.out || { cat imputed-bgen.out >&2; exit 1; }
"$root/build-release/ombra" --vf "$root/examples/imputed/family" --vi "$root/examples/imputed/unrelated" \
  --vcf-dosage DS --out-format tsv --out imputed-vcf.tsv >imputed-vcf.out || { cat imputed-vcf.out >&2; exit 1; }
echo "Imputed example: $out/imputed-bgen.tsv (BGEN) and $out/imputed-vcf.tsv (DS VCF)"
