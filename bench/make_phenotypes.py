#!/usr/bin/env python3
"""Quantitative phenotypes for the many-phenotype benchmark.

    make_phenotypes.py OUT COUNT PATTERNS FAM [FAM ...]

Writes OUT, a table "FID IID Q1 .. QCOUNT" over the individuals of the .fam
files (PLINK's or Ombra's own), each value drawn from a normal distribution
with a fixed seed. PATTERNS sets how many missing-value patterns the
phenotypes fall into: the phenotypes are dealt round-robin to the patterns,
pattern 0 has no missing value and pattern k > 0 leaves out every individual
whose position in the table is k modulo 10, so that each pattern is its own
tested sample.
"""
import random
import sys


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    out, count, patterns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    people = []
    for fam in sys.argv[4:]:
        with open(fam) as handle:
            people += [line.split()[:2] for line in handle if line.strip()]
    rng = random.Random(26)
    with open(out, "w") as handle:
        handle.write("FID IID " + " ".join(f"Q{k + 1}" for k in range(count)) + "\n")
        for i, (fid, iid) in enumerate(people):
            values = []
            for k in range(count):
                pattern = k % patterns
                missing = pattern > 0 and i % 10 == pattern
                values.append("NA" if missing else f"{rng.gauss(0, 1):.6f}")
            handle.write(f"{fid} {iid} " + " ".join(values) + "\n")


if __name__ == "__main__":
    main()
