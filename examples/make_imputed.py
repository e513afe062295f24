#!/usr/bin/env python3
"""Write the example VCF sets as imputed data: dosages of ALT in FORMAT DS.

    python3 examples/make_imputed.py [outdir]

Reads vcf/family.vcf.gz and vcf/unrelated.vcf.gz beside this script and
writes imputed/family.vcf.gz and imputed/unrelated.vcf.gz (bgzip, standard
library only, the same bytes on every run) with their .fam files. Each
SNP is given an imputation quality r from 0.3 to 1 (every fifth SNP keeps
its calls, r = 1); a sample's dosage is r times its call plus (1 - r) times
twice the SNP's ALT frequency, written to three decimals, and a missing call
stays missing. The BGEN copies beside them are made from these files by
PLINK 2 (see README.md in this folder).
"""

import gzip
import os
import random
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_vcf import bgzf  # noqa: E402


def copies(gt):
    if "." in gt:
        return None
    return (gt[0] == "1") + (gt[2] == "1")


def imputed_text(lines, quality):
    out = []
    for line in lines:
        if line.startswith("##"):
            out.append(line)
            continue
        if line.startswith("#CHROM"):
            out.append('##FORMAT=<ID=DS,Number=A,Type=Float,Description="Dosage of ALT">')
            out.append(line)
            continue
        fields = line.split("\t")
        calls = [copies(gt) for gt in fields[9:]]
        r = quality[fields[2]]
        called = [c for c in calls if c is not None]
        mean = sum(called) / len(called) if called else 0.0
        fields[8] = "DS"
        fields[9:] = ["." if c is None else "%.3f" % (r * c + (1 - r) * mean) for c in calls]
        out.append("\t".join(fields))
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = os.path.join(sys.argv[1] if len(sys.argv) > 1 else here, "imputed")
    os.makedirs(outdir, exist_ok=True)
    sets = {}
    for name in ("family", "unrelated"):
        with gzip.open(os.path.join(here, "vcf", name + ".vcf.gz"), "rt") as f:
            sets[name] = f.read().splitlines()
    rng = random.Random(24)
    ids = [line.split("\t")[2] for line in sets["family"] if not line.startswith("#")]
    quality = {snp: 1.0 if k % 5 == 0 else round(rng.uniform(0.3, 1.0), 2) for k, snp in enumerate(ids)}
    for name, lines in sets.items():
        with open(os.path.join(outdir, name + ".vcf.gz"), "wb") as out:
            out.write(bgzf(imputed_text(lines, quality).encode()))
        shutil.copyfile(os.path.join(here, "vcf", name + ".fam"), os.path.join(outdir, name + ".fam"))


if __name__ == "__main__":
    main()
