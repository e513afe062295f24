#include "numerics/ComponentScores.h"

#include <algorithm>

#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// One individual's score per lane.
using Lanes = DoubleLanes;

// Components scored per pass over the SNPs (their sums stay in registers).
constexpr size_t kComponentsPerPass = 16;

OMBRA_VECTOR_CLONES
void scorePass(const ScoreInputs& in, const unsigned char* const* rows, size_t firstComponent, size_t components,
               Lanes* sums) {
  for (size_t k = 0; k < components; ++k) sums[k] = Lanes{};
  for (size_t s = 0; s < in.snps; ++s) {
    const size_t slot = static_cast<size_t>(in.slots[s]);
    const size_t byte = slot / 4;
    const int shift = static_cast<int>(2 * (3 - slot % 4));
    const double values[4] = {0.0, 1.0, 2.0, in.fill[s]};
    double genotypes[kScoreLanes];
    for (size_t i = 0; i < kScoreLanes; ++i) genotypes[i] = values[(rows[i][byte] >> shift) & 3];
    const Lanes centred = *reinterpret_cast<const Lanes*>(genotypes) - in.mean[s];
    const double* loading = in.loadings + s * in.components + firstComponent;
    for (size_t k = 0; k < components; ++k) sums[k] += centred * loading[k];
  }
}

}  // namespace

void componentScores(const ScoreInputs& in, const unsigned char* const* rows, double* const* scores, size_t count) {
  // Lanes without an individual read the first one's row, and are dropped.
  const unsigned char* lanes[kScoreLanes];
  for (size_t i = 0; i < kScoreLanes; ++i) lanes[i] = rows[i < count ? i : 0];
  Lanes sums[kComponentsPerPass];
  for (size_t first = 0; first < in.components; first += kComponentsPerPass) {
    const size_t components = std::min(kComponentsPerPass, in.components - first);
    scorePass(in, lanes, first, components, sums);
    for (size_t i = 0; i < count; ++i) {
      for (size_t k = 0; k < components; ++k) scores[i][first + k] = sums[k][i];
    }
  }
}

}  // namespace ombra
