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

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "association/Model.h"
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

// The plain regression's BETA SE of `count` SNPs that vary, from their
// residuals (`width` columns side by side over the trait's entries), into
// their base columns, and the p-value and -log10 p of its Wald test where
// `layout` writes them; `cross` and `squares` (width each) are scratch.
void putPlainEffects(const TraitFit& plain, const ResultLayout& layout, const double* g, size_t count, size_t width,
                     double* cross, double* squares, SnpResult* results);

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

  // The SNPs of `block`, read for the sample's entries (a short block is
  // padded with zero columns), appended to `out`; the block's values are
  // left as their residuals on the design. Safe to call from several
  // threads with their own block, scratch and output.
  void testBlock(GenotypeBlock& block, Scratch& scratch, Output& out) const { testBlock(block, scratch, &out); }
  // The same for every trait: out[t] (t < traits()) takes trait t's.
  void testBlock(GenotypeBlock& block, Scratch& scratch, Output* out) const;

 private:
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
