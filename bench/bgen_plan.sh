#!/usr/bin/env bash
# The workflow's plan of a BGEN file (workflow/ombra_jobs.py plan: the SNP
# listing cut into chunks) from the file's records and through bgenix's
# index, beside PLINK 2 listing the same variants (--make-just-pvar); and one
# chunk's run (chromosome 22, the stored components) with and without the
# index. Uses the data set of bench/bgen_test.sh (run it first).
#
#   bench/bgen_plan.sh [--data DIR]     (default /tmp/ombra-bench/bgen-test-10000-200000)
set -euo pipefail
die() { echo "bgen_plan: error: $*" >&2; exit 1; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data=/tmp/ombra-bench/bgen-test-10000-200000
[ "${1:-}" = --data ] && data="$2"
[ -s "$data/set.bgen" ] && [ -s "$data/pca.txt" ] || die "no $data/set.bgen: run bench/bgen_test.sh first"
command -v plink2 >/dev/null || die "plink2 is not installed (apt-get install plink2)"
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target ombra >/dev/null
jobs=(python3 -B "$root/workflow/ombra_jobs.py")

# The index lives in a folder of its own, so that the data set's other
# benchmarks still read the file through.
dir="$data/plan"
mkdir -p "$dir"
cd "$dir"
for f in set.bgen set.sample set.fam pca.txt; do ln -sf "$data/$f" "$f"; done
rm -f set.bgen.bgi
python3 - set.bgen <<'PY'
"""bgenix's index (tables Variant and Metadata) of a BGEN 1.2/1.3 file."""
import mmap, sqlite3, struct, sys
path = sys.argv[1]
with open(path, "rb") as file:
    data = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
offset, _, count, _ = struct.unpack_from("<4I", data, 0)
at, rows = offset + 4, []
for _ in range(count):
    start, fields = at, []
    for _ in range(3):
        length = struct.unpack_from("<H", data, at)[0]
        fields.append(data[at + 2:at + 2 + length].decode())
        at += 2 + length
    position, alleles = struct.unpack_from("<IH", data, at)
    at += 6
    names = []
    for _ in range(alleles):
        length = struct.unpack_from("<I", data, at)[0]
        names.append(data[at + 4:at + 4 + length].decode())
        at += 4 + length
    at += 4 + struct.unpack_from("<I", data, at)[0]
    rows.append((fields[2], position, fields[1], alleles, names[0], names[1], start, at - start))
db = sqlite3.connect(path + ".bgi")
db.execute("CREATE TABLE Variant (chromosome TEXT NOT NULL, position INT NOT NULL, rsid TEXT, number_of_alleles "
           "INT NOT NULL, allele1 TEXT NOT NULL, allele2 TEXT NULL, file_start_position INT NOT NULL, size_in_bytes "
           "INT NOT NULL, PRIMARY KEY (chromosome, position, rsid, allele1, allele2, file_start_position)) WITHOUT ROWID")
db.executemany("INSERT INTO Variant VALUES (?, ?, ?, ?, ?, ?, ?, ?)", rows)
db.execute("CREATE TABLE Metadata (filename TEXT NOT NULL, file_size INT NOT NULL, last_write_time INT NOT NULL, "
           "first_1000_bytes BLOB NOT NULL, index_creation_time INT NOT NULL)")
db.execute("INSERT INTO Metadata VALUES (?, ?, 0, ?, 0)", (path, len(data), data[:1000]))
db.commit()
PY

measure() {
  local name="$1" t0 t1
  shift
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$name.time" "$@" >"$name.log" 2>&1 || { tail -5 "$name.log" >&2; die "$name failed"; }
  t1=$(date +%s.%N)
  SEC=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  MB=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$name.time")
}
rows=()
cat set.bgen >/dev/null  # every run finds the file in the page cache
rm -rf plan-file plan-index
measure file "${jobs[@]}" plan "$data/set.bgen" 5000 plan-file
rows+=("| plan from the records, chunks of 5000 SNPs | $SEC | $MB |")
measure index "${jobs[@]}" plan set.bgen 5000 plan-index
rows+=("| plan through the index, chunks of 5000 SNPs | $SEC | $MB |")
diff -r plan-file plan-index >/dev/null || die "the two plans differ"
measure plink plink2 --bgen set.bgen ref-first --sample set.sample --make-just-pvar --threads 1 --out pvar
rows+=("| PLINK 2 \`--bgen --make-just-pvar\` (the variant list), 1 thread | $SEC | $MB |")
measure chunk-index "$build/ombra" --gi set --rp pca.txt --p 10 --chr 22 --out chunk-index.txt
rows+=("| one chunk (\`--gi --rp --chr 22\`) through the index | $SEC | $MB |")
measure chunk-file "$build/ombra" --gi "$data/set" --rp pca.txt --p 10 --chr 22 --out chunk-file.txt
rows+=("| the same chunk reading the file through | $SEC | $MB |")
cmp chunk-index.txt chunk-file.txt || die "the chunk's results differ"

echo "### Workflow plan of a BGEN file: $(grep -c . plan-file/*.snps | awk -F: '{ n += $2 } END { print n }') SNPs, $(awk -v b="$(stat -L -c %s set.bgen)" 'BEGIN { printf "%.0f", b / 1e6 }') MB"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?');" \
  "$(plink2 --version | head -1); $(python3 --version). One run each, the file in the page cache; load average" \
  "$(cut -d' ' -f1-3 /proc/loadavg) at the end."
echo
echo "| task | wall s | peak MB |"
echo "|---|---:|---:|"
printf '%s\n' "${rows[@]}"
