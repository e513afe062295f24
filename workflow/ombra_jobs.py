"""The jobs of Ombra's split-and-merge workflow, run by the Snakefile's shell commands.

    python3 ombra_jobs.py plan MARKERS chromosome|N FOLDER   cut the map into chunks
    python3 ombra_jobs.py run -- OMBRA-WORDS...               one Ombra run (the components)
    python3 ombra_jobs.py chunk PCA RESULT -- OMBRA-WORDS...  the test on one chunk
    python3 ombra_jobs.py merge PLAN CHUNKS fixed|tsv RESULT [PHENOTYPE]
                                                              the chunks' results (of one phenotype) in map order

Every chunk is a run of consecutive SNPs of the map on one chromosome, so that
joining the chunks in plan order gives the lines in the order a single run
writes them. A failing job prints why on standard error and exits with 1.
"""

import gzip
import mmap
import os
import re
import shlex
import shutil
import sqlite3
import struct
import subprocess
import sys
import urllib.parse
from dataclasses import dataclass
from typing import List, Optional, Tuple

EMPTY_CHUNK_MESSAGE = "No snp is left after"
# Names in the plan's files are written back byte for byte, whatever their encoding.
PLAN_TEXT = {"encoding": "utf-8", "errors": "surrogateescape"}


class JobError(Exception):
    """A job that cannot be done, with the reason."""


def split_fields(line: str) -> List[str]:
    """Fields separated by runs of tabs and blanks, as Ombra splits map and .bim lines."""
    return [field for field in re.split(r"[ \t]+", line.rstrip("\r\n")) if field]


def chromosome_code(name: str) -> int:
    """The code Ombra's --chr matches a chromosome by (1-22, X 23, Y 24, XY 25, MT 26), or -1 for other names."""
    if len(name) > 3 and name[:3] in ("chr", "CHR"):
        name = name[3:]
    codes = {"X": 23, "Y": 24, "XY": 25, "MT": 26, "M": 26}
    if name in codes:
        return codes[name]
    if not 1 <= len(name) <= 2 or not name.isascii() or not name.isdigit():
        return -1
    return int(name)


def _vcf_markers(path: str) -> List[Tuple[str, str]]:
    query = ["bcftools", "query", "-f", "%CHROM\t%ID\t%POS\t%REF\t%ALT\n", path]
    listing = subprocess.run(query, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if listing.returncode != 0:
        raise JobError(f"bcftools could not list the SNPs of {path}: {listing.stderr.strip()}")
    markers = []
    for line in listing.stdout.splitlines():
        chrom, snp, pos, ref, alt = line.split("\t")
        markers.append((chrom, snp if snp != "." else f"{chrom}:{pos}:{ref}:{alt}"))
    return markers


@dataclass
class BgenHeader:
    first_variant: int   # byte of the first variant's record
    variants: int        # records the header states
    samples: int
    layout: int          # 1 (BGEN 1.1) or 2 (1.2, 1.3)
    compressed: bool
    named_samples: bool  # a sample identifier block follows the header


def _bgen_header(data, size: int, path: str) -> BgenHeader:
    """The header of a BGEN file's bytes, refused as Ombra's reader refuses it."""
    if size < 24:
        raise JobError(f"The file {path} is too short to be a BGEN file.")
    offset, length, variants, samples = struct.unpack_from("<4I", data, 0)
    if bytes(data[16:20]) not in (b"bgen", b"\0\0\0\0"):
        raise JobError(f"The file {path} is not a BGEN file: its header lacks the magic bytes \"bgen\".")
    if length < 20 or length > offset or offset + 4 > size:
        raise JobError(f"The BGEN file {path} states a header of {length} bytes and its first variant at byte "
                       f"{offset + 4}, which do not fit in its {size} bytes.")
    (flags,) = struct.unpack_from("<I", data, length)
    compression, layout = flags & 3, (flags >> 2) & 15
    if compression == 3 or layout not in (1, 2) or (layout == 1 and compression == 2):
        raise JobError(f"The BGEN file {path} has header flags {flags}, which are not those of BGEN 1.1, 1.2 or 1.3.")
    return BgenHeader(offset + 4, variants, samples, layout, compression != 0, bool(flags >> 31))


def bgen_header(path: str) -> BgenHeader:
    """The header of the BGEN file `path`; JobError when it is not one."""
    with _mapped(path) as data:
        return _bgen_header(data, len(data), path)


class _mapped:
    """A file's bytes, mapped read-only for as long as the block runs (a BGEN file may be far larger than
    memory; only the pages of the identifying data are touched)."""

    def __init__(self, path: str):
        self.path = path

    def __enter__(self):
        with open(self.path, "rb") as file:
            if os.fstat(file.fileno()).st_size < 24:
                raise JobError(f"The file {self.path} is too short to be a BGEN file.")
            self.data = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
        return self.data

    def __exit__(self, *_):
        self.data.close()


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", "surrogateescape")


def _bgen_name(rsid: str, snp_id: str, chrom: str, position: int, allele1: str, allele2: str) -> str:
    """The SNP's name as Ombra gives it: the rsid, else the SNP ID, else CHR:POS:A1:A2 (a "." allele,
    PLINK 2's missing allele, left empty)."""
    if rsid and rsid != ".":
        return rsid
    if snp_id and snp_id != ".":
        return snp_id
    return f"{chrom}:{position}:{'' if allele1 == '.' else allele1}:{'' if allele2 == '.' else allele2}"


_RELEASE_BYTES = 8 << 20


def _bgen_records(data, header: BgenHeader, path: str) -> List[Tuple[str, str]]:
    """(chromosome, name) of the file's records with two alleles, read from their identifying data; each
    genotype block is stepped over by its stated length, never inflated."""
    size = len(data)
    u16 = struct.Struct("<H").unpack_from
    u32 = struct.Struct("<I").unpack_from
    plain_layout1 = 6 * header.samples if header.layout == 1 and not header.compressed else None
    markers = []
    at = header.first_variant
    released = 0  # the mapping's pages before this byte are given back
    for number in range(1, header.variants + 1):
        start = at
        if start - released > _RELEASE_BYTES:
            # The pages passed over would otherwise stay in the process's memory to the end: as much as the file.
            upto = start - start % mmap.PAGESIZE
            data.madvise(mmap.MADV_DONTNEED, released, upto - released)
            released = upto
        try:
            if header.layout == 1:
                at += 4  # the sample count
            fields = []
            for _ in range(3):  # SNP ID, rsid, chromosome
                length = u16(data, at)[0]
                fields.append(data[at + 2:at + 2 + length])
                at += 2 + length
            position = u32(data, at)[0]
            at += 4
            alleles = 2
            if header.layout == 2:
                alleles = u16(data, at)[0]
                at += 2
            first_two = []
            for k in range(alleles):
                length = u32(data, at)[0]
                if k < 2:
                    first_two.append(data[at + 4:at + 4 + length])
                at += 4 + length
            at += 4 + u32(data, at)[0] if plain_layout1 is None else plain_layout1
        except struct.error:
            at = size + 1
        # Every step moves forward, so a field or block running past the end leaves `at` there.
        if at > size:
            raise JobError(f"The BGEN file {path} ends inside its variant {number} (at byte {start}): it is "
                           "truncated.")
        if alleles == 2:
            snp_id, rsid, chrom = (_text(field) for field in fields)
            allele1, allele2 = (_text(allele) for allele in first_two)
            markers.append((chrom, _bgen_name(rsid, snp_id, chrom, position, allele1, allele2)))
    return markers


def _record_id(data, header: BgenHeader, offset: int, index: str, path: str) -> str:
    """The SNP ID of the record at `offset`, for an index row without an rsid."""
    at = offset + (4 if header.layout == 1 else 0)
    try:
        if offset < header.first_variant:
            raise struct.error
        length = struct.unpack_from("<H", data, at)[0]
        if at + 2 + length > len(data):
            raise struct.error
    except struct.error:
        raise JobError(f"The index {index} places a variant at byte {offset}, outside the variants of {path}; make "
                       "the index again with bgenix.")
    return _text(data[at + 2:at + 2 + length])


def _bgen_indexed_records(data, header: BgenHeader, index: str, path: str) -> List[Tuple[str, str]]:
    """(chromosome, name) of the records with two alleles that bgenix's index lists, in file order: those
    a chunk's run finds through the index."""
    try:
        database = sqlite3.connect(f"file:{urllib.parse.quote(index)}?mode=ro", uri=True)
    except sqlite3.Error as error:
        raise JobError(f"The file {index} cannot be read as a bgenix index ({error}).")
    database.text_factory = _text
    try:
        tables = {row[0] for row in database.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
        if "Metadata" in tables:
            for (stated,) in database.execute("SELECT file_size FROM Metadata"):
                if stated != len(data):
                    raise JobError(f"The index {index} was made from a file of {stated} bytes, but its BGEN file "
                                   f"has {len(data)} bytes; make the index again with bgenix.")
        markers = []
        for chrom, position, rsid, allele1, allele2, offset in database.execute(
                "SELECT chromosome, position, rsid, allele1, allele2, file_start_position FROM Variant "
                "WHERE number_of_alleles = 2 ORDER BY file_start_position"):
            snp_id = "" if rsid and rsid != "." else _record_id(data, header, offset, index, path)
            markers.append((chrom, _bgen_name(rsid, snp_id, chrom, position, allele1 or "", allele2 or "")))
        return markers
    except sqlite3.Error as error:
        raise JobError(f"The file {index} cannot be read as a bgenix index ({error}).")
    finally:
        database.close()


def _bgen_markers(path: str) -> List[Tuple[str, str]]:
    """The SNPs Ombra reads from a BGEN file: through bgenix's index when the file has one (as a chunk's
    run reads them), else from the file's records."""
    with _mapped(path) as data:
        header = _bgen_header(data, len(data), path)
        if os.path.isfile(path + ".bgi"):
            return _bgen_indexed_records(data, header, path + ".bgi", path)
        return _bgen_records(data, header, path)


def bgen_indexed(path: str) -> bool:
    """Whether a chunk's run reads this file through bgenix's index: Ombra then finds a chromosome by the
    name the file writes, not by its code."""
    return path.endswith(".bgen") and os.path.isfile(path + ".bgi")


def read_markers(path: str) -> List[Tuple[str, str]]:
    """(chromosome, SNP name) of every SNP of the map, .bim, VCF or BGEN, in file order, named as Ombra names
    them. A VCF's records that Ombra skips are listed too: a chunk of only such records has no result lines;
    a BGEN file's records of other than two alleles, which Ombra skips, are not."""
    if path.endswith((".bcf", ".vcf", ".vcf.gz")):
        return _vcf_markers(path)
    if path.endswith(".bgen"):
        return _bgen_markers(path)
    opener = gzip.open if path.endswith(".gz") else open
    markers = []
    with opener(path, "rt", newline="") as lines:
        for number, line in enumerate(lines, 1):
            fields = split_fields(line)
            if len(fields) == 1:
                raise JobError(f"Line {number} of {path} has no SNP name.")
            if fields:
                markers.append((fields[0], fields[1]))
    return markers


_BLANK = re.compile(r"\s")


@dataclass
class Chunk:
    chromosome: str  # as --chr names it
    snps: List[str]


def _check_chr_name(name: str, path: str):
    if "," in name or "-" in name[1:]:
        raise JobError(f"The chromosome {name} of {path} cannot be named in --chr (a comma or a dash would be "
                       "read as a list or a range).")
    if not name or any(char.isspace() for char in name):
        raise JobError(f"The chromosome name {name!r} of {path} cannot be named in --chr (it is empty or holds "
                       "a blank).")


def _chromosome_runs(markers: List[Tuple[str, str]], path: str) -> List[Chunk]:
    """The map cut where the chromosome changes, chromosomes compared as --chr compares them (chr1, 01 and 1
    are one, through a BGEN index too); a chromosome may be only one of these runs."""
    runs: List[Chunk] = []
    keys: list = []
    first_snp = {}
    for number, (chrom, snp) in enumerate(markers, 1):
        code = chromosome_code(chrom)
        key = code if code >= 0 else chrom
        if keys and keys[-1] == key:
            runs[-1].snps.append(snp)
            continue
        if key in first_snp:
            raise JobError(f"The SNPs of chromosome {chrom} are not together in {path} (SNPs {first_snp[key]} "
                           f"and {number}): results per chromosome could not be joined in map order.")
        _check_chr_name(chrom, path)
        first_snp[key] = number
        keys.append(key)
        runs.append(Chunk(chrom, [snp]))
    return runs


def _cut(run: Chunk, size: int) -> List[Chunk]:
    pieces = [Chunk(run.chromosome, run.snps[i:i + size]) for i in range(0, len(run.snps), size)]
    piece_of = {}
    for index, piece in enumerate(pieces):
        for snp in piece.snps:
            if _BLANK.search(snp):
                raise JobError(f"The SNP name {snp!r} on chromosome {run.chromosome} holds a blank, which "
                               "--extract would read as two names: give chunks: chromosome.")
            if piece_of.setdefault(snp, index) != index:
                raise JobError(f"The SNP name {snp} appears twice on chromosome {run.chromosome}, in two chunks, "
                               "which --extract cannot tell apart: give chunks: chromosome or a larger number.")
    return pieces


def plan_chunks(markers: List[Tuple[str, str]], chunk_size: Optional[int], path: str) -> List[Chunk]:
    runs = _chromosome_runs(markers, path)
    if chunk_size is None:
        return runs
    return [piece for run in runs for piece in _cut(run, chunk_size)]


def write_plan(marker_file: str, chunk_size: Optional[int], folder: str):
    """The chunks as FOLDER/chunks.tsv (name, chromosome, SNP count) and, for chunks of N SNPs, the SNP names
    of each as FOLDER/NAME.snps (for --extract)."""
    chunks = plan_chunks(read_markers(marker_file), chunk_size, marker_file)
    if not chunks:
        raise JobError(f"{marker_file} lists no SNP.")
    os.makedirs(folder, exist_ok=True)
    digits = max(5, len(str(len(chunks))))
    with open(os.path.join(folder, "chunks.tsv"), "w", **PLAN_TEXT) as table:
        for index, chunk in enumerate(chunks, 1):
            name = f"{index:0{digits}d}"
            table.write(f"{name}\t{chunk.chromosome}\t{len(chunk.snps)}\n")
            if chunk_size is not None:
                with open(os.path.join(folder, name + ".snps"), "w", **PLAN_TEXT) as names:
                    names.write("".join(snp + "\n" for snp in chunk.snps))


def read_plan(folder: str) -> List[Tuple[str, str]]:
    """(name, chromosome) of every chunk, in map order."""
    with open(os.path.join(folder, "chunks.tsv"), **PLAN_TEXT) as table:
        return [tuple(line.rstrip("\n").split("\t")[:2]) for line in table if line.strip()]


def components_in(pca_file: str) -> int:
    """The number of component scores per individual of a PCA file; --op saves fewer than --p asks for when
    fewer exist, and --rp must then ask for those."""
    with open(pca_file) as lines:
        for line in lines:
            fields = split_fields(line)
            if fields:
                return len(fields) - 4
    return 0


def _run(words: List[str]) -> subprocess.CompletedProcess:
    return subprocess.run(words, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def _failed(words: List[str], run: subprocess.CompletedProcess) -> JobError:
    return JobError(f"{shlex.join(words)}\nended with status {run.returncode}:\n{run.stdout}")


def run_ombra(words: List[str]):
    run = _run(words)
    if run.returncode != 0:
        raise _failed(words, run)


def phenotype_result(path: str, phenotype: Optional[str]) -> str:
    """The result file of one phenotype of a run writing `path`: Ombra puts the phenotype's name before the
    extension (result.txt, result.LDL.txt) when a run tests several."""
    if not phenotype:
        return path
    folder, name = os.path.split(path)
    stem, extension = os.path.splitext(name)
    if not stem:
        stem, extension = name, ""
    return os.path.join(folder, f"{stem}.{phenotype}{extension}")


def tested_phenotypes(words: List[str]) -> List[str]:
    """The phenotypes of a run that writes a result per phenotype (the names of its --pheno-name, which the
    workflow gives resolved), else []."""
    if "--pheno-name" not in words[:-1]:
        return []
    names = words[words.index("--pheno-name") + 1].split(",")
    return names if len(names) > 1 else []


def run_chunk(pca_file: str, result: str, words: List[str]):
    """The test on one chunk with the saved components. When the filters (or --exclude) leave none of the
    chunk's SNPs, a single run has none of its lines either, and its result is empty. A phenotype the run
    skips (no value or one value among its tested individuals) has no result, and stops the workflow."""
    words = words + ["--p", str(components_in(pca_file)), "--rp", pca_file, "--out", result]
    results = [phenotype_result(result, name) for name in tested_phenotypes(words)] or [result]
    run = _run(words)
    if run.returncode == 1 and run.stdout.rstrip("\n").split("\n")[-1].startswith(EMPTY_CHUNK_MESSAGE):
        for path in results:
            open(path, "w").close()
    elif run.returncode != 0:
        raise _failed(words, run)
    for name in tested_phenotypes(words):
        if not os.path.exists(phenotype_result(result, name)):
            skipped = [line for line in run.stdout.split("\n") if line.startswith(f"The phenotype {name} is skipped")]
            raise JobError(f"{shlex.join(words)}\nwrote no result for the phenotype {name}: "
                           f"{skipped[0] if skipped else 'see its log'}\nLeave it out of the key phenotypes.")


def merge_results(parts: List[str], tsv: bool, target: str):
    """The chunks' result lines in order, with the table's header line once; written whole or not at all."""
    partial = target + ".partial"
    header = None
    lines_written = False
    try:
        with open(partial, "wb") as out:
            for part in parts:
                with open(part, "rb") as chunk:
                    first = chunk.readline() if tsv else b""
                    if header is not None and first and first != header:
                        raise JobError(f"The header line of {part} differs from that of the chunks before.")
                    if header is None and first:
                        header = first
                        out.write(first)
                    before = out.tell()
                    shutil.copyfileobj(chunk, out, 1 << 20)
                    lines_written = lines_written or out.tell() > before
        if not lines_written:
            raise JobError("No chunk has a SNP left after the selections and filters.")
        os.replace(partial, target)
    finally:
        if os.path.exists(partial):
            os.remove(partial)


def _ombra_words(args: List[str]) -> List[str]:
    if "--" not in args:
        raise JobError("The Ombra command follows --.")
    return args[args.index("--") + 1:]


def main(args: List[str]) -> int:
    try:
        job = args[0] if args else ""
        if job == "plan" and len(args) == 4:
            write_plan(args[1], None if args[2] == "chromosome" else int(args[2]), args[3])
        elif job == "run":
            run_ombra(_ombra_words(args))
        elif job == "chunk" and len(args) >= 4:
            run_chunk(args[1], args[2], _ombra_words(args))
        elif job == "merge" and len(args) in (5, 6):
            phenotype = args[5] if len(args) == 6 else None
            chunks = [phenotype_result(os.path.join(args[2], name + ".txt"), phenotype) for name, _ in read_plan(args[1])]
            merge_results(chunks, args[3] == "tsv", args[4])
        else:
            raise JobError("Usage:\n" + __doc__.split("\n\n")[1])
    except (JobError, OSError) as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
