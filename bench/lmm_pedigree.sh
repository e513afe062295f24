#!/usr/bin/env bash
# Times the mixed model on one large pedigree against its reference: the
# same run without the model plus one eigendecomposition of the pedigree's
# relationship matrix (bench/kinship_eigen.cpp: dsyevd on one thread, as the
# model takes it).
#
#   bench/lmm_pedigree.sh [members] [snps] [unrelated] [--data DIR]
#
# Defaults: a pedigree of 3,000 members (bench/make_pedigree.py, seed 1) and
# 300 unrelated individuals beside it (the three statistics need more than
# one family), 10,000 SNPs, --p 0. Each run is timed once by the shell clock
# with its peak memory (max RSS, /usr/bin/time); the load average is printed
# too, as the machine may be shared. The figure to watch is the last line:
# the mixed model's time over the reference (at most 2).
set -euo pipefail

die() { echo "lmm_pedigree: error: $*" >&2; exit 1; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
positional=()
data=/tmp/ombra-bench-pedigree
while [ $# -gt 0 ]; do
  case "$1" in
    --data) [ $# -ge 2 ] || die "--data needs a value"; data="$2"; shift ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) positional+=("$1") ;;
  esac
  shift
done
members="${positional[0]:-3000}"
snps="${positional[1]:-10000}"
unrelated="${positional[2]:-300}"
[ -x /usr/bin/time ] || die "GNU time is not installed (apt-get install time)"
build="$root/build"
cmake --build "$build" -j2 --target ombra kinship_eigen >/dev/null
mkdir -p "$data"
cd "$data"
set_name="ped_${members}_${snps}_${unrelated}"
if [ ! -f "$set_name.bed" ]; then
  python3 "$root/bench/make_pedigree.py" "$members" "$snps" "$set_name" 1 "$unrelated"
  "$build/ombra" --f "$set_name" --make-plink-bed "$set_name" >/dev/null
  "$build/ombra" --f "${set_name}_unrelated" --make-plink-bed "${set_name}_unrelated" >/dev/null
  rm -f "$set_name.ped" "${set_name}_unrelated.ped"
fi
# Wall seconds, processor seconds (user + system) and peak MB of one command.
timed() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S %M" -o usage.txt "$@" >run.out 2>&1 || { cat run.out; die "$* failed"; }
  end=$(date +%s.%N)
  read -r user system rss <usage.txt
  echo "$(echo "$end - $start" | bc) $(echo "$user + $system" | bc) $((rss / 1024))"
}
common=(--bf "$set_name" --bi "${set_name}_unrelated" --p 0)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r plain plainCpu plainMb <<<"$(timed "$build/ombra" "${common[@]}" --out plain.tsv)"
eigen=$("$build/kinship_eigen" "$set_name.fam" | sed 's/.*eigendecomposition \([0-9.]*\) s.*/\1/')
read -r lmm lmmCpu lmmMb <<<"$(timed "$build/ombra" "${common[@]}" --model lmm --out lmm.tsv)"
grep "Mixed model" run.out || true
printf "pedigree of %s members, %s unrelated, %s SNPs\n" "$members" "$unrelated" "$snps"
printf "without the model        %8.2f s  (processor %.2f s)  %6s MB\n" "$plain" "$plainCpu" "$plainMb"
printf "one eigendecomposition   %8.2f s  (one thread)\n" "$eigen"
printf "with --model lmm         %8.2f s  (processor %.2f s)  %6s MB\n" "$lmm" "$lmmCpu" "$lmmMb"
printf "lmm / (plain + eigen)    %8.2f\n" "$(echo "$lmm / ($plain + $eigen)" | bc -l)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
