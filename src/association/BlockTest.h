// The per-SNP test on blocks of SNPs. A block's genotypes are decoded for
// the tested entries into one matrix (a column per SNP), residualised
// against the whole design by two matrix products, and each column then
// gives its SNP's statistics. A block's numbers do not depend on the thread
// that computes it or on how many there are.
#ifndef OMBRA_ASSOCIATION_BLOCKTEST_H
#define OMBRA_ASSOCIATION_BLOCKTEST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "association/Model.h"
#include "association/Projection.h"
#include "association/Regression.h"
#include "association/StatisticTerms.h"
#include "design/TestedSample.h"
#include "outputs/ResultTable.h"
#include "stats/statistic.h"

namespace ombra {

// The SNPs of the widest block.
constexpr size_t kWidestBlock = 256;

// SNPs per block: a multiple of the statistics' batch (and so of whole
// bytes of a genotype row) that depends on the number of tested entries
// only.
size_t blockSnps(size_t entries);

// The genotypes a block reads: rows of the tested entries whose slot 0 holds
// SNP `firstRowSnp`, each SNP's value for a missing call, and the markers of
// the rows' SNPs.
struct GenotypeWindow {
  size_t firstRowSnp = 0;
  const std::vector<double>* fill = nullptr;     // per SNP of the rows, from slot 0
  const std::vector<Marker>* markers = nullptr;  // per SNP of the rows, from slot 0
};

// What a trait's test adds to the three statistics: the plain regression's
// BETA SE (computed where the layout writes them) and the run's models, in
// the order of their columns; all must outlive the test.
struct TraitModels {
  const TraitFit* plain = nullptr;  // the trait's residuals on the design
  std::vector<const Model*> models;
};

// Per SNP of a block (columns of `g`, `width` side by side over `n`
// entries): cross[j] = sum over h of g[h][j] y[h], squares[j] = sum of g[h][j]^2,
// each added in entry order.
void crossAndSquares(const double* g, size_t width, size_t n, const double* y, double* cross, double* squares);

// The imputation quality of a SNP from the sum and the sum of squares of
// its values over n entries: their variance over the binomial 2f(1 - f),
// f = sum / 2n, as MACH's r-squared; 1 when f is 0 or 1.
double imputationInfo(double sum, double squares, size_t n);

class BlockTest {
 public:
  // What a block leaves for the writer: its lines and its SNPs' numbers.
  struct Output {
    std::string lines;
    std::vector<SnpResult> results;
  };
  // What one thread works on; nothing in it is shared.
  struct Scratch {
    std::vector<double> genotypes;     // entries x SNPs of the block, row-major (an entry's SNPs side by side)
    std::vector<double> coefficients;  // SNPs of the block x design columns, column-major
    std::vector<double> sums;          // per SNP of the block
    std::vector<double> valueSquares;  // per SNP of the block: its values' squares, for dosages
    std::vector<double> cross, squares;  // per SNP of the block: the plain regression's sums
    TermsBatch terms;
    StatisticTool statistic;
    std::vector<size_t> starts;        // per trait: its first result of the block
    // Per trait, per model: the model's own, made for the test whose id is `owner`.
    uint64_t owner = 0;
    std::vector<std::vector<std::unique_ptr<ModelScratch>>> models;
  };

  // All of them must outlive the test; `layout` is the trait's sink's (its
  // columns those of resultColumns(models.models)).
  BlockTest(const TestedSample& sample, const Projection& projection, const StatisticTerms& terms,
            ResultLayout layout, TraitModels models = {});
  // Several traits over the same tested entries: the block is decoded and
  // residualised once, and each trait's terms, layout and models (which must
  // outlive the test; models empty or one per trait) give its own
  // statistics and lines, the same numbers as a test of that trait alone.
  BlockTest(const TestedSample& sample, const Projection& projection, std::vector<const StatisticTerms*> terms,
            std::vector<ResultLayout> layouts, std::vector<TraitModels> models = {});

  size_t traits() const { return terms.size(); }

  // SNPs firstSnp .. firstSnp + count - 1 (within the window's rows), in a
  // block of `width` columns (count at most width; a short block is padded
  // with zero columns), appended to `out`. Safe to call from several threads
  // with their own scratch and output.
  void testBlock(const GenotypeWindow& window, size_t firstSnp, size_t count, size_t width, Scratch& scratch,
                 Output& out) const {
    testBlock(window, firstSnp, count, width, scratch, &out);
  }
  // The same for every trait: out[t] (t < traits()) takes trait t's.
  void testBlock(const GenotypeWindow& window, size_t firstSnp, size_t count, size_t width, Scratch& scratch,
                 Output* out) const;

 private:
  void decodeBlock(const GenotypeWindow& window, size_t firstSnp, size_t count, size_t width, Scratch& scratch) const;
  void plainEffects(const TraitFit& plain, size_t count, size_t width, Scratch& scratch,
                    SnpResult* results) const;
  // Each trait's models' scratch in `scratch`, made anew when another test used it.
  void prepareModels(Scratch& scratch) const;

  const TestedSample& sample;
  const Projection& projection;
  std::vector<const StatisticTerms*> terms;  // per trait
  std::vector<ResultLayout> layouts;         // per trait
  std::vector<TraitModels> models;           // per trait
  std::vector<std::vector<size_t>> firstColumns;  // per trait, per model: its first column
  uint64_t id;                               // which test a scratch's models' scratch belongs to
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_BLOCKTEST_H
