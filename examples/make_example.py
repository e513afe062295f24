#!/usr/bin/env python3
"""Generate the bundled example data set of Ombra.

Writes a family text set (family.ped, family.map) and an unrelated
case-control text set (unrelated.ped, unrelated.map) over the same SNPs.

    python3 examples/make_example.py [outdir]

The output directory defaults to the folder of this script. The output is
fully determined by the fixed seed below (standard library only).
"""

import math
import os
import random
import sys

SEED = 20261207

N_SNPS = 300
SNPS_PER_CHR = 100          # chromosomes 1, 2, 3
CAUSAL_SNP = 50             # 1-based index of the SNP that affects the trait
DIFFERENTIATED_SNP = 150    # strongly differs between subpopulations, no effect
MONOMORPHIC_SNPS = (120, 240)

N_FAMILIES = 40             # two founders and 1-4 children each
SIBSHIP_SIZES = (2, 3, 2, 3)  # sibships whose parents are not in the file,
                              # plus one family of two half-sibships
N_CASES = 100               # unrelated set: cases and controls
N_CONTROLS = 100

MISSING_GENOTYPE_RATE = 0.01
N_MISSING_TRAIT_FAMILY = 4
N_MISSING_TRAIT_UNRELATED = 5

# Trait model (logistic): baseline, subpopulation 2 effect, per-copy effect
# of the causal SNP's second allele.
INTERCEPT = -2.2
POP_EFFECT = 2.0
SNP_EFFECT = 1.1

LETTERS = "ACGT"


def make_snps(rng):
    """Return a list of SNP dicts: chromosome, name, position, alleles,
    frequency of the second allele in each subpopulation."""
    snps = []
    for i in range(N_SNPS):
        idx = i + 1
        chrom = i // SNPS_PER_CHR + 1
        if i % SNPS_PER_CHR == 0:
            pos = 500000 + int(rng.random() * 500000)
        else:
            pos += 5000 + int(rng.random() * 45000)
        a = int(rng.random() * 4)
        b = (a + 1 + int(rng.random() * 3)) % 4
        base = 0.08 + 0.84 * rng.random()
        delta = (rng.random() - 0.5) * 0.4
        p1 = min(0.97, max(0.03, base + delta))
        p2 = min(0.97, max(0.03, base - delta))
        if idx == CAUSAL_SNP:
            p1, p2 = 0.30, 0.35
        elif idx == DIFFERENTIATED_SNP:
            p1, p2 = 0.10, 0.80
        elif idx in MONOMORPHIC_SNPS:
            p1 = p2 = 0.0
        snps.append({
            "chr": chrom,
            "name": "rs%d" % (1000000 + idx),
            "pos": pos,
            "alleles": (LETTERS[a], LETTERS[b]),
            "freq": (p1, p2),
        })
    return snps


def founder_genotype(rng, snps, pop):
    """Haplotype pairs of a founder drawn from subpopulation pop (0 or 1)."""
    return [(int(rng.random() < s["freq"][pop]),
             int(rng.random() < s["freq"][pop])) for s in snps]


def child_genotype(rng, father, mother):
    """Mendelian transmission: one random allele from each parent."""
    return [(f[int(rng.random() < 0.5)], m[int(rng.random() < 0.5)])
            for f, m in zip(father, mother)]


def affected(rng, pop, geno):
    g = sum(geno[CAUSAL_SNP - 1])
    logit = INTERCEPT + POP_EFFECT * pop + SNP_EFFECT * g
    return rng.random() < 1.0 / (1.0 + math.exp(-logit))


def person(fid, iid, father, mother, sex, pop, geno, trait):
    return {"fid": fid, "iid": iid, "father": father, "mother": mother,
            "sex": sex, "pop": pop, "geno": geno, "trait": trait}


def make_families(rng, snps):
    people = []
    for f in range(1, N_FAMILIES + 1):
        fid = "FAM%02d" % f
        pop = (f - 1) % 2
        base = f * 100
        dad = founder_genotype(rng, snps, pop)
        mum = founder_genotype(rng, snps, pop)
        members = [
            person(fid, str(base + 1), "0", "0", 1, pop, dad, None),
            person(fid, str(base + 2), "0", "0", 2, pop, mum, None),
        ]
        for c in range(1 + int(rng.random() * 4)):
            members.append(person(fid, str(base + 3 + c), str(base + 1),
                                  str(base + 2), 1 + int(rng.random() * 2),
                                  pop, child_genotype(rng, dad, mum), None))
        people.extend(members)

    # Sibships whose parents are absent from the file. Their parent IDs are
    # non-zero numbers, so they are not mistaken for founders' "0" parents.
    # The last family holds two half-sibships sharing one absent father.
    n = len(SIBSHIP_SIZES)
    for s in range(1, n + 2):
        fid = "SIB%02d" % s
        pop = (s - 1) % 2
        base = (N_FAMILIES + s) * 100
        father_id = str(base + 91)
        dad = founder_genotype(rng, snps, pop)
        if s <= n:
            groups = [(str(base + 92), SIBSHIP_SIZES[s - 1])]
        else:
            groups = [(str(base + 92), 2), (str(base + 93), 2)]
        child = 1
        for mother_id, size in groups:
            mum = founder_genotype(rng, snps, pop)
            for _ in range(size):
                people.append(person(fid, str(base + child), father_id,
                                     mother_id, 1 + int(rng.random() * 2),
                                     pop, child_genotype(rng, dad, mum), None))
                child += 1

    for p in people:
        p["trait"] = "2" if affected(rng, p["pop"], p["geno"]) else "1"
    return people


def make_unrelated(rng, snps):
    """Case-control sampling: draw individuals until both groups are full."""
    people = []
    cases = controls = 0
    while cases < N_CASES or controls < N_CONTROLS:
        pop = int(rng.random() < 0.5)
        geno = founder_genotype(rng, snps, pop)
        aff = affected(rng, pop, geno)
        if aff and cases < N_CASES:
            cases += 1
        elif not aff and controls < N_CONTROLS:
            controls += 1
        else:
            continue
        uid = "U%03d" % (len(people) + 1)
        people.append(person(uid, uid, "0", "0", 1 + int(rng.random() * 2),
                             pop, geno, "2" if aff else "1"))
    return people


def blank_traits(rng, people, count):
    chosen = set()
    while len(chosen) < count:
        chosen.add(int(rng.random() * len(people)))
    for i in sorted(chosen):
        people[i]["trait"] = "0"


def write_ped(path, rng, snps, people):
    with open(path, "w", newline="\n") as out:
        for p in people:
            fields = [p["fid"], p["iid"], p["father"], p["mother"],
                      str(p["sex"]), p["trait"]]
            for s, (h1, h2) in zip(snps, p["geno"]):
                if rng.random() < MISSING_GENOTYPE_RATE:
                    fields.append("0 0")
                else:
                    fields.append(s["alleles"][h1] + " " + s["alleles"][h2])
            out.write(" ".join(fields) + "\n")


def write_map(path, snps):
    with open(path, "w", newline="\n") as out:
        for s in snps:
            out.write("%d\t%s\t0\t%d\n" % (s["chr"], s["name"], s["pos"]))


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else \
        os.path.dirname(os.path.abspath(__file__))
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(SEED)

    snps = make_snps(rng)
    family = make_families(rng, snps)
    unrelated = make_unrelated(rng, snps)
    blank_traits(rng, family, N_MISSING_TRAIT_FAMILY)
    blank_traits(rng, unrelated, N_MISSING_TRAIT_UNRELATED)

    write_map(os.path.join(outdir, "family.map"), snps)
    write_map(os.path.join(outdir, "unrelated.map"), snps)
    write_ped(os.path.join(outdir, "family.ped"), rng, snps, family)
    write_ped(os.path.join(outdir, "unrelated.ped"), rng, snps, unrelated)

    print("%d family members, %d unrelated individuals, %d SNPs -> %s"
          % (len(family), len(unrelated), len(snps), outdir))


if __name__ == "__main__":
    main()
