#!/usr/bin/env bash
# Calibration and power of the two adjustments on simulated data with a
# polygenic, familial trait: genomic inflation over the null SNPs and the
# statistics at the causal SNPs, for --adjustment legacy and intercept, and
# how far each moves when every SNP is coded by its other allele; then the
# mixed model (--model lmm) beside GEMMA's (a genomic relationship matrix,
# the same constant and components; skipped when gemma is absent), with the
# power as the mean statistic at the causal SNPs over lambda, and the times.
# Beside each lambda (the median null statistic over its expectation) stand
# the mean null statistic and the bootstrap standard error of lambda over the
# null SNPs: one simulated data set resolves lambda only to about that error.
#
#   bench/calibration.sh [families] [unrelated] [snps] [causal] [missing-rate] [seed]
#
# The seed defaults to 7, the data set of the figures in bench/RESULTS.md.
# SEEDS="1 2 3" runs only the mixed model's run (its table holds all four
# statistics and the regression's BETA/SE) on one simulated set per seed,
# without the allele swap and GEMMA, and prints each seed's lambda and the
# mean and standard deviation over the seeds. GEMMA= (empty) skips GEMMA in
# the one-seed mode too.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
families="${1:-400}"
unrelated="${2:-1200}"
snps="${3:-20000}"
causal="${4:-400}"
missing="${5:-0.03}"
seed="${6:-7}"
gemma="${GEMMA-gemma}"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target ombra simulate >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# lambda, the mean null statistic and the bootstrap SE of lambda of each
# statistic of a --model lmm tsv table, shared by both modes.
cat >"$work/nulls.py" <<'PY'
import random, statistics
def null_and_causal(path, causal_ids):
    rows = [l.rstrip("\n").split("\t") for l in open(path)]
    head = rows[0]
    out = {}
    for col, name in (("STAT_SS", "SS"), ("STAT_T", "T"), ("STAT_T1", "T1"), ("STAT_LMM", "LMM")):
        k = head.index(col)
        out[name] = {r[2]: float(r[k]) for r in rows[1:] if r[k] != "NA" and float(r[k + 1]) < 1}
    b, se = head.index("BETA"), head.index("SE")
    out["OLS"] = {r[2]: (float(r[b]) / float(r[se])) ** 2 for r in rows[1:] if r[b] != "NA"}
    return {name: ([v for s, v in st.items() if s not in causal_ids],
                   [v for s, v in st.items() if s in causal_ids]) for name, st in out.items()}
def lam(null):
    return statistics.median(null) / 0.4549364
def bootstrap_se(null, reps=200):
    # A fixed generator, so that a rerun prints the same figures.
    rng = random.Random(1)
    return statistics.stdev(lam(rng.choices(null, k=len(null))) for _ in range(reps))
PY
if [ -n "${SEEDS:-}" ]; then
  for s in $SEEDS; do
    mkdir "$work/s$s"
    "$build/simulate" --families "$families" --unrelated "$unrelated" --snps "$snps" --seed "$s" \
      --causal "$causal" --effect-scale 0.25 --missing-rate "$missing" --out "$work/s$s" >/dev/null
    for set in family unrelated; do
      (cd "$work/s$s" && "$build/ombra" --f "$set" --make-bed "$set" >/dev/null)
    done
    (cd "$work/s$s" && "$build/ombra" --bf family --bi unrelated --p 10 --model lmm --out-format tsv \
       --out result_lmm.tsv >lmm_stdout.txt)
  done
  python3 - "$work" "$families" "$unrelated" "$snps" "$causal" "$missing" $SEEDS <<'PY'
import sys, statistics
work, families, unrelated, snps, causal, missing, *seeds = sys.argv[1:]
sys.path.insert(0, work)
from nulls import null_and_causal, lam, bootstrap_se
names = ("SS", "T", "T1", "LMM", "OLS")
print(f"Simulated per seed: {families} families, {unrelated} unrelated, {snps} SNPs, {causal} causal SNPs "
      f"(effects x 0.25), missing genotypes {missing}; 10 components. OLS is the tsv's BETA/SE.\n")
print("| seed | h² | " + " | ".join(f"λ {n} | mean χ² {n} | SE of λ {n}" for n in names) + " |")
print("|---|---:|" + "---:|" * (3 * len(names)))
lams = {n: [] for n in names}
means = {n: [] for n in names}
for s in seeds:
    d = f"{work}/s{s}"
    causal_ids = {l.split()[0] for l in open(f"{d}/causal.txt")}
    h2 = next((l.split("h2 = ")[1].split()[0].rstrip(",") for l in open(f"{d}/lmm_stdout.txt") if "h2 = " in l), "?")
    parts = null_and_causal(f"{d}/result_lmm.tsv", causal_ids)
    cells = []
    for n in names:
        null = parts[n][0]
        lams[n].append(lam(null))
        means[n].append(statistics.mean(null))
        cells.append(f"{lams[n][-1]:.3f} | {means[n][-1]:.3f} | {bootstrap_se(null):.3f}")
    print(f"| {s} | {h2} | " + " | ".join(cells) + " |")
print(f"\n| statistic | mean λ over {len(seeds)} seeds | SD of λ | seeds with λ in 1.00 ± 0.02 | mean of the mean null χ² | SD |")
print("|---|---:|---:|---:|---:|---:|")
for n in names:
    sd = statistics.stdev(lams[n]) if len(seeds) > 1 else float("nan")
    msd = statistics.stdev(means[n]) if len(seeds) > 1 else float("nan")
    inside = sum(1 for v in lams[n] if abs(v - 1) <= 0.02)
    print(f"| {n} | {statistics.mean(lams[n]):.4f} | {sd:.3f} | {inside} of {len(seeds)} | "
          f"{statistics.mean(means[n]):.4f} | {msd:.3f} |")
PY
  exit 0
fi
"$build/simulate" --families "$families" --unrelated "$unrelated" --snps "$snps" --seed "$seed" \
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
# The components for GEMMA's covariates; then the mixed model's whole run
# (components included), timed.
(cd "$work" && "$build/ombra" --bf family --bi unrelated --p 10 --op pca.txt >/dev/null)
(cd "$work" && /usr/bin/time -f "%e %M" -o time_lmm.txt "$build/ombra" --bf family --bi unrelated --p 10 \
   --model lmm --out-format tsv --out result_lmm.tsv >lmm_stdout.txt)
(cd "$work" && "$build/ombra" --bf family_swap --bi unrelated_swap --p 10 --model lmm --out-format tsv \
   --out result_lmm_swap.tsv >/dev/null)
grep "Mixed model" "$work/lmm_stdout.txt" || true
if [ -n "$gemma" ] && command -v "$gemma" >/dev/null 2>&1 && command -v plink1.9 >/dev/null 2>&1; then
  (cd "$work" && "$build/ombra" --bf family --make-plink-bed pfamily >/dev/null &&
     "$build/ombra" --bf unrelated --make-plink-bed punrelated >/dev/null &&
     plink1.9 --bfile pfamily --bmerge punrelated --make-bed --out all >/dev/null)
  python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
scores = {}
for line in open(f"{work}/pca.txt"):
    f = line.split()
    scores[(f[0], f[1])] = f[4:]
with open(f"{work}/covariates.txt", "w") as out:
    for line in open(f"{work}/all.fam"):
        f = line.split()
        out.write(" ".join(["1"] + scores.get((f[0], f[1]), ["NA"] * 10)) + "\n")
PY
  (cd "$work" && /usr/bin/time -f "%e %M" -o time_gemma_k.txt "$gemma" -bfile all -gk 1 -o grm >/dev/null 2>&1 &&
     /usr/bin/time -f "%e %M" -o time_gemma.txt "$gemma" -bfile all -k output/grm.cXX.txt -c covariates.txt \
       -lmm 1 -o lmm >/dev/null 2>&1)
  grep "pve estimate" "$work/output/lmm.log.txt" || true
fi
python3 - "$work" <<'PY'
import sys, os, statistics
from statistics import NormalDist
work = sys.argv[1]
sys.path.insert(0, work)
from nulls import null_and_causal, lam, bootstrap_se
causal_ids = {l.split()[0] for l in open(f"{work}/causal.txt")}
def chi2_of(p):
    p = min(max(p, 1e-300), 1.0)
    return NormalDist().inv_cdf(p / 2) ** 2
def summary(name, null, hits):
    l = lam(null)
    mean = statistics.mean(hits)
    return (f"| {name} | {l:.3f} | {statistics.mean(null):.3f} | {bootstrap_se(null):.3f} | "
            f"{mean:.3f} | {mean / l:.3f} |")
def table(path, stat_column):
    rows = [l.rstrip("\n").split("\t") for l in open(path)]
    k = rows[0].index(stat_column)
    return {r[2]: float(r[k]) for r in rows[1:] if r[k] != "NA" and float(r[k + 1]) < 1}
print("\n| statistic | λ over null SNPs | mean null statistic | bootstrap SE of λ | mean statistic at causal SNPs | power (mean / λ) |")
print("|---|---:|---:|---:|---:|---:|")
parts = null_and_causal(f"{work}/result_lmm.tsv", causal_ids)
for key, name in (("SS", "SS"), ("T", "T"), ("T1", "T1"), ("LMM", "LMM (--model lmm)"),
                  ("OLS", "ordinary regression (BETA/SE)")):
    print(summary(name, *parts[key]))
a, s = table(f"{work}/result_lmm.tsv", "STAT_LMM"), table(f"{work}/result_lmm_swap.tsv", "STAT_LMM")
moves = [abs(a[k] - s[k]) / (1 + a[k]) for k in a if k in s]
print(f"\nLMM allele swap: largest relative change of the statistic {max(moves):.2e}")
if os.path.exists(f"{work}/output/lmm.assoc.txt"):
    rows = [l.split() for l in open(f"{work}/output/lmm.assoc.txt")]
    rs, p = rows[0].index("rs"), rows[0].index("p_wald")
    gemma = {r[rs]: chi2_of(float(r[p])) for r in rows[1:]}
    print(summary("GEMMA -lmm 1 (GRM, same components)", [v for k, v in gemma.items() if k not in causal_ids],
                  [v for k, v in gemma.items() if k in causal_ids]))
t = open(f"{work}/time_lmm.txt").read().split()
print(f"\nOmbra whole run with --model lmm: {t[0]} s, {int(t[1]) / 1024:.0f} MB peak")
if os.path.exists(f"{work}/time_gemma.txt"):
    k = open(f"{work}/time_gemma_k.txt").read().split()
    g = open(f"{work}/time_gemma.txt").read().split()
    print(f"GEMMA: relationship matrix {k[0]} s ({int(k[1]) / 1024:.0f} MB), -lmm 1 {g[0]} s ({int(g[1]) / 1024:.0f} MB)")
PY
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
