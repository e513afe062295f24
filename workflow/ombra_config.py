"""The configuration of Ombra's split-and-merge workflow, checked before any job runs.

`Settings.from_config` refuses a configuration that names a missing file, an
unknown format or key, a value out of its range, or an Ombra option that a
chunked run would change (see REFUSED_OPTIONS); the Snakefile builds its
commands from the Settings.
"""

import os
import re
import shlex
import shutil
from dataclasses import dataclass
from typing import List, Optional

from ombra_jobs import JobError, bgen_header, bgen_indexed, split_fields


class ConfigurationError(Exception):
    """A configuration the workflow refuses, with the reason."""


KEYS = ("family", "unrelated", "format", "pcs", "chunks", "out", "extra", "ombra", "threads", "phenotypes")
FORMATS = ("text", "bed", "plink", "vcf", "bgen")
INPUT_OPTIONS = {"text": ("--f", "--i"), "bed": ("--bf", "--bi"), "plink": ("--bf", "--bi"), "vcf": ("--vf", "--vi"),
                 "bgen": ("--gf", "--gi")}

# Options of `extra` that mean the same in every chunk as in a single run,
# and those of them that name an input file.
PASSED_OPTIONS = ("--mg", "--mt", "--snp-list-pca", "--pca-method", "--out-format", "--adjustment", "--covar",
                  "--covar-name", "--pheno", "--pheno-name", "--keep", "--remove", "--exclude", "--geno", "--hwe",
                  "--maf", "--minfo", "--vcf-dosage", "--model", "--lmm-h2")
FILE_OPTIONS = ("--snp-list-pca", "--covar", "--pheno", "--keep", "--remove", "--exclude")

_SELECTION = "choose the SNPs, which the workflow does chunk by chunk; leave SNPs out with --exclude"
_DATA = "name the data, which the keys family, unrelated and format give"
_RECODING = "write data sets, not test results"
REFUSED_OPTIONS = {
    "--mind": "filters individuals on their missing genotypes over the SNPs of a run, so every chunk would "
              "leave out different individuals",
    "--chr": _SELECTION, "--from-bp": _SELECTION, "--to-bp": _SELECTION, "--extract": _SELECTION,
    "--plot": "draws the SNPs of one run, which would be one chunk",
    "--plot-stat": "draws the SNPs of one run, which would be one chunk",
    "--write-kinship": "writes the pedigrees' kinship, the same for every chunk; write it with one Ombra run",
    "--threads": "is the key threads, which also tells the scheduler",
    "--memory": "is the job's resource mem_mb, which also tells the scheduler",
    "--p": "is the key pcs",
    "--op": "is the workflow's own (the components are computed once)",
    "--rp": "is the workflow's own (the components are computed once)",
    "--out": "is the workflow's own (the merged result is in the folder of the key out)",
    "--f": _DATA, "--i": _DATA, "--bf": _DATA, "--bi": _DATA, "--vf": _DATA, "--vi": _DATA, "--gf": _DATA,
    "--gi": _DATA,
    "--recode": _RECODING, "--make-bed": _RECODING, "--make-plink-bed": _RECODING, "--additive": _RECODING,
    "--help": "ends the run", "-h": "ends the run", "--version": "ends the run",
}

PLINK_MAGIC = b"\x6c\x1b\x01"


def _whole_number(value) -> Optional[int]:
    """The value as an int when it is a whole number, 0 or more, else None."""
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return value if value >= 0 else None
    if isinstance(value, str) and re.fullmatch(r"[0-9]+", value.strip()):
        return int(value)
    return None


def _first_existing(paths) -> Optional[str]:
    return next((path for path in paths if os.path.isfile(path)), None)


@dataclass
class DataSet:
    role: str          # "family" or "unrelated"
    prefix: str
    markers: Optional[str]  # the file Ombra takes this set's SNPs from, if any
    files: List[str]        # every file the set is read from


def _text_set(role: str, prefix: str) -> DataSet:
    ped = _first_existing([prefix + ".ped", prefix + ".ped.gz"])
    if ped is None:
        raise ConfigurationError(f"The {role} data set has neither {prefix}.ped nor {prefix}.ped.gz.")
    markers = _first_existing([prefix + ".map", prefix + ".map.gz"])
    return DataSet(role, prefix, markers, [ped] + ([markers] if markers else []))


def _binary_set(role: str, prefix: str, fmt: str) -> DataSet:
    files = [prefix + extension for extension in (".bed", ".bim", ".fam")]
    for path in files:
        if not os.path.isfile(path):
            raise ConfigurationError(f"The {role} data set's file {path} does not exist.")
    with open(files[0], "rb") as bed:
        plink = bed.read(3) == PLINK_MAGIC
    with open(files[1]) as bim:
        first = split_fields(bim.readline())
    plink = plink and len(first) == 6
    if fmt == "plink" and not plink:
        raise ConfigurationError(f"The {role} data set {prefix} is not a PLINK 1 fileset (six-column .bim and a "
                                 ".bed starting with the bytes 6c 1b 01); Ombra's own binary sets are format: bed.")
    if fmt == "bed" and plink:
        raise ConfigurationError(f"The {role} data set {prefix} is a PLINK 1 fileset: give format: plink.")
    return DataSet(role, prefix, files[1], files)


def _vcf_set(role: str, prefix: str) -> DataSet:
    genotypes = _first_existing([prefix + ".bcf", prefix + ".vcf.gz", prefix + ".vcf"])
    if genotypes is None:
        raise ConfigurationError(f"The {role} data set has none of {prefix}.bcf, {prefix}.vcf.gz, {prefix}.vcf.")
    if not os.path.isfile(prefix + ".fam"):
        raise ConfigurationError(f"The {role} data set's file {prefix}.fam does not exist.")
    return DataSet(role, prefix, genotypes, [genotypes, prefix + ".fam"])


def _bgen_set(role: str, prefix: str) -> DataSet:
    """PREFIX.bgen with PREFIX.fam; PREFIX.sample and bgenix's PREFIX.bgen.bgi when present, as Ombra reads
    them. The header is checked here, so that a file of another kind stops the workflow before any job."""
    bgen, fam, sample, index = prefix + ".bgen", prefix + ".fam", prefix + ".sample", prefix + ".bgen.bgi"
    for path in (bgen, fam):
        if not os.path.isfile(path):
            raise ConfigurationError(f"The {role} data set's file {path} does not exist.")
    try:
        header = bgen_header(bgen)
    except (JobError, OSError) as error:
        raise ConfigurationError(f"The {role} data set: {error}")
    has_sample = os.path.isfile(sample)
    if not header.named_samples and header.samples > 0 and not has_sample:
        raise ConfigurationError(f"The {role} data set's file {bgen} does not name its samples, and {sample} does "
                                 "not exist.")
    optional = [path for path in (sample, index) if os.path.isfile(path)]
    return DataSet(role, prefix, bgen, [bgen, fam] + optional)


def _data_set(role: str, prefix, fmt: str) -> DataSet:
    if not isinstance(prefix, str) or not prefix:
        raise ConfigurationError(f"The key {role} takes the prefix of a data set's files.")
    if fmt == "text":
        return _text_set(role, prefix)
    if fmt == "vcf":
        return _vcf_set(role, prefix)
    if fmt == "bgen":
        return _bgen_set(role, prefix)
    return _binary_set(role, prefix, fmt)


def _extra_words(extra) -> List[str]:
    if extra is None:
        return []
    if isinstance(extra, str):
        try:
            return shlex.split(extra)
        except ValueError as error:
            raise ConfigurationError(f"The key extra cannot be split into words: {error}.")
    if isinstance(extra, list):
        return [str(word) for word in extra]
    raise ConfigurationError("The key extra takes Ombra options, as one line of text or a list of words.")


def _check_extra(words: List[str]) -> dict:
    """The options of `extra` by name; refuses those a chunked run would change."""
    options = {}
    for i in range(0, len(words), 2):
        option = words[i]
        if option in REFUSED_OPTIONS:
            raise ConfigurationError(f"The key extra gives {option}, which {REFUSED_OPTIONS[option]}.")
        if option not in PASSED_OPTIONS:
            raise ConfigurationError(f"The key extra gives {option}, which is not an option the workflow passes "
                                     f"on (those are {', '.join(PASSED_OPTIONS)}).")
        if i + 1 == len(words):
            raise ConfigurationError(f"The key extra gives {option} without its value.")
        if option in options:
            raise ConfigurationError(f"The key extra gives {option} twice.")
        options[option] = words[i + 1]
        if option in FILE_OPTIONS and not os.path.isfile(words[i + 1]):
            raise ConfigurationError(f"The file {words[i + 1]} given to {option} in the key extra does not exist.")
    if options.get("--out-format", "fixed") not in ("fixed", "tsv"):
        raise ConfigurationError("The key extra gives --out-format " + options["--out-format"] +
                                 ", which is neither fixed nor tsv.")
    return options


def _table_columns(path: str) -> List[str]:
    """The column names after FID IID of a --pheno table's header (its first line with a field)."""
    with open(path, newline="") as lines:
        for line in lines:
            fields = line.split()
            if not fields:
                continue
            first = fields[0][1:] if fields[0].startswith("#") else fields[0]
            if len(fields) < 2 or first.upper() != "FID" or fields[1].upper() != "IID":
                break
            return fields[2:]
    raise ConfigurationError(f"The phenotype table {path} (--pheno in the key extra) does not start with a header "
                             "whose first two names are FID and IID.")


def _resolve_phenotype(word: str, columns: List[str], path: str) -> List[str]:
    """The columns one name of the list stands for, as Ombra's --pheno-name reads it: a column, `all`, or a
    range A-B of the table's order (a name that is itself a column is that column)."""
    if word in columns:
        return [word]
    if word == "all":
        return list(columns)
    for dash in (i for i, char in enumerate(word) if char == "-"):
        first, last = word[:dash], word[dash + 1:]
        if first in columns and last in columns:
            if columns.index(first) > columns.index(last):
                raise ConfigurationError(f"The phenotype range {word} runs backwards in {path}.")
            return columns[columns.index(first):columns.index(last) + 1]
    raise ConfigurationError(f"The phenotype {word} is not a column of {path} (nor all, nor a range of its columns).")


def _phenotypes(config: dict, options: dict) -> List[str]:
    """The phenotypes each run tests, by name: the key phenotypes (a list, or names separated by commas) or
    --pheno-name of extra, each name, range or `all` resolved against the --pheno table, so that the workflow
    knows every result file; [] when the run tests the trait of the data sets or the table's first column."""
    listed = config.get("phenotypes")
    if listed is not None and "--pheno-name" in options:
        raise ConfigurationError("The key extra gives --pheno-name beside the key phenotypes: give the phenotypes "
                                 "in one of them.")
    if listed is None:
        listed = options.get("--pheno-name")
        if listed is None:
            return []
    if isinstance(listed, str):
        listed = listed.split(",")
    if not isinstance(listed, list) or not listed or not all(isinstance(name, (str, int)) for name in listed):
        raise ConfigurationError("The key phenotypes takes a list of phenotype names (columns of the --pheno table).")
    if "--pheno" not in options:
        raise ConfigurationError("The phenotypes are columns of a phenotype table: give --pheno FILE in the key "
                                 "extra.")
    path = options["--pheno"]
    columns = _table_columns(path)
    names: List[str] = []
    for word in (str(name).strip() for name in listed):
        if not word:
            raise ConfigurationError("The key phenotypes has an empty name.")
        for name in _resolve_phenotype(word, columns, path):
            if name in names:
                raise ConfigurationError(f"The phenotype {name} is named twice.")
            if any(char in name for char in ",/{}"):
                raise ConfigurationError(f"The phenotype {name} has a comma, a slash or a brace in its name, which "
                                         "cannot be given to --pheno-name or be part of a result file's name.")
            names.append(name)
    return names


def _program(ombra) -> str:
    if not isinstance(ombra, str) or not ombra:
        raise ConfigurationError("The key ombra takes the path or the name of the ombra program.")
    found = shutil.which(ombra)
    if found is None:
        raise ConfigurationError(f"The program {ombra} (key ombra) is not an executable file or on the PATH.")
    return ombra if os.sep in ombra else found


def _data_sets(config: dict, fmt: str) -> List[DataSet]:
    roles = [role for role in ("family", "unrelated") if config.get(role) is not None]
    if not roles:
        raise ConfigurationError("The configuration names no data set: give family, unrelated or both.")
    sets = [_data_set(role, config[role], fmt) for role in roles]
    if fmt == "vcf" and shutil.which("bcftools") is None:
        raise ConfigurationError("format: vcf needs bcftools, which lists the SNPs of the VCF for the chunks.")
    if all(data.markers is None for data in sets):
        raise ConfigurationError("No data set has a map file (.map or .map.gz), which the chunks are cut from.")
    return sets


def _numbers(config: dict) -> tuple:
    """pcs, the chunk size (None for a chunk per chromosome) and threads."""
    pcs = _whole_number(config.get("pcs", 10))
    if pcs is None:
        raise ConfigurationError(f"The key pcs is {config.get('pcs')!r}; it takes a whole number, 0 or more.")
    chunks = config.get("chunks", "chromosome")
    chunk_size = None if chunks == "chromosome" else _whole_number(chunks)
    if chunks != "chromosome" and not chunk_size:
        raise ConfigurationError(f"The key chunks is {chunks!r}; it takes chromosome or a number of SNPs "
                                 "(1 or more).")
    threads = _whole_number(config.get("threads", 1))
    if not threads:
        raise ConfigurationError(f"The key threads is {config.get('threads')!r}; it takes a number, 1 or more.")
    return pcs, chunk_size, threads


@dataclass
class Settings:
    sets: List[DataSet]
    fmt: str
    pcs: int
    chunk_size: Optional[int]  # None: a chunk per chromosome
    out: str
    extra: List[str]
    ombra: str
    threads: int
    tsv: bool
    phenotypes: List[str]  # resolved names of --pheno-name; [] for the default trait


    @staticmethod
    def from_config(config: dict) -> "Settings":
        unknown = sorted(set(config) - set(KEYS))
        if unknown:
            raise ConfigurationError(f"Unknown key {unknown[0]} in the configuration (the keys are "
                                     f"{', '.join(KEYS)}).")
        fmt = config.get("format")
        if fmt not in FORMATS:
            raise ConfigurationError(f"The key format is {fmt!r}; it takes one of {', '.join(FORMATS)}.")
        pcs, chunk_size, threads = _numbers(config)
        out = config.get("out")
        if not isinstance(out, str) or not out.strip():
            raise ConfigurationError("The key out takes the folder of the workflow's files.")
        extra = _extra_words(config.get("extra"))
        options = _check_extra(extra)
        phenotypes = _phenotypes(config, options)
        if phenotypes:
            # The names go to --pheno-name resolved, in place of the request.
            at = extra.index("--pheno-name") if "--pheno-name" in extra else len(extra)
            extra = extra[:at] + ["--pheno-name", ",".join(phenotypes)] + extra[at + 2:]
        return Settings(_data_sets(config, fmt), fmt, pcs, chunk_size, os.path.normpath(out), extra,
                        _program(config.get("ombra", "ombra")), threads, options.get("--out-format") == "tsv",
                        phenotypes)

    def input_files(self) -> List[str]:
        """Every file the runs read, so that a changed input runs them again."""
        words = self.extra
        extra_files = [words[i + 1] for i in range(0, len(words), 2) if words[i] in FILE_OPTIONS]
        return [path for data in self.sets for path in data.files] + extra_files

    def marker_file(self) -> str:
        """Ombra takes the SNPs from the family set when it has them, else from the unrelated set."""
        return next(data.markers for data in self.sets if data.markers is not None)

    def marker_index(self) -> List[str]:
        """bgenix's index of the marker file, when it is a BGEN file with one: the plan lists the SNPs the
        index finds, so a new index makes a new plan."""
        marker_file = self.marker_file()
        return [marker_file + ".bgi"] if bgen_indexed(marker_file) else []

    def per_phenotype(self) -> bool:
        """Whether each run writes a result file per phenotype (it does for two or more)."""
        return len(self.phenotypes) > 1

    def result_name(self, phenotype: Optional[str] = None) -> str:
        """The merged result, named as Ombra names a phenotype's result: its name before the extension."""
        extension = ".tsv" if self.tsv else ".txt"
        return os.path.join(self.out, "result" + ("." + phenotype if phenotype else "") + extension)

    def result_names(self) -> List[str]:
        """Every merged result file of the workflow."""
        if self.per_phenotype():
            return [self.result_name(name) for name in self.phenotypes]
        return [self.result_name()]

    def command(self, *options: str) -> List[str]:
        words = [self.ombra]
        for data in self.sets:
            words += [INPUT_OPTIONS[self.fmt][0 if data.role == "family" else 1], data.prefix]
        return words + list(options) + self.extra

