#!/usr/bin/env python3
"""Write the covariate table of the bundled example data: covariates.txt.

One line per individual of family.ped and unrelated.ped (in that order):
family ID, individual ID, AGE (whole years, 20-79) and BATCH (the genotyping
batch, B1, B2 or B3, a categorical column), under the header
"FID IID AGE BATCH" that --covar reads.

    python3 examples/make_covariates.py [outdir]

Reads the two .ped files beside this script; the values come from a fixed
seed (standard library only), so every run writes the same bytes. The
covariates are simulated apart from the genotypes and the trait.
"""

import os
import random
import sys

SEED = 20261208
BATCHES = ("B1", "B2", "B3")


def ids(path):
    with open(path) as ped:
        for line in ped:
            fields = line.split()
            if fields:
                yield fields[0], fields[1]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else here
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(SEED)
    lines = ["FID IID AGE BATCH"]
    for name in ("family.ped", "unrelated.ped"):
        for fid, iid in ids(os.path.join(here, name)):
            age = 20 + int(rng.random() * 60)
            batch = BATCHES[int(rng.random() * len(BATCHES))]
            lines.append("%s %s %d %s" % (fid, iid, age, batch))
    path = os.path.join(outdir, "covariates.txt")
    with open(path, "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")
    print("%d individuals -> %s" % (len(lines) - 1, path))


if __name__ == "__main__":
    main()
