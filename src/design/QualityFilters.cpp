#include "design/QualityFilters.h"

#include <algorithm>

namespace ombra {

namespace {

// Probabilities within this factor of the observed one count as ties, so
// that rounding in the recurrence does not decide whether they are summed.
constexpr double kTieFactor = 1 + 1e-9;

}  // namespace

double hardyWeinbergP(long hets, long homs1, long homs2) {
  const long rareHoms = std::min(homs1, homs2);
  const long commonHoms = std::max(homs1, homs2);
  const long genotypes = hets + rareHoms + commonHoms;
  if (genotypes == 0) return 1;
  const long rareCopies = 2 * rareHoms + hets;
  // The most likely heterozygote count has the parity of the rare copies.
  long mid = static_cast<long>(static_cast<double>(rareCopies) * static_cast<double>(2 * genotypes - rareCopies) /
                               static_cast<double>(2 * genotypes));
  if ((mid & 1) != (rareCopies & 1)) ++mid;
  std::vector<double> probs(static_cast<size_t>(rareCopies) + 1, 0.0);
  probs[static_cast<size_t>(mid)] = 1;
  double sum = 1;
  long homR = (rareCopies - mid) / 2;
  long homC = genotypes - mid - homR;
  for (long h = mid; h > 1; h -= 2, ++homR, ++homC) {
    const double next = probs[static_cast<size_t>(h)] * static_cast<double>(h) * static_cast<double>(h - 1) /
                        (4.0 * static_cast<double>(homR + 1) * static_cast<double>(homC + 1));
    probs[static_cast<size_t>(h - 2)] = next;
    sum += next;
  }
  homR = (rareCopies - mid) / 2;
  homC = genotypes - mid - homR;
  for (long h = mid; h <= rareCopies - 2; h += 2, --homR, --homC) {
    const double next = probs[static_cast<size_t>(h)] * 4.0 * static_cast<double>(homR) * static_cast<double>(homC) /
                        (static_cast<double>(h + 2) * static_cast<double>(h + 1));
    probs[static_cast<size_t>(h + 2)] = next;
    sum += next;
  }
  const double observed = probs[static_cast<size_t>(hets)] * kTieFactor;
  double p = 0;
  for (long h = rareCopies & 1; h <= rareCopies; h += 2) {
    if (probs[static_cast<size_t>(h)] <= observed) p += probs[static_cast<size_t>(h)];
  }
  return std::min(1.0, p / sum);
}

long tallyRow(const unsigned char* row, size_t markerCount, int sign, GenotypeTally& tally, const char* selected) {
  uint64_t* counts = tally.counts.data();
  const uint64_t step = static_cast<uint64_t>(static_cast<int64_t>(sign));  // wraps for -1, as intended
  long missing = 0;
  for (size_t s = 0; s < markerCount; ++s) {
    const unsigned code = (row[s / 4] >> (2 * (3 - s % 4))) & 3u;
    counts[4 * s + code] += step;
    missing += (code == 3) & selected[s];
  }
  return missing;
}

}  // namespace ombra
