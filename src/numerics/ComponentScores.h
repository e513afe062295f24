// The component scores of individuals: the projections of their centred
// genotypes on the leading left singular vectors, each score adding its
// terms in SNP order (so that it is the same number however the individuals
// are grouped or the work is shared between threads).
#ifndef OMBRA_NUMERICS_COMPONENTSCORES_H
#define OMBRA_NUMERICS_COMPONENTSCORES_H

#include <cstddef>

#include "numerics/VectorClones.h"

namespace ombra {

// Individuals scored side by side by one call.
constexpr size_t kScoreLanes = kDoubleLanes;

struct ScoreInputs {
  const int* slots = nullptr;       // per PCA SNP: its slot in the packed genotype rows
  const double* fill = nullptr;     // per PCA SNP: the value of a missing call
  const double* mean = nullptr;     // per PCA SNP: the mean it is centred on
  const double* loadings = nullptr; // row-major PCA SNPs x components
  size_t snps = 0;
  size_t components = 0;
};

// scores[i][k] = sum over PCA SNPs s, in order, of (genotype of rows[i] at
// s - mean[s]) * loadings[s][k], for the `count` (at most kScoreLanes)
// rows given. Genotypes are packed two bits each, four to a byte with the
// first in the top bits; 3 is missing.
void componentScores(const ScoreInputs& in, const unsigned char* const* rows, double* const* scores, size_t count);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_COMPONENTSCORES_H
