#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing.
set -euo pipefail
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
ls /usr/lib/*/libopenblas.so >/dev/null 2>&1 || missing+=(libopenblas-dev)
[ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
[ -f /usr/include/htslib/vcf.h ] || missing+=(libhts-dev)
[ -f /usr/include/zstd.h ] || missing+=(libzstd-dev)
[ -f /usr/include/libdeflate.h ] || missing+=(libdeflate-dev)
[ -f /usr/include/sqlite3.h ] || missing+=(libsqlite3-dev)
command -v sqlite3 >/dev/null || missing+=(sqlite3)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v bgzip >/dev/null || missing+=(tabix)
command -v bcftools >/dev/null || missing+=(bcftools)
command -v snakemake >/dev/null || missing+=(snakemake)
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
