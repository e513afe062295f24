// The per-SNP test on blocks of SNPs. A block's genotypes come decoded for
// the tested entries as one matrix (a column per SNP, GenotypeBlock), are
// residualised against the whole design by two matrix products, and each
// column then gives its SNP's statistics. A block's numbers do not depend on
// the thread that computes it or on how many there are.
//
// Ownership: the caller owns the block (one per thread, its storage reused
// from block to block) and hands it to testBlock, which leaves the
// residuals in its values; the test keeps nothing of it. What a block
// leaves for the writer (Output) holds copies of its markers, so the sink
// needs nothing of the rows or of the block once it is read again.
#ifndef OMBRA_ASSOCIATION_BLOCKTEST_H
#define OMBRA_ASSOCIATION_BLOCKTEST_H

#include <string>
#include <vector>

#include "association/MixedModel.h"
#include "association/Projection.h"
#include "association/Regression.h"
#include "association/StatisticTerms.h"
#include "design/TestedSample.h"
#include "formats/GenotypeBlock.h"
#include "outputs/ResultTable.h"
#include "stats/statistic.h"

namespace ombra {

// SNPs per block: a multiple of the statistics' batch (and so of whole
// bytes of a genotype row) that depends on the number of tested entries
// only.
size_t blockSnps(size_t entries);

// The effect sizes a test adds to the three statistics; each is left out
// when null.
struct EffectModels {
  const TraitFit* plain = nullptr;     // BETA SE: the trait's residuals on the design
  const MixedModel* mixed = nullptr;   // the mixed model's Wald test (--model lmm)
};

// Per SNP of a block (columns of `g`, `width` side by side over `n`
// entries): cross[j] = sum over h of g[h][j] y[h], squares[j] = sum of g[h][j]^2,
// each added in entry order.
void crossAndSquares(const double* g, size_t width, size_t n, const double* y, double* cross, double* squares);

// One SNP's effect columns from its sums (`model` null: the plain
// regression into beta and se; otherwise the mixed model's four).
void putEffect(double cross, double squares, double floor, const TraitFit& trait, bool mixed, SnpResult& result);

// The imputation quality of a SNP from the sum and the sum of squares of
// its values over n entries: their variance over the binomial 2f(1 - f),
// f = sum / 2n, as MACH's r-squared; 1 when f is 0 or 1.
double imputationInfo(double sum, double squares, size_t n);

class BlockTest {
 public:
  // What a block leaves for the writer: its lines and its SNPs' numbers
  // and markers.
  struct Output {
    std::string lines;
    std::vector<SnpResult> results;
    std::vector<Marker> markers;
  };
  // What one thread works on; nothing in it is shared.
  struct Scratch {
    std::vector<double> coefficients;  // SNPs of the block x design columns, column-major
    std::vector<double> work;          // the mixed model's
    std::vector<double> cross, squares;  // per SNP of the block: the regressions' sums
    TermsBatch terms;
    StatisticTool statistic;
    std::vector<size_t> starts;        // per trait: its first result of the block
  };

  // All of them must outlive the test.
  BlockTest(const TestedSample& sample, const Projection& projection, const StatisticTerms& terms,
            ResultLayout layout, EffectModels effects = {});
  // Several traits over the same tested entries: the block is decoded and
  // residualised once, and each trait's terms and effect models (which must
  // outlive the test; effects empty or one per trait) give its own
  // statistics and lines, the same numbers as a test of that trait alone.
  BlockTest(const TestedSample& sample, const Projection& projection, std::vector<const StatisticTerms*> terms,
            ResultLayout layout, std::vector<EffectModels> effects = {});

  size_t traits() const { return terms.size(); }

  // The SNPs of `block`, read for the sample's entries (a short block is
  // padded with zero columns), appended to `out`; the block's values are
  // left as their residuals on the design. Safe to call from several
  // threads with their own block, scratch and output.
  void testBlock(GenotypeBlock& block, Scratch& scratch, Output& out) const { testBlock(block, scratch, &out); }
  // The same for every trait: out[t] (t < traits()) takes trait t's.
  void testBlock(GenotypeBlock& block, Scratch& scratch, Output* out) const;

 private:
  // `striped`: the mixed model's sums over the rows are in scratch already
  // (the first trait's, taken with the statistics' stripes). `g`: the
  // block's residuals.
  void effectsOfBlock(const EffectModels& models, bool striped, const double* g, size_t count, size_t width,
                      Scratch& scratch, SnpResult* results) const;

  const TestedSample& sample;
  const Projection& projection;
  std::vector<const StatisticTerms*> terms;  // per trait
  ResultLayout layout;
  std::vector<EffectModels> effects;         // per trait
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_BLOCKTEST_H
