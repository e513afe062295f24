// The linear mixed model with the pedigrees' own kinship (--model lmm):
//   y = X b + u + e,  Var(u + e) = sigma2 (h2 K + (1 - h2) I),  K = 2 Phi,
// over the tested entries, X the design (constant, scores, covariates). K is
// block-diagonal by family pedigree (unrelated entries are blocks of one
// with K = 1), so each block's eigendecomposition K_f = U_f L_f U_f' is
// taken once; rotated by U', the covariance is diagonal, h2 L + 1 - h2, and
// the restricted likelihood of any h2 costs O(p^2) per distinct eigenvalue
// (entries sharing one weigh alike). h2 is estimated by
// restricted maximum likelihood (a grid over [0, 1], then a golden-section
// search in the best cell) and then held fixed for every SNP (as EMMAX and
// fastGWA do): each SNP's test is the generalised least-squares Wald test
// of the model, ordinary least squares on the rotated data scaled by
// 1 / sqrt(h2 l + 1 - h2).
//
// Per SNP the test starts from the genotype's ordinary residuals r on X,
// which the plain test has computed already: since the residual of GLS
// does not change when columns of X are added to g, and X'r = 0,
//   g'V^-1 e            = r' z,  z = V^-1 e (e: the trait's GLS residual),
//   residual squares    = r'V^-1 r - c' A^-1 c,  c = X'(V^-1 - I) r,  A = X'V^-1 X,
// and V^-1 - I is zero outside the families (an unrelated individual has
// V = 1). So a SNP costs O(sum of family sizes^2 + family members x p)
// beyond the plain test, not another pass over the design.
#ifndef OMBRA_ASSOCIATION_MIXEDMODEL_H
#define OMBRA_ASSOCIATION_MIXEDMODEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "association/Regression.h"
#include "design/TestedSample.h"
#include "numerics/MetricKernels.h"

namespace ombra {

// The eigendecomposition of each family's block of K over the tested
// entries, and the rotation of entry-major values by it.
class FamilyRotation {
 public:
  // `relationships`: per family pedigree, K over its tested entries (m x m
  // row-major, m given by sample.familyEntryEnd); every other entry has
  // K = 1.
  FamilyRotation(const TestedSample& sample, const std::vector<std::vector<double>>& relationships);

  // Per entry, the eigenvalue of K its rotated row stands for.
  const std::vector<double>& eigenvalues() const { return lambda; }

  // out = diag(scale) U' in over `entries x width` values, row-major (an
  // entry's `width` values side by side); in and out must not overlap.
  void rotate(const double* in, size_t width, const double* scale, double* out) const;

  struct Block {
    size_t begin = 0, size = 0;
    std::vector<double> vectors;  // [i * size + k]: component k of eigenvector i
  };
  // Families with two tested entries or more.
  const std::vector<Block>& familyBlocks() const { return blocks; }

 private:
  std::vector<Block> blocks;
  std::vector<double> lambda;
  size_t entries = 0;
};

// What the null model's fit reports.
struct NullModelFit {
  double h2 = 0;
  double sigma2 = 0;          // total variance
  double logLikelihood = 0;   // restricted, at h2
  bool fixed = false;         // h2 given by the user, not estimated
  bool boundary = false;      // the estimate is 0 or 1
  bool converged = true;      // the search's interval shrank below its tolerance
  int evaluations = 0;
  double interval = 0;        // width of the search's last interval
};

class MixedModel {
 public:
  // Fits the null model (h2 estimated, or `fixedH2` when it is a number) and
  // prepares the rotated design and trait. Stops the run when the design
  // leaves no degree of freedom for a SNP or when the likelihood is not
  // finite at any h2. All arguments may go once it is built.
  MixedModel(const TestedSample& sample, const std::vector<std::vector<double>>& relationships,
             const DesignMatrix& design, double fixedH2);
  MixedModel(const MixedModel&) = delete;
  MixedModel& operator=(const MixedModel&) = delete;

  const NullModelFit& fit() const { return nullFit; }
  // The lines that report the fit.
  std::string report() const;

  // The sums of the Wald test of `width` SNPs from their ordinary residuals
  // on the design (entries x width, row-major): per SNP, the cross-product
  // of genotype and trait in the model's metric (`cross`) and the
  // genotype's residual squares there (`squares`). `work` is scratch.
  void snpSums(const double* residuals, size_t width, double* cross, double* squares,
               std::vector<double>& work) const;
  // snpSums in its four steps, the same numbers, for a caller that goes
  // through a block in stripes of columns while they are in the cache: for
  // `count` columns whose rows lie `stride` apart, rowSums sets cross and
  // squares without the design's share and without the large families' V^-1
  // - I, which familySquares then adds to the squares of a whole block at
  // once (a triangular solve per family), and explainedSums sets c = X'(V^-1
  // - I) r (p rows, `cStride` apart); lessExplained then takes c' A^-1 c
  // from each of `width` columns' squares. No column's bits depend on how
  // the columns are grouped (but a single column's on its own, see
  // kRotatedColumns).
  void rowSums(const double* residuals, size_t stride, size_t count, double* cross, double* squares) const;
  void familySquares(const double* residuals, size_t stride, size_t count, double* squares) const;
  // rowSums takes this many stripes of eight columns together where it can.
  static constexpr size_t kRowGroup = kMetricRowGroup;
  void explainedSums(const double* residuals, size_t stride, size_t count, double* c, size_t cStride) const;
  void lessExplained(const double* c, size_t width, double* squares) const;
  // Columns of the design (the rows of c).
  size_t designColumns() const { return p; }
  // The trait's side: its residual squares in the model's metric and the
  // degrees of freedom left.
  const TraitFit& trait() const { return rotatedTrait; }
  // A SNP whose residual squares are no more than this (per unit of
  // 2f(1 - f)) has no variance left to test.
  double floorPerVariance() const { return floor; }

  // The restricted log-likelihood at h2 of the rotated (unscaled) trait and
  // design, minus infinity where it is not defined.
  double restrictedLikelihood(double h2) const;

 private:
  void estimate();

  FamilyRotation rotation;
  size_t n = 0, p = 0;
  std::vector<double> rotatedX;  // unscaled, column-major [k * n + h]
  std::vector<double> rotatedY;  // unscaled
  // The entries that share an eigenvalue (every unrelated entry, and the
  // families of one shape) weigh alike at any h2, so the likelihood takes
  // each such group's sums of x x', x y and y y, gathered once; an
  // eigenvalue shared by fewer than p entries leaves them on their own.
  struct EqualWeights {
    double eigenvalue = 0;
    double count = 0;
    std::vector<double> xx;  // p x p, the lower triangle
    std::vector<double> xy;
    double yy = 0;
  };
  std::vector<EqualWeights> likelihoodGroups;
  std::vector<size_t> loneEntries;
  void groupEqualWeights();
  NullModelFit nullFit;
  // V^-1 - I over the entries it is not zero on (sigma2 left aside).
  using Excess = DiagonalBlock;
  std::vector<Excess> excess;    // in entry order; the small families' only once built
  std::vector<RotatedBlock> rotatedFamilies;  // the large families' (their vectors the rotation's)
  // Per large family: V's Cholesky factor over its rows (column-major lower;
  // empty where V is not positive definite, and the rotation stands in).
  std::vector<std::vector<double>> familyFactors;
  void factorFamilies(const TestedSample& sample, const std::vector<std::vector<double>>& relationships);
  size_t excessEnd = 0;          // the entry after the last with V^-1 - I not zero
  // X'(V^-1 - I) over entries before excessEnd, an entry's weights side by
  // side, p padded with zeros to a multiple of four: [h * columns + k].
  std::vector<double> excessDesign;
  std::vector<std::pair<size_t, size_t>> excessRows;  // each family's entries [begin, end)
  std::vector<double> inverse;   // A^-1, p x p
  std::vector<double> weighted;  // z = V^-1 e, per entry
  TraitFit rotatedTrait;         // e' V^-1 e and n - p - 1
  double floor = 0;
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_MIXEDMODEL_H
