#include "numerics/ComponentScores.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// One individual's score per lane.
using Lanes = DoubleLanes;
typedef int32_t CodeLanes __attribute__((vector_size(kScoreLanes * sizeof(int32_t))));

// Components scored per pass over the SNPs (their sums stay in registers).
constexpr size_t kComponentsPerPass = 16;

// K components' sums of the lanes over every SNP, each in its SNPs' order;
// K known when the kernel is built keeps the sums in registers.
template <size_t K>
__attribute__((always_inline)) inline void scoreSums(const ScoreInputs& in, const unsigned char* const* rows,
                                                     size_t firstComponent, Lanes* out) {
  Lanes sums[K] = {};
  for (size_t s = 0; s < in.snps; ++s) {
    const size_t slot = static_cast<size_t>(in.slots[s]);
    const size_t byte = slot / 4;
    const int shift = static_cast<int>(2 * (3 - slot % 4));
    // The lanes' codes side by side, turned into their values in the
    // registers (0, 1, 2 exactly; a missing 3 the SNP's fill).
    CodeLanes codes;
    for (size_t i = 0; i < kScoreLanes; ++i) codes[i] = rows[i][byte];
    const Lanes copies = __builtin_convertvector((codes >> shift) & 3, Lanes);
    const Lanes centred = (copies == 3.0 ? Lanes{} + in.fill[s] : copies) - in.mean[s];
    const double* loading = in.loadings + s * in.components + firstComponent;
    for (size_t k = 0; k < K; ++k) sums[k] += centred * loading[k];
  }
  for (size_t k = 0; k < K; ++k) out[k] = sums[k];
}

template <size_t... K>
__attribute__((always_inline)) inline void scoreSumsOf(size_t components, const ScoreInputs& in,
                                                       const unsigned char* const* rows, size_t firstComponent,
                                                       Lanes* out, std::index_sequence<K...>) {
  // The instance for `components` (1 .. kComponentsPerPass).
  ((components == K + 1 ? scoreSums<K + 1>(in, rows, firstComponent, out) : void()), ...);
}

OMBRA_VECTOR_CLONES
void scorePass(const ScoreInputs& in, const unsigned char* const* rows, size_t firstComponent, size_t components,
               Lanes* sums) {
  scoreSumsOf(components, in, rows, firstComponent, sums, std::make_index_sequence<kComponentsPerPass>());
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
