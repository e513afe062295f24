#!/usr/bin/env bash
# Times Ombra against PLINK 1.9 and PLINK 2 on simulated data, side by side.
#
#   bench/run_benchmarks.sh [small|medium|both|large|cohort] [options]
#
#   --runs N        timed runs per command; the table shows medians (default 3)
#   --timeout S     seconds after which one Ombra or PLINK run is stopped and
#                   reported as "timeout" (default 1800)
#   --data DIR      where the data and the outputs go (default /tmp/ombra-bench);
#                   never inside the repository
#   --table FILE    also write the table to FILE (markdown)
#   --seed S        seed of the simulator (default 1)
#   --formats-only  only the input-format section below (no PLINK comparison)
#
# From a fresh clone: builds a release binary into build-bench/, builds the
# simulators, installs what is missing (cmake, g++, GNU time, plink1.9,
# plink2) with apt-get, generates the data and runs every command below at
# --threads 1 and at --threads 2, Ombra and its peers alike:
#   text load   ombra --f SET --make-bed        vs plink1.9 --file SET --make-bed
#               (family set, then unrelated set)
#   components  ombra --bf fam --bi unr --p 10 --op, from Ombra's binary sets
#               (written by the text loads), vs plink2 --pfile --pca 10 on the
#               same individuals (founders, one child per parentless sibship,
#               the unrelated set), from a .pgen of the two sets made untimed
#               (plink1.9 --merge, plink2 --make-pgen)
#   test        ombra --bf --bi --p 10 --rp (components loaded) vs plink2
#               --pfile --glm, linear on the trait, with Ombra's 10 components
#               as covariates
#   whole run   ombra --bf --bi --p 10        vs plink2 --pca 10 plus --glm
# Each row compares the faster of Ombra's two runs with the faster of the
# peer's (ratio = Ombra / peer, time and peak memory of those runs) and says
# whether the target holds. In a section of its own, the input formats
# against each other:
#   PLINK fileset load  ombra --bf SET --make-bed   vs the text load above
#               (filesets made untimed by plink1.9 --make-bed)
#   gzip text load      ombra --f SET(.ped.gz) --make-bed   vs the text load
#   whole run           ombra --bf --bi on the PLINK filesets   vs on Ombra's
#               own binary sets (both --p 10)
# `large` instead simulates 20,000 unrelated people x 100,000 SNPs with
# simulate_plink, converts them untimed to Ombra's binary set and times one
# components run (--p 10 --op, 2 threads) against the limits of 24 GB and of
# a peak under 4 GB (4e9 bytes).
# `cohort` simulates 2,500 nuclear families and 10,000 unrelated people
# (20,000 people, 15,000 of them in the components) x 200,000 SNPs with
# simulate_plink, PLINK filesets read by both tools, the components from
# every tenth SNP; each command runs once (--runs is ignored: the exact
# PCA takes many minutes), at 2 threads and then at 1:
#   components  ombra --pca-method fast / approx (--op)  vs plink2 --pca 10
#               and --pca 10 approx, with both approximations' eigenvalues
#               and scores against their own tool's exact ones
#   test        ombra --rp (the approximate components) vs plink2 --glm
#   whole run   ombra --p 10 as a user runs it (auto)   vs plink2 --pca 10
#               approx plus --glm
# Wall time from the shell clock, peak memory (max RSS) from /usr/bin/time -v.
# Every input is read once before timing, so all runs read from the page cache.
set -euo pipefail

die() {
  echo "run_benchmarks: error: $*" >&2
  exit 1
}
note() { echo "run_benchmarks: $*" >&2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size="small"
runs=3
limit=1800
data="/tmp/ombra-bench"
table=""
seed=1
formats_only=0

while [ $# -gt 0 ]; do
  case "$1" in
    small | medium | both | large | cohort) size="$1" ;;
    --runs) [ $# -ge 2 ] || die "--runs needs a value"; runs="$2"; shift ;;
    --timeout) [ $# -ge 2 ] || die "--timeout needs a value"; limit="$2"; shift ;;
    --data) [ $# -ge 2 ] || die "--data needs a value"; data="$2"; shift ;;
    --table) [ $# -ge 2 ] || die "--table needs a value"; table="$2"; shift ;;
    --seed) [ $# -ge 2 ] || die "--seed needs a value"; seed="$2"; shift ;;
    --formats-only) formats_only=1 ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
  shift
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs must be a positive integer, not '$runs'"
[[ "$limit" =~ ^[1-9][0-9]*$ ]] || die "--timeout must be a positive integer, not '$limit'"
[[ "$seed" =~ ^[0-9]+$ ]] || die "--seed must be a non-negative integer, not '$seed'"
mkdir -p "$data" || die "cannot create $data"
data="$(cd "$data" && pwd)"
case "$data/" in "$root"/*) die "--data must be outside the repository ($root)" ;; esac
if [ -n "$table" ]; then
  mkdir -p "$(dirname "$table")"
  table="$(cd "$(dirname "$table")" && pwd)/$(basename "$table")"
fi

# ---------------------------------------------------------------- tools
install_missing() {
  local missing=()
  command -v cmake >/dev/null || missing+=(cmake)
  command -v g++ >/dev/null || missing+=(g++)
  command -v make >/dev/null || missing+=(make)
  [ -x /usr/bin/time ] || missing+=(time)
  command -v timeout >/dev/null || missing+=(coreutils)
  command -v plink1.9 >/dev/null || missing+=(plink1.9)
  command -v plink2 >/dev/null || missing+=(plink2)
  [ ${#missing[@]} -eq 0 ] && return 0
  note "installing ${missing[*]}"
  local sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "need root or sudo to install: ${missing[*]}"
    sudo_cmd="sudo"
  fi
  $sudo_cmd apt-get update -qq || die "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" ||
    die "apt-get install ${missing[*]} failed"
}

build() {
  local dir="$root/build-bench"
  note "building a release binary and the simulator in $dir"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF >"$data/build.log" 2>&1 ||
    { tail -20 "$data/build.log" >&2; die "cmake configure failed (log: $data/build.log)"; }
  cmake --build "$dir" -j "$(nproc)" --target ombra >>"$data/build.log" 2>&1 ||
    { tail -20 "$data/build.log" >&2; die "building ombra failed (log: $data/build.log)"; }
  cmake --build "$dir" -j "$(nproc)" --target simulate simulate_plink >>"$data/build.log" 2>&1 ||
    { tail -20 "$data/build.log" >&2; die "building the simulators failed (log: $data/build.log)"; }
  OMBRA="$dir/ombra"
  SIMULATE="$dir/simulate"
  SIMULATE_PLINK="$dir/simulate_plink"
}

# ---------------------------------------------------------------- data
# Sizes: families unrelated snps.
size_params() {
  case "$1" in
    small) echo "100 200 20000" ;;
    medium) echo "600 1000 100000" ;;
    large) echo "0 20000 100000" ;;
    cohort) echo "2500 10000 200000" ;;
  esac
}

generate() {
  local name="$1" dir="$data/$1"
  local params
  params="$(size_params "$name") $seed"
  local fams unr snps
  read -r fams unr snps _ <<<"$params"
  local made=("$dir/family.ped" "$dir/unrelated.ped" "$dir/pca_keep.txt")
  [ "$name" = large ] && made=("$dir/unrelated.bed" "$dir/unrelated.bim" "$dir/unrelated.fam")
  [ "$name" = cohort ] && made=("$dir/family.bed" "$dir/unrelated.bed" "$dir/unrelated.fam")
  local ready=1 file
  [ -f "$dir/params" ] && [ "$(cat "$dir/params")" = "$params" ] || ready=0
  for file in "${made[@]}"; do [ -s "$file" ] || ready=0; done
  if [ "$ready" -eq 1 ]; then
    note "reusing the $name data in $dir"
    return 0
  fi
  note "generating the $name data ($fams families, $unr unrelated, $snps SNPs) in $dir"
  rm -rf "$dir"
  if [ "$name" = large ] || [ "$name" = cohort ]; then
    mkdir -p "$dir"
    "$SIMULATE_PLINK" --families "$fams" --unrelated "$unr" --snps "$snps" --seed "$seed" --out "$dir" ||
      die "the PLINK fileset simulator failed"
  else
    "$SIMULATE" --families "$fams" --unrelated "$unr" --snps "$snps" --seed "$seed" --out "$dir" ||
      die "the simulator failed"
  fi
  echo "$params" >"$dir/params"
}

# ---------------------------------------------------------------- timing
# run_once LOG CMD...: one run with the time limit, in the current directory.
# Sets LAST_SECONDS, LAST_MB and LAST_STATUS (ok, timeout or failed).
run_once() {
  local log="$1"
  shift
  local tf="$log.time" t0 t1 rc=0
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$tf" timeout "$limit" "$@" >"$log" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  LAST_SECONDS=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  LAST_MB=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$tf")
  if [ "$rc" -eq 0 ]; then
    LAST_STATUS=ok
  elif [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    LAST_STATUS=timeout
  else
    LAST_STATUS=failed
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure KEY CHECK CMD...: RUNS runs; CHECK is a file the command must
# leave behind. Sets SEC[KEY] (median, or "timeout") and MB[KEY] (largest peak).
declare -A SEC MB
measure() {
  local key="$1" check="$2"
  shift 2
  local times="" peak=0 i
  for ((i = 1; i <= runs; i++)); do
    rm -f "$check"
    run_once "logs/$key.$i" "$@"
    case "$LAST_STATUS" in
      timeout)
        note "  $key: run $i stopped after ${limit}s"
        rm -f "$check"
        SEC[$key]=timeout
        MB[$key]="-"
        return 0
        ;;
      failed)
        tail -15 "logs/$key.$i" >&2
        die "$key failed: $* (log: $PWD/logs/$key.$i)"
        ;;
    esac
    [ -e "$check" ] || { tail -15 "logs/$key.$i" >&2; die "$key wrote no $check: $* (log: $PWD/logs/$key.$i)"; }
    times+="$LAST_SECONDS"$'\n'
    if [ "${LAST_MB:-0}" -gt "$peak" ]; then peak="$LAST_MB"; fi
    note "  $key: run $i ${LAST_SECONDS}s, ${LAST_MB} MB"
  done
  SEC[$key]=$(printf '%s' "$times" | median)
  MB[$key]="$peak"
}

is_number() { [[ "$1" =~ ^[0-9.]+$ ]]; }
ratio() {
  if is_number "$1" && is_number "$2"; then
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
  else
    echo "-"
  fi
}
fmt() { if is_number "$1"; then awk -v a="$1" 'BEGIN { printf "%.2f", a }'; else echo "$1"; fi; }

ROWS=()
row() { # task ombra-key peer-label peer-seconds peer-mb
  local task="$1" o="$2" peer="$3" ps="$4" pm="$5"
  ROWS+=("| $task | $(fmt "${SEC[$o]}") | $peer | $(fmt "$ps") | $(ratio "${SEC[$o]}" "$ps") | ${MB[$o]} | $pm |")
}

# faster KEY: of KEY.1 and KEY.2 (the runs at 1 and 2 threads), the one
# with the smaller median time; empty when neither finished.
faster() {
  local one="$1.1" two="$1.2"
  if is_number "${SEC[$one]}" && is_number "${SEC[$two]}"; then
    awk -v a="${SEC[$one]}" -v b="${SEC[$two]}" -v x="$one" -v y="$two" 'BEGIN { print (b < a) ? y : x }'
  elif is_number "${SEC[$one]}"; then
    echo "$one"
  elif is_number "${SEC[$two]}"; then
    echo "$two"
  fi
}
cell() { if is_number "${SEC[$1]:-}"; then echo "$(fmt "${SEC[$1]}") s, ${MB[$1]} MB"; else echo "${SEC[$1]:-not run}"; fi; }
# met VALUE LIMIT: "yes" when VALUE <= LIMIT, "no" otherwise, "-" without a value.
met() {
  if is_number "$1"; then awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "yes" : "no" }'; else echo "-"; fi
}

COMPARE=()
# compare TASK OMBRA-KEY PEER-LABEL PEER-KEY TIME-LIMIT MEMORY-LIMIT: one row,
# the faster of Ombra's two runs against the faster of the peer's; a limit
# "-" is not a target.
compare() {
  local task="$1" o="$2" peer="$3" p="$4" timeLimit="$5" memLimit="$6"
  local ob pb tr="-" mr="-" verdict=""
  ob=$(faster "$o")
  pb=$(faster "$p")
  if [ -n "$ob" ] && [ -n "$pb" ]; then
    tr=$(ratio "${SEC[$ob]}" "${SEC[$pb]}")
    mr=$(ratio "${MB[$ob]}" "${MB[$pb]}")
  fi
  local target="-"
  if [ "$timeLimit" != - ]; then
    target="time <= ${timeLimit}x"
    verdict="$(met "$tr" "$timeLimit")"
  fi
  if [ "$memLimit" != - ]; then
    target="$target, memory <= ${memLimit}x"
    verdict="$verdict, $(met "$mr" "$memLimit")"
  fi
  local which="-"
  [ -n "$pb" ] && which="${pb##*.} thread(s)"
  COMPARE+=("| $task | $(cell "$o.1") | $(cell "$o.2") | $peer | $(cell "$p.1") | $(cell "$p.2") | $which | $tr | $mr | $target | ${verdict:--} |")
}

# both KEY CHECK CMD...: measure CMD at --threads 1 (KEY.1) and 2 (KEY.2).
both() {
  local key="$1" check="$2"
  shift 2
  local t
  for t in 1 2; do measure "$key.$t" "$check" "$@" --threads "$t"; done
}

# sum_runs KEY A B: KEY.t = A.t + B.t for t = 1, 2 (peak memory: the larger).
sum_runs() {
  local key="$1" x="$2" y="$3" t
  for t in 1 2; do
    if is_number "${SEC[$x.$t]:-}" && is_number "${SEC[$y.$t]:-}"; then
      SEC[$key.$t]=$(awk -v a="${SEC[$x.$t]}" -v b="${SEC[$y.$t]}" 'BEGIN { printf "%.3f", a + b }')
      MB[$key.$t]=$(printf '%s\n' "${MB[$x.$t]}" "${MB[$y.$t]}" | sort -g | tail -1)
    else
      SEC[$key.$t]="not run"
      MB[$key.$t]="-"
    fi
  done
}

machine_line() {
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo);" \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) RAM; load average $(cut -d' ' -f1-3 /proc/loadavg);" \
    "Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$root" diff --quiet HEAD 2>/dev/null || echo ' (with uncommitted changes)');" \
    "$(plink1.9 --version | head -1); $(plink2 --version | head -1)."
}

# ---------------------------------------------------------------- one size
bench_size() {
  local name="$1" dir="$data/$1"
  local work="$dir/work"
  rm -rf "$work"
  mkdir -p "$work/logs"
  cd "$work"
  local fam="$dir/family" unr="$dir/unrelated"
  local nfam nunr nsnp famMB unrMB
  nfam=$(wc -l <"$fam.ped")
  nunr=$(wc -l <"$unr.ped")
  nsnp=$(wc -l <"$fam.map")
  famMB=$(awk -v b="$(stat -c %s "$fam.ped")" 'BEGIN { printf "%.1f", b / 1e6 }')
  unrMB=$(awk -v b="$(stat -c %s "$unr.ped")" 'BEGIN { printf "%.1f", b / 1e6 }')
  cat "$fam.ped" "$fam.map" "$unr.ped" "$unr.map" >/dev/null

  note "[$name] the peers' binary set: plink1.9 --merge, plink2 --make-pgen (not timed)"
  plink1.9 --file "$fam" --merge "$unr.ped" "$unr.map" --allow-no-sex --make-bed --out merged \
    >logs/merge.out 2>&1 || { tail -15 merged.log >&2; die "plink1.9 could not merge the two sets"; }
  plink2 --bfile merged --make-pgen --out merged >logs/pgen.out 2>&1 ||
    { tail -15 merged.log >&2; die "plink2 could not write the .pgen"; }

  note "[$name] text load (Ombra's binary sets for the later runs come from here)"
  both load_fam_ombra o_fam.bed "$OMBRA" --f "$fam" --make-bed o_fam
  both load_fam_plink p_fam.bed plink1.9 --file "$fam" --allow-no-sex --make-bed --out p_fam
  both load_unr_ombra o_unr.bed "$OMBRA" --i "$unr" --make-bed o_unr
  both load_unr_plink p_unr.bed plink1.9 --file "$unr" --allow-no-sex --make-bed --out p_unr
  cat o_fam.bed o_unr.bed merged.pgen >/dev/null

  note "[$name] components"
  both pca_ombra pca.txt "$OMBRA" --bf o_fam --bi o_unr --p 10 --op pca.txt
  both pca_plink p2pca.eigenvec plink2 --pfile merged --keep "$dir/pca_keep.txt" --pca 10 --out p2pca
  if [ -s pca.txt ]; then
    # Ombra flags the individuals it decomposed; they must be the kept ones.
    if ! diff <(awk -F'\t' '$4 == 1 { print $1, $2 }' pca.txt | sort) <(sort "$dir/pca_keep.txt") >/dev/null; then
      note "warning: Ombra's decomposed individuals differ from $dir/pca_keep.txt"
    fi
  fi

  note "[$name] test"
  local pcaNote=""
  if [ ! -s pca.txt ]; then
    # The test only needs some components to load: take them, untimed, from
    # every 100th SNP, which Ombra decomposes quickly.
    note "  no components from the full decomposition: computing them from every 100th SNP (not timed)"
    awk 'NR % 100 == 0 { print $2 }' "$fam.map" >pca_snps.txt
    run_once logs/pca_subset "$OMBRA" --bf o_fam --bi o_unr --p 10 --snp-list-pca pca_snps.txt --op pca.txt
    if [ "$LAST_STATUS" = ok ] && [ -s pca.txt ]; then
      pcaNote="The full decomposition did not finish: the test loads components that Ombra computed from every 100th SNP ($(wc -l <pca_snps.txt) SNPs, ${LAST_SECONDS}s)."
    else
      note "  that failed too ($LAST_STATUS; log: $PWD/logs/pca_subset)"
      rm -f pca.txt
    fi
  fi
  if [ -s pca.txt ]; then
    # Trait as a quantitative phenotype: 1 -> 0.5, 2 -> 1.5 (values other than
    # 0/1/2 keep PLINK 2 from taking it for case/control), missing -> NA.
    awk -F'\t' 'BEGIN { OFS = "\t"; print "#FID", "IID", "TRAIT" }
      { print $1, $2, ($3 == "1") ? "0.5" : (($3 == "2") ? "1.5" : "NA") }' pca.txt >pheno.txt
    awk -F'\t' 'BEGIN { printf "#FID\tIID"; for (k = 1; k <= 10; k++) printf "\tPC%d", k; print "" }
      { printf "%s\t%s", $1, $2; for (k = 5; k <= 14; k++) printf "\t%s", $k; print "" }' pca.txt >covar.txt
    cp pca.txt pca_loaded.txt
    both test_ombra res_rp.txt "$OMBRA" --bf o_fam --bi o_unr --p 10 --rp pca_loaded.txt --out res_rp.txt
    both test_plink p2glm.TRAIT.glm.linear plink2 --pfile merged --pheno pheno.txt --pheno-name TRAIT \
      --covar covar.txt --glm hide-covar --out p2glm
  else
    note "  no components from Ombra: the test is skipped"
    local t
    for t in 1 2; do
      SEC[test_ombra.$t]="skipped"; MB[test_ombra.$t]="-"
      SEC[test_plink.$t]="skipped"; MB[test_plink.$t]="-"
    done
  fi

  note "[$name] whole run"
  if [ "${SEC[pca_ombra.1]}" = timeout ] && [ "${SEC[pca_ombra.2]}" = timeout ]; then
    note "  the components alone timed out: the whole run is not attempted"
    SEC[whole_ombra.1]="not run"; MB[whole_ombra.1]="-"
    SEC[whole_ombra.2]="not run"; MB[whole_ombra.2]="-"
  else
    both whole_ombra result.txt "$OMBRA" --bf o_fam --bi o_unr --p 10 --out result.txt
  fi
  sum_runs whole_plink pca_plink test_plink

  COMPARE=()
  compare "text load, family ($famMB MB .ped)" load_fam_ombra "plink1.9 --file --make-bed" load_fam_plink 0.2 -
  compare "text load, unrelated ($unrMB MB .ped)" load_unr_ombra "plink1.9 --file --make-bed" load_unr_plink 0.2 -
  compare "components (--op, 10)" pca_ombra "plink2 --pca 10" pca_plink 0.5 2
  compare "test (--rp, 10 components)" test_ombra "plink2 --glm (linear, 10 covariates)" test_plink 0.1 -
  compare "whole default run (--p 10)" whole_ombra "plink2 --pca 10 plus --glm" whole_plink 0.25 -

  {
    echo
    echo "### $name: $nfam family + $nunr unrelated individuals, $nsnp SNPs"
    echo
    machine_line
    echo "Medians of $runs runs: wall seconds and peak resident memory (MB) at --threads 1 and 2; time limit ${limit}s per run."
    echo "Ratios = Ombra's faster run / the peer's faster run (time; peak memory of those two runs)."
    echo
    echo "| task | Ombra, 1 thread | Ombra, 2 threads | peer | peer, 1 thread | peer, 2 threads | peer's faster | time ratio | memory ratio | target | met |"
    echo "|---|---:|---:|---|---:|---:|---|---:|---:|---|---|"
    printf '%s\n' "${COMPARE[@]}"
    echo
    if [ -n "$pcaNote" ]; then echo "$pcaNote"; fi
    echo "Ombra reads its own binary sets (written by its text loads) for the components, the test and the whole run;"
    echo "PLINK 2 reads a .pgen of both sets made untimed. PLINK 2's PCA runs on the individuals Ombra decomposes"
    echo "(--keep); its regression uses Ombra's saved components as covariates. The whole run's peer figure is the"
    echo "sum of PLINK 2's PCA and regression at the same thread count (peak memory: the larger)."
  } >>"$report"
  cd "$data"
}

# ---------------------------------------------------------------- large
# One components run on 20,000 unrelated people: too long to repeat or to
# run at one thread as well.
bench_large() {
  local dir="$data/large"
  local work="$dir/work"
  rm -rf "$work"
  mkdir -p "$work/logs"
  cd "$work"
  note "[large] Ombra's binary set from the PLINK fileset (not timed)"
  run_once logs/convert "$OMBRA" --bi "$dir/unrelated" --make-bed o_unr
  [ "$LAST_STATUS" = ok ] || die "ombra --bi $dir/unrelated --make-bed failed (log: $PWD/logs/convert)"
  cat o_unr.bed >/dev/null
  note "[large] components"
  local saved="$runs"
  runs=1
  measure large_ombra pca.txt "$OMBRA" --bi o_unr --p 10 --op pca.txt --threads 2
  runs="$saved"
  local people snps gib limitMB=3815  # 4e9 bytes in MiB
  people=$(wc -l <o_unr.fam)
  snps=$(wc -l <o_unr.bim)
  gib=$(awk -v m="${MB[large_ombra]}" 'BEGIN { if (m + 0 > 0) printf "%.2f GiB", m / 1024; else print "-" }')
  local verdict="no (${SEC[large_ombra]})"
  is_number "${SEC[large_ombra]}" && verdict=$(met "${MB[large_ombra]}" "$limitMB")
  {
    echo
    echo "### large: $people unrelated individuals, $snps SNPs (components only)"
    echo
    machine_line
    echo "One run at --threads 2; time limit ${limit}s."
    echo
    echo "| task | Ombra s | Ombra peak MB | target | met |"
    echo "|---|---:|---:|---|---|"
    echo "| components (--op, 10) | $(fmt "${SEC[large_ombra]}") | ${MB[large_ombra]} ($gib) | completes; peak < 4 GB (${limitMB} MB) | $verdict |"
  } >>"$report"
  cd "$data"
}

# ---------------------------------------------------------------- cohort
# eigen_error A B: the largest relative difference of the eigenvalues in
# the files A and B (one value a line each), "-" without them.
eigen_error() {
  [ -s "$1" ] && [ -s "$2" ] || { echo "-"; return; }
  paste "$1" "$2" | awk '{ d = ($1 - $2) / $2; if (d < 0) d = -d; if (d > m) m = d } END { printf "%.1e", m }'
}
# Ombra's eigenvalues (squared singular values, the leading 10) of an eigen loading file.
ombra_eigen() {
  awk '/^Eigen Value/ { getline; for (k = 1; k <= 10 && k <= NF; k++) print $k * $k; exit }' "$1"
}
# score_corr A B FIRST: the smallest absolute correlation over the 10 score
# columns (from column FIRST) of two files with the same rows, "-" without them.
score_corr() {
  [ -s "$1" ] && [ -s "$2" ] || { echo "-"; return; }
  paste "$1" "$2" | awk -v f="$3" -v w="$(awk -F'\t' 'NR == 1 { print NF; exit }' "$1")" -F'\t' '
    !/^#/ { n++; for (k = 0; k < 10; k++) { x = $(f + k); y = $(w + f + k); sx[k] += x; sy[k] += y; sxx[k] += x * x; syy[k] += y * y; sxy[k] += x * y } }
    END { m = 1; for (k = 0; k < 10; k++) { c = (sxy[k] - sx[k] * sy[k] / n) / sqrt((sxx[k] - sx[k] ^ 2 / n) * (syy[k] - sy[k] ^ 2 / n)); if (c < 0) c = -c; if (c < m) m = c } printf "%.6f", m }'
}

bench_cohort() {
  local dir="$data/cohort"
  local work="$dir/work"
  local saved="$runs"
  runs=1
  rm -rf "$work"
  mkdir -p "$work/logs"
  cd "$work"
  local fam="$dir/family" unr="$dir/unrelated"
  awk 'NR % 10 == 0 { print $2 }' "$fam.bim" >pca_snps.txt
  # The individuals Ombra decomposes: the founders of the families (their
  # children have both parents present) and every unrelated individual.
  awk '$3 == "0" && $4 == "0" { print $1, $2 }' "$fam.fam" "$unr.fam" >pca_keep.txt
  if [ ! -s "$dir/merged.pgen" ]; then
    note "[cohort] the peers' .pgen: plink1.9 --bmerge, plink2 --make-pgen (not timed)"
    plink1.9 --bfile "$fam" --bmerge "$unr" --allow-no-sex --make-bed --out "$dir/merged" >logs/merge.out 2>&1 ||
      { tail -15 "$dir/merged.log" >&2; die "plink1.9 could not merge the two sets"; }
    plink2 --bfile "$dir/merged" --make-pgen --out "$dir/merged" >logs/pgen.out 2>&1 ||
      { tail -15 "$dir/merged.log" >&2; die "plink2 could not write the .pgen"; }
    rm -f "$dir/merged.bed" "$dir/merged.bim" "$dir/merged.fam"
  fi
  cat "$fam.bed" "$unr.bed" "$dir/merged.pgen" >/dev/null
  local merged="$dir/merged"
  local p2="plink2 --pfile $merged --keep pca_keep.txt --extract pca_snps.txt"
  local t
  for t in 2 1; do
    note "[cohort] $t thread(s): components"
    measure "gram_ombra.$t" gram$t.txt "$OMBRA" --bf "$fam" --bi "$unr" --snp-list-pca pca_snps.txt --p 10 \
      --pca-method fast --op gram$t.txt --threads "$t"
    measure "approx_ombra.$t" approx$t.txt "$OMBRA" --bf "$fam" --bi "$unr" --snp-list-pca pca_snps.txt --p 10 \
      --pca-method approx --op approx$t.txt --threads "$t"
    # shellcheck disable=SC2086
    measure "exact_plink.$t" p2exact$t.eigenval $p2 --pca 10 --out p2exact$t --threads "$t"
    # shellcheck disable=SC2086
    measure "approx_plink.$t" p2approx$t.eigenval $p2 --pca 10 approx --out p2approx$t --threads "$t"
    if [ "$t" = 2 ] && [ -s approx2.txt ]; then
      awk -F'\t' 'BEGIN { OFS = "\t"; print "#FID", "IID", "TRAIT" }
        { print $1, $2, ($3 == "1") ? "0.5" : (($3 == "2") ? "1.5" : "NA") }' approx2.txt >pheno.txt
      awk -F'\t' 'BEGIN { printf "#FID\tIID"; for (k = 1; k <= 10; k++) printf "\tPC%d", k; print "" }
        { printf "%s\t%s", $1, $2; for (k = 5; k <= 14; k++) printf "\t%s", $k; print "" }' approx2.txt >covar.txt
    fi
    note "[cohort] $t thread(s): test"
    if [ -s approx2.txt ]; then
      measure "test_ombra.$t" res_rp$t.txt "$OMBRA" --bf "$fam" --bi "$unr" --p 10 --rp approx2.txt \
        --out res_rp$t.txt --threads "$t"
      measure "test_plink.$t" p2glm$t.TRAIT.glm.linear plink2 --pfile "$merged" --pheno pheno.txt --pheno-name TRAIT \
        --covar covar.txt --glm hide-covar --out p2glm$t --threads "$t"
    else
      SEC[test_ombra.$t]="skipped"; MB[test_ombra.$t]="-"; SEC[test_plink.$t]="skipped"; MB[test_plink.$t]="-"
    fi
    note "[cohort] $t thread(s): whole default run"
    measure "whole_ombra.$t" result$t.txt "$OMBRA" --bf "$fam" --bi "$unr" --snp-list-pca pca_snps.txt --p 10 \
      --out result$t.txt --threads "$t"
  done
  runs="$saved"
  sum_runs whole_plink approx_plink test_plink
  if ! diff <(awk -F'\t' '$4 == 1 { print $1, $2 }' approx2.txt 2>/dev/null | sort) <(sort pca_keep.txt) >/dev/null; then
    note "warning: Ombra's decomposed individuals differ from pca_keep.txt"
  fi
  local choice
  choice=$(grep -h '^Components:' result2.log result1.log 2>/dev/null | head -1)

  # Accuracy of each approximation against its own tool's exact result.
  ombra_eigen gram2.Eigen_Loading.txt >o_exact.eigen 2>/dev/null || true
  ombra_eigen approx2.Eigen_Loading.txt >o_approx.eigen 2>/dev/null || true
  awk -F'\t' '$4 == 1' gram2.txt 2>/dev/null >o_exact.scores || true
  awk -F'\t' '$4 == 1' approx2.txt 2>/dev/null >o_approx.scores || true
  local oEig pEig oCor pCor passes
  oEig=$(eigen_error o_approx.eigen o_exact.eigen)
  pEig=$(eigen_error p2approx2.eigenval p2exact2.eigenval)
  oCor=$(score_corr o_approx.scores o_exact.scores 5)
  pCor=$(score_corr p2approx2.eigenvec p2exact2.eigenvec 3)
  passes=$(grep -ho 'took [0-9]* passes' logs/approx_ombra.2.1 2>/dev/null | head -1)

  COMPARE=()
  compare "components, exact (--pca-method fast: the Gram route)" gram_ombra "plink2 --pca 10" exact_plink - -
  compare "components, approximate (--pca-method approx)" approx_ombra "plink2 --pca 10 approx" approx_plink 1.0 -
  compare "test (--rp, 10 components)" test_ombra "plink2 --glm (linear, 10 covariates)" test_plink - -
  compare "whole default run (--p 10)" whole_ombra "plink2 --pca 10 approx plus --glm" whole_plink 0.5 1
  {
    echo
    echo "### cohort: 2,500 nuclear families + 10,000 unrelated individuals (15,000 in the components), 200,000 SNPs"
    echo
    machine_line
    echo "One run of each command (the exact PCA takes minutes), at --threads 2 first, then 1; wall seconds and peak"
    echo "resident memory (MB); time limit ${limit}s per run. Ratios = Ombra's faster run / the peer's faster run."
    echo
    echo "| task | Ombra, 1 thread | Ombra, 2 threads | peer | peer, 1 thread | peer, 2 threads | peer's faster | time ratio | memory ratio | target | met |"
    echo "|---|---:|---:|---|---:|---:|---|---:|---:|---|---|"
    printf '%s\n' "${COMPARE[@]}"
    echo
    echo "Accuracy at 2 threads, each approximation against its own tool's exact decomposition (leading 10):"
    echo
    echo "| | largest relative eigenvalue difference | smallest score correlation |"
    echo "|---|---:|---:|"
    echo "| Ombra approx (${passes:-? passes}) vs --pca-method fast | $oEig | $oCor |"
    echo "| PLINK 2 --pca approx vs --pca | $pEig | $pCor |"
    echo
    echo "The whole default run's route, from its log: ${choice:-not found}."
    echo "Both tools read the PLINK filesets (PLINK 2 a .pgen of both made untimed); the components come from every tenth"
    echo "SNP (--snp-list-pca; PLINK 2 --extract) of the individuals Ombra decomposes (PLINK 2 --keep). The test loads"
    echo "Ombra's approximate components (PLINK 2: as covariates). The whole run's peer figure is the sum of PLINK 2's"
    echo "approximate PCA and its regression at the same thread count (peak memory: the larger)."
  } >>"$report"
  cd "$data"
}

# ---------------------------------------------------------------- formats
bench_formats() {
  local name="$1" dir="$data/$1"
  local work="$dir/work-formats"
  rm -rf "$work"
  mkdir -p "$work/logs"
  cd "$work"
  local fam="$dir/family" unr="$dir/unrelated"
  note "[$name] PLINK 1 filesets and gzip text (made untimed)"
  for set in family unrelated; do
    plink1.9 --file "$dir/$set" --allow-no-sex --output-missing-phenotype 0 --make-bed --out "plink_$set" \
      >"logs/plink_$set.out" 2>&1 || die "plink1.9 could not convert $dir/$set"
  done
  if [ ! -s "$dir/gz/family.ped.gz" ]; then
    mkdir -p "$dir/gz"
    gzip -6 -c "$fam.ped" >"$dir/gz/family.ped.gz.part" && mv "$dir/gz/family.ped.gz.part" "$dir/gz/family.ped.gz"
    cp "$fam.map" "$dir/gz/family.map"
  fi
  cat "$fam.ped" "$dir/gz/family.ped.gz" plink_family.bed plink_unrelated.bed >/dev/null

  measure f_text o_fam.bed "$OMBRA" --f "$fam" --make-bed o_fam
  measure f_plink x_fam.bed "$OMBRA" --bf plink_family --make-bed x_fam
  measure f_gzip g_fam.bed "$OMBRA" --f "$dir/gz/family" --make-bed g_fam
  run_once logs/o_unr "$OMBRA" --i "$unr" --make-bed o_unr
  [ "$LAST_STATUS" = ok ] || die "ombra --i $unr --make-bed failed"
  measure w_ombra res_ombra.txt "$OMBRA" --bf o_fam --bi o_unr --p 10 --out res_ombra.txt
  measure w_plink res_plink.txt "$OMBRA" --bf plink_family --bi plink_unrelated --p 10 --out res_plink.txt

  ROWS=()
  row "family set from a PLINK fileset (--bf, --make-bed)" f_plink "the same from text (--f)" \
    "${SEC[f_text]}" "${MB[f_text]}"
  row "family set from gzip text (.ped.gz, --make-bed)" f_gzip "the same from plain text" \
    "${SEC[f_text]}" "${MB[f_text]}"
  row "whole default run from PLINK filesets (--p 10)" w_plink "the same from Ombra's binary sets" \
    "${SEC[w_ombra]}" "${MB[w_ombra]}"
  {
    echo
    echo "### input formats, $name set"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'); Ombra $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$root" diff --quiet HEAD 2>/dev/null || echo ' (with uncommitted changes)')." \
      "Medians of $runs runs (seconds); the peer columns are Ombra too; ratio = first / second."
    echo
    echo "| task | Ombra s | compared with | its s | ratio | Ombra MB | its MB |"
    echo "|---|---:|---|---:|---:|---:|---:|"
    printf '%s\n' "${ROWS[@]}"
    echo
    echo "The PLINK filesets are made by plink1.9 --make-bed from the text sets; the gzip file by gzip -6."
  } >>"$report"
  cd "$data"
}

# ---------------------------------------------------------------- main
install_missing
build
report="$data/report.$$.md"
: >"$report"
case "$size" in
  both) sizes=(small medium) ;;
  *) sizes=("$size") ;;
esac
for s in "${sizes[@]}"; do
  generate "$s"
  if [ "$s" = large ]; then
    [ "$formats_only" -eq 1 ] || bench_large
    continue
  fi
  if [ "$s" = cohort ]; then
    [ "$formats_only" -eq 1 ] || bench_cohort
    continue
  fi
  [ "$formats_only" -eq 1 ] || bench_size "$s"
  bench_formats "$s"
done
{
  echo "## Ombra against PLINK 1.9 / PLINK 2"
  cat "$report"
} >"$report.full"
cat "$report.full"
if [ -n "$table" ]; then
  cp "$report.full" "$table"
  note "table written to $table"
fi
rm -f "$report" "$report.full"
