#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a number of seconds, one at a
# time: scripts/fuzz.sh [seconds per target, default 30] [target...]
# Each run starts from the seed and regression inputs under fuzz/corpus/ and
# keeps what it finds under build-fuzz/corpus/; a crash, a sanitizer report,
# a broken invariant or a hang leaves its input under build-fuzz/artifacts/
# and fails the script.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_map fuzz_pedigree fuzz_bed fuzz_plink fuzz_gzip_text fuzz_pca_file fuzz_snp_list fuzz_options fuzz_vcf fuzz_bgen fuzz_vcf_dosage)

# clang++ and its libFuzzer runtime.
probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe/p.cpp"
if ! command -v clang++ >/dev/null || ! clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq clang libclang-rt-14-dev
fi
"$root/scripts/setup.sh"

build="$root/build-fuzz"
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc)"

mkdir -p "$build/artifacts"
summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/$target.log"
  echo "== fuzzing $target for ${seconds}s"
  # One process; standard output closed (the program's messages are not
  # wanted here); a single input running 30 s counts as a hang.
  if ! "$build/$target" "$work" "$root/fuzz/corpus/$target" -max_total_time="$seconds" -timeout=30 \
      -rss_limit_mb=2048 -max_len=8192 -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: $target (log: $log, inputs: $build/artifacts/)"
    exit 1
  fi
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)"
  cov="$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 | grep -o 'cov: [0-9]*' | grep -o '[0-9]*' || true)"
  ft="$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 | grep -o 'ft: [0-9]*' | grep -o '[0-9]*' || true)"
  line="$target: ${runs:-?} executions, cov ${cov:-?}, ft ${ft:-?}"
  echo "$line"
  summary+=("$line")
done
echo "== fuzz summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
