#!/usr/bin/env python3
"""Makes a large PLINK 1 fileset quickly from a smaller one, for resource benchmarks.

    bench/tile_plink.py SOURCE OUT FIRST_COPY COPIES SNPS MODE

Repeats the N individuals of SOURCE.bed/.bim/.fam (N a multiple of 4) COPIES times
over its first SNPS SNPs: every SNP's column is written COPIES times, and copy c of
an individual gets the IDs C<c>_<id>. MODE "unrelated" makes each individual a family
of its own; "sibships" puts every 10 consecutive individuals in one family without
parents in the data. The copies are identical, so the statistics of a run on the
result mean nothing; its time and memory are those of a cohort of that size.
"""
import sys


def main():
    src, out, first_copy, copies, snps, mode = sys.argv[1:7]
    first_copy, copies, snps = int(first_copy), int(copies), int(snps)
    fam = open(src + ".fam").read().splitlines()
    if len(fam) % 4 != 0:
        sys.exit("tile_plink: the source must have a multiple of 4 individuals")
    column = len(fam) // 4
    with open(out + ".fam", "w") as f:
        k = 0
        for c in range(first_copy, first_copy + copies):
            for line in fam:
                w = line.split()
                iid = "C%d_%s" % (c, w[0])
                fid = iid if mode == "unrelated" else "S%d_%d" % (c, k // 10)
                f.write("%s %s 0 0 %s %s\n" % (fid, iid, w[4], w[5]))
                k += 1
    with open(src + ".bim") as b, open(out + ".bim", "w") as o:
        for i, line in enumerate(b):
            if i >= snps:
                break
            o.write(line)
    with open(src + ".bed", "rb") as b, open(out + ".bed", "wb") as o:
        o.write(b.read(3))
        for _ in range(snps):
            o.write(b.read(column) * copies)


if __name__ == "__main__":
    main()
