#!/usr/bin/env python3
"""Write the example text sets as VCF data sets for Ombra's --vf / --vi.

    python3 examples/make_vcf.py [outdir]

Reads family.ped/.map and unrelated.ped beside this script and writes
vcf/family.vcf.gz + vcf/family.fam and vcf/unrelated.vcf.gz +
vcf/unrelated.fam (bgzip, standard library only; the output is the same
byte for byte on every run).

REF and ALT are each SNP's first and second allele in the order Ombra's text
reader discovers them (family file first), so that a VCF run writes the text
run's result. An allele the text never shows (a monomorphic SNP) becomes the
first of A, C, G, T that is not REF. Family samples are named FID_IID,
unrelated ones by their individual ID: the two ways Ombra matches a VCF
sample to its .fam.
"""

import os
import struct
import sys
import zlib

MISSING = "0"


def read_ped(path):
    with open(path) as f:
        return [line.split() for line in f if line.strip()]


def read_map(path):
    with open(path) as f:
        return [line.split() for line in f if line.strip()]


def allele_order(people_sets, snp_count):
    order = [[] for _ in range(snp_count)]
    for people in people_sets:
        for fields in people:
            for s in range(snp_count):
                for allele in fields[6 + 2 * s:8 + 2 * s]:
                    if allele != MISSING and allele not in order[s]:
                        order[s].append(allele)
    for alleles in order:
        if len(alleles) == 1:
            alleles.append(next(b for b in "ACGT" if b != alleles[0]))
    return order


def vcf_text(people, snps, order, sample_name):
    lines = ["##fileformat=VCFv4.2",
             '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">']
    for chrom in sorted({s[0] for s in snps}, key=int):
        lines.append("##contig=<ID=%s>" % chrom)
    header = ["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
              "FORMAT"]
    lines.append("\t".join(header + [sample_name(p) for p in people]))
    for s, (chrom, name, _, pos) in enumerate(snps):
        ref, alt = order[s]
        calls = []
        for fields in people:
            a, b = fields[6 + 2 * s], fields[7 + 2 * s]
            if a == MISSING:
                calls.append("./.")
            else:
                calls.append("%d/%d" % (a == alt, b == alt))
        lines.append("\t".join([chrom, pos, name, ref, alt, ".", ".", ".",
                                "GT"] + calls))
    return ("\n".join(lines) + "\n").encode()


def bgzf(data):
    """BGZF: gzip members of at most 65280 input bytes, each naming its size
    in the BC extra field, and the empty end-of-file member."""
    out = bytearray()
    for start in range(0, len(data), 0xFF00):
        chunk = data[start:start + 0xFF00]
        packer = zlib.compressobj(6, zlib.DEFLATED, -15)
        body = packer.compress(chunk) + packer.flush()
        out += struct.pack("<4BIBBHBBHH", 31, 139, 8, 4, 0, 0, 255, 6, 66, 67,
                           2, len(body) + 25)
        out += body
        out += struct.pack("<II", zlib.crc32(chunk) & 0xFFFFFFFF, len(chunk))
    out += bytes.fromhex("1f8b08040000000000ff0600424302001b0003000000000000000000")
    return bytes(out)


def write_set(outdir, name, people, snps, order, sample_name):
    with open(os.path.join(outdir, name + ".vcf.gz"), "wb") as out:
        out.write(bgzf(vcf_text(people, snps, order, sample_name)))
    with open(os.path.join(outdir, name + ".fam"), "w", newline="\n") as out:
        for fields in people:
            out.write(" ".join(fields[:6]) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "vcf")
    os.makedirs(outdir, exist_ok=True)
    family = read_ped(os.path.join(here, "family.ped"))
    unrelated = read_ped(os.path.join(here, "unrelated.ped"))
    snps = read_map(os.path.join(here, "family.map"))
    order = allele_order([family, unrelated], len(snps))
    write_set(outdir, "family", family, snps, order, lambda p: p[0] + "_" + p[1])
    write_set(outdir, "unrelated", unrelated, snps, order, lambda p: p[1])
    print("%d + %d samples, %d SNPs -> %s"
          % (len(family), len(unrelated), len(snps), outdir))


if __name__ == "__main__":
    main()
