#!/usr/bin/env python3
"""One large pedigree (a founder population) as a PLINK text set, for the
mixed model's benchmark: `make_pedigree.py MEMBERS SNPS OUTPREFIX [SEED]
[UNRELATED]`, and UNRELATED unrelated individuals beside it in
OUTPREFIX_unrelated.ped/.map (the statistics need more than one family).

A fifth of the members are founders; the others are born generation by
generation to a random father and mother among the members born before
them, every SNP transmitted apart (free recombination). Allele frequencies
are drawn from 0.05 to 0.5. The trait is the sum of 20 SNPs' genotypes
(scaled) plus normal noise, so h2 is well inside (0, 1). Standard library
only; the same bytes for the same arguments.
"""
import random
import sys


def main():
    members, snps, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    founders = max(2, members // 5)
    freqs = [rng.uniform(0.05, 0.5) for _ in range(snps)]

    def founder_haplotype():
        bits = 0
        for s, f in enumerate(freqs):
            if rng.random() < f:
                bits |= 1 << s
        return bits

    def transmitted(a, b):
        mask = rng.getrandbits(snps)
        return (a & mask) | (b & ~mask)

    haplotypes, sexes, parents = [], [], []
    for i in range(members):
        if i < founders:
            haplotypes.append((founder_haplotype(), founder_haplotype()))
            sexes.append(1 + i % 2)
            parents.append((0, 0))
            continue
        males = [k for k in range(i) if sexes[k] == 1]
        females = [k for k in range(i) if sexes[k] == 2]
        father, mother = rng.choice(males), rng.choice(females)
        haplotypes.append((transmitted(*haplotypes[father]), transmitted(*haplotypes[mother])))
        sexes.append(rng.choice((1, 2)))
        parents.append((father + 1, mother + 1))

    unrelated = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    extra = [(founder_haplotype(), founder_haplotype()) for _ in range(unrelated)]
    causal = rng.sample(range(snps), 20)
    codes = {("0", "0"): "A A", ("0", "1"): "A C", ("1", "0"): "A C", ("1", "1"): "C C"}
    write(out, snps, haplotypes, parents, sexes, causal, codes, rng, "P1")
    if unrelated:
        write(out + "_unrelated", snps, extra, [(0, 0)] * unrelated, [1 + i % 2 for i in range(unrelated)], causal,
              codes, rng, None)


def write(out, snps, haplotypes, parents, sexes, causal, codes, rng, family):
    with open(out + ".map", "w") as f:
        for s in range(snps):
            f.write("1\trs%d\t0\t%d\n" % (s + 1, 1000 * (s + 1)))
    with open(out + ".ped", "w") as f:
        for i, (a, b) in enumerate(haplotypes):
            one = format(a, "0%db" % snps)[::-1]
            two = format(b, "0%db" % snps)[::-1]
            score = sum(int(one[s]) + int(two[s]) for s in causal) / 4.0
            trait = score + rng.gauss(0, 1)
            father, mother = parents[i]
            genotypes = " ".join(codes[pair] for pair in zip(one, two))
            fid = family or "U%d" % (i + 1)
            f.write("%s %d %d %d %d %.4f %s\n" % (fid, i + 1, father, mother, sexes[i], trait, genotypes))


if __name__ == "__main__":
    main()
