#!/usr/bin/env bash
# Calibration and power of the two adjustments on simulated data with a
# polygenic, familial trait: genomic inflation over the null SNPs and the
# statistics at the causal SNPs, for --adjustment legacy and intercept, and
# how far each moves when every SNP is coded by its other allele.
#
#   bench/calibration.sh [families] [unrelated] [snps] [causal] [missing-rate]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
families="${1:-400}"
unrelated="${2:-1200}"
snps="${3:-20000}"
causal="${4:-400}"
missing="${5:-0.03}"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target ombra simulate >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/simulate" --families "$families" --unrelated "$unrelated" --snps "$snps" --seed 7 \
  --causal "$causal" --effect-scale 0.25 --missing-rate "$missing" --out "$work"
# The same data with every SNP coded by its other allele: Ombra's own binary
# sets with the .bim's alleles swapped and the codes turned (g -> 2 - g).
for set in family unrelated; do
  (cd "$work" && "$build/ombra" --f "$set" --make-bed "$set" >/dev/null)
done
python3 - "$work" <<'PY'
import sys, os
work = sys.argv[1]
for name in ("family", "unrelated"):
    base = os.path.join(work, name)
    rows = sum(1 for _ in open(base + ".fam"))
    bim = [l.split() for l in open(base + ".bim")]
    m = len(bim)
    data = bytearray(open(base + ".bed", "rb").read())
    table = bytearray(256)
    for b in range(256):
        out = 0
        for slot in range(4):
            code = (b >> (6 - 2 * slot)) & 3
            if code in (0, 2):
                code = 2 - code
            out |= code << (6 - 2 * slot)
        table[b] = out
    data = data.translate(bytes(table))
    per = (m + 3) // 4
    called = [0] * m
    copies = [0] * m
    for r in range(rows):
        row = data[r * per:(r + 1) * per]
        for s in range(m):
            code = (row[s // 4] >> (6 - 2 * (s % 4))) & 3
            if code != 3:
                called[s] += 1
                copies[s] += code
    # Unused slots of the last byte stay 0.
    if m % 4:
        keep = 0xFF << (2 * (4 - m % 4)) & 0xFF
        for r in range(rows):
            data[r * per + per - 1] &= keep
    open(base + "_swap.bed", "wb").write(data)
    with open(base + "_swap.bim", "w") as out:
        for s, f in enumerate(bim):
            out.write(f"{f[0]} {f[1]} {f[2]} {f[3]} {f[5]} {f[4]} {copies[s]}\n")
    os.link(base + ".fam", base + "_swap.fam")
PY
for adjustment in legacy intercept; do
  for coding in "" _swap; do
    (cd "$work" && "$build/ombra" --bf "family$coding" --bi "unrelated$coding" --p 10 \
       --adjustment "$adjustment" --out "result_${adjustment}${coding}.txt" >/dev/null)
  done
done
python3 - "$work" "$families" "$unrelated" "$snps" "$causal" "$missing" <<'PY'
import sys, math, statistics
work, families, unrelated, snps, causal, missing = sys.argv[1:]
causal_ids = {l.split()[0] for l in open(f"{work}/causal.txt")}
def read(name):
    out = {}
    for line in open(f"{work}/{name}"):
        f = line.split()
        out[f[0]] = [float(x) for x in f[-8:]]  # an unknown allele leaves its column blank
    return out
print(f"Simulated: {families} families, {unrelated} unrelated, {snps} SNPs, {causal} causal SNPs "
      f"(effects x 0.25), missing genotypes {missing}; 10 components.\n")
print("| adjustment | statistic | λ over null SNPs | mean statistic at causal SNPs | causal SNPs with p < 1e-3 | median change of √statistic when alleles swap | largest change |")
print("|---|---|---:|---:|---:|---:|---:|")
for adjustment in ("legacy", "intercept"):
    a = read(f"result_{adjustment}.txt")
    b = read(f"result_{adjustment}_swap.txt")
    for k, stat in enumerate(("SS", "T", "T1")):
        null = [v[2 + 2 * k] for s, v in a.items() if s not in causal_ids and v[2 + 2 * k] == v[2 + 2 * k] and v[3 + 2*k] < 1]
        hits = [v[2 + 2 * k] for s, v in a.items() if s in causal_ids]
        lam = statistics.median(null) / 0.4549364
        strong = sum(1 for s, v in a.items() if s in causal_ids and v[3 + 2 * k] < 1e-3)
        moves = [abs(math.sqrt(max(a[s][2 + 2 * k], 0)) - math.sqrt(max(b[s][2 + 2 * k], 0))) for s in a]
        print(f"| {adjustment} | {stat} | {lam:.3f} | {statistics.mean(hits):.3f} | {strong} of {len(hits)} | "
              f"{statistics.median(moves):.4f} | {max(moves):.4f} |")
PY
