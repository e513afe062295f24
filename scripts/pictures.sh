#!/usr/bin/env bash
# Makes the README's pictures, examples/manhattan.png and examples/qq.png: runs
# the README's worked example (the PLINK 1 filesets in examples/plink with the
# covariates of examples/covariates.txt) with a plot panel for each statistic,
# and turns the two SVG plots into PNG with rsvg-convert (Debian librsvg2-bin,
# installed here when missing). Builds the program in build-release when it is
# not built yet. The run's output and plots stay in example-output/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if ! command -v rsvg-convert >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq librsvg2-bin
fi
if [ ! -x "$root/build-release/ombra" ]; then
  "$root/scripts/setup.sh"
  cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build-release" -j "$(nproc)" --target ombra
fi
cd "$root"
mkdir -p example-output
# The worked example of README.md, word for word.
build-release/ombra --bf examples/plink/family --bi examples/plink/unrelated \
  --covar examples/covariates.txt --covar-name AGE,BATCH,SEX \
  --out-format tsv --out example-output/example.tsv \
  --plot example-output/example --plot-stat all
rsvg-convert -o examples/manhattan.png example-output/example.manhattan.svg
rsvg-convert -o examples/qq.png example-output/example.qq.svg
echo "Pictures: examples/manhattan.png, examples/qq.png (from example-output/example.*.svg)"
