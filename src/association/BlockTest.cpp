#include "association/BlockTest.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "numerics/MetricKernels.h"
#include "numerics/ResidualKernels.h"
#include "numerics/VectorClones.h"
#include "stats/upperTail.h"

namespace ombra {

namespace {

// A number no other test of the process has, for the scratch its models
// keep.
uint64_t nextId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

// A block's genotype matrix stays near this many doubles (4 MB).
constexpr size_t kBlockCells = size_t{1} << 19;

// Columns the block's residuals are taken for at a time, just before the
// statistics read them (still in the cache): the residual kernel's widest
// group of columns.
constexpr size_t kResidualColumns = 2 * kDoubleLanes;

// g = g - X (P g) for columns [begin, end): the residuals on the design of
// the block's SNPs (held transposed, `width` columns side by side per
// entry), each column's sums in the order of Projection::residualise, so
// that the one-SNP route and any block width give a SNP the same residuals;
// `coefficients` is scratch.
void residualiseBlock(const Projection& projection, double* g, size_t width, size_t begin, size_t end,
                      std::vector<double>& coefficients) {
  const DesignMatrix& design = projection.design();
  coefficients.resize(design.columns * width);
  residualiseColumnRange(widestVectorLevel(), projection.byEntry(), projection.designByEntry(), design.columns,
                         design.entries, g, width, begin, end, coefficients.data());
}

}  // namespace

OMBRA_VECTOR_CLONES
void crossAndSquares(const double* g, size_t width, size_t n, const double* y, double* __restrict cross,
                     double* __restrict squares) {
  std::fill(cross, cross + width, 0.0);
  std::fill(squares, squares + width, 0.0);
  for (size_t h = 0; h < n; ++h) {
    const double* row = g + h * width;
    const double value = y[h];
    for (size_t j = 0; j < width; ++j) {
      cross[j] += row[j] * value;
      squares[j] += row[j] * row[j];
    }
  }
}

size_t blockSnps(size_t entries) {
  constexpr size_t kBatch = kTermsBatch;
  static_assert(kBatch % 4 == 0 && kWidestBlock % kBatch == 0, "blocks hold whole batches and bytes");
  const size_t fit = kBlockCells / std::max<size_t>(entries, 1);
  return std::max(kBatch, std::min(kWidestBlock, fit) / kBatch * kBatch);
}

BlockTest::BlockTest(const TestedSample& testedSample, const Projection& leastSquares,
                     const StatisticTerms& statisticTerms, ResultLayout resultLayout, TraitModels traitModels)
    : BlockTest(testedSample, leastSquares, std::vector<const StatisticTerms*>{&statisticTerms},
                std::vector<ResultLayout>{std::move(resultLayout)}, std::vector<TraitModels>{std::move(traitModels)}) {}

BlockTest::BlockTest(const TestedSample& testedSample, const Projection& leastSquares,
                     std::vector<const StatisticTerms*> traitTerms, std::vector<ResultLayout> traitLayouts,
                     std::vector<TraitModels> traitModels)
    : sample(testedSample),
      projection(leastSquares),
      terms(std::move(traitTerms)),
      layouts(std::move(traitLayouts)),
      models(std::move(traitModels)),
      id(nextId()) {
  models.resize(terms.size());
  for (const TraitModels& trait : models) firstColumns.push_back(modelColumns(trait.models));
}

void BlockTest::prepareModels(Scratch& scratch) const {
  if (scratch.owner == id) return;
  scratch.owner = id;
  scratch.models.clear();
  scratch.models.resize(terms.size());
  for (size_t t = 0; t < terms.size(); ++t) {
    for (const Model* model : models[t].models) scratch.models[t].push_back(model->newScratch());
  }
}

void BlockTest::testBlock(GenotypeBlock& block, Scratch& scratch, Output* outs) const {
  const size_t n = sample.size();
  // A short block is padded with zero columns: the matrix products treat
  // the last columns of a product otherwise than the others, and a SNP's
  // numbers must not depend on where its block ends (a run split into
  // chunks gives the numbers of the whole run).
  const size_t count = block.count();
  const size_t width = block.width;
  // Coefficients = (X'X)^-1 X' G, then G - X coefficients: the residuals
  // of the block's SNPs (G is held transposed), in the order of the one-SNP
  // route, a group of columns at a time ahead of the statistics' batches.
  double* g = block.values.data();
  size_t residualised = 0;
  auto residualiseTo = [&](size_t end) {
    if (end <= residualised) return;
    residualiseBlock(projection, g, width, residualised, end, scratch.coefficients);
    residualised = end;
  };
  prepareModels(scratch);
  std::vector<size_t>& starts = scratch.starts;
  starts.resize(terms.size());
  for (size_t t = 0; t < terms.size(); ++t) {
    starts[t] = outs[t].results.size();
    const std::vector<double> untested = layouts[t].columns.untestedValues();
    for (size_t j = 0; j < count; ++j) {
      SnpResult result;
      result.f = block.sums[j] / (2.0 * static_cast<double>(n));
      result.tested = n;
      result.called = block.called(j);
      result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
      result.values = untested;
      // Whole-call dosages (hard calls held as dosages) are as certain as calls: INFO 1.
      if (block.dosages && !block.wholeCalls[j]) {
        result.values[base::kInfo] = block.imputationInfo(j);
      }
      if (result.monomorphic) result.note = "monomorphic";
      outs[t].results.push_back(std::move(result));
    }
  }
  // What each trait's models see of the block.
  auto residualBlock = [&](size_t t) {
    return ResidualBlock{g, n, width, count, outs[t].results.data() + starts[t]};
  };
  bool anyModel = false;
  for (size_t t = 0; t < terms.size(); ++t) {
    for (size_t m = 0; m < models[t].models.size(); ++m) {
      models[t].models[m]->startBlock(residualBlock(t), scratch.models[t][m].get());
      anyModel = true;
    }
  }
  // The terms of the SNPs that vary, a batch of neighbours at a time: what
  // they take from the genotypes once, then each trait's own.
  const std::vector<SnpResult>& first = outs[0].results;
  // The models take the columns up to `end` not yet handed over, once they
  // make a group of stripes (or `last`), while the stripes are in the cache:
  // as many stripes as the mixed model's row pass keeps in registers.
  size_t striped = 0;
  auto handOverStripes = [&](size_t end, bool last) {
    if (!anyModel || end <= striped || (!last && end - striped < kMetricRowGroup * kTermsBatch)) return;
    for (size_t t = 0; t < terms.size(); ++t) {
      for (size_t m = 0; m < models[t].models.size(); ++m) {
        models[t].models[m]->takeStripe(residualBlock(t), striped, end, scratch.models[t][m].get());
      }
    }
    striped = end;
  };
  for (size_t batch = 0, next = 0; batch < count; batch = next) {
    // One trait takes two batches at once where the block has a second.
    const size_t snps = terms.size() == 1 && batch + kTermsBatch < count ? kTermsPair : kTermsBatch;
    next = batch + snps;
    bool wanted[kTermsPair];
    bool any = false;
    for (size_t k = 0; k < snps; ++k) {
      wanted[k] = batch + k < count && !first[starts[0] + batch + k].monomorphic;
      any = any || wanted[k];
    }
    if (!any) continue;
    residualiseTo(std::min(width, (next + kResidualColumns - 1) / kResidualColumns * kResidualColumns));
    // One trait takes the one-pass route; several share the genotypes' part
    // and go through the entries together.
    if (terms.size() == 1) {
      if (snps == kTermsPair) {
        terms[0]->pairTerms(g + batch, width, wanted, scratch.terms);
      } else {
        terms[0]->snpTerms(g + batch, width, wanted, scratch.terms);
      }
      handOverStripes(next, false);
      for (size_t k = 0; k < snps; ++k) {
        if (wanted[k]) {
          terms[0]->statistics(scratch.terms.terms[k], scratch.statistic, outs[0].results[starts[0] + batch + k]);
        }
      }
      continue;
    }
    terms.front()->genotypeTerms(g + batch, width, scratch.terms);
    handOverStripes(batch + kTermsBatch, false);
    StatisticTerms::traitsTerms(terms.data(), terms.size(), wanted, scratch.terms);
    for (size_t t = 0; t < terms.size(); ++t) {
      for (size_t k = 0; k < kTermsBatch; ++k) {
        if (wanted[k]) {
          terms[t]->statistics(scratch.terms.traitTerms[t * kTermsBatch + k], scratch.statistic,
                               outs[t].results[starts[t] + batch + k]);
        }
      }
    }
  }
  residualiseTo(width);
  handOverStripes(std::min(width, (count + kTermsBatch - 1) / kTermsBatch * kTermsBatch), true);
  for (size_t t = 0; t < terms.size(); ++t) {
    SnpResult* results = outs[t].results.data() + starts[t];
    for (size_t m = 0; m < models[t].models.size(); ++m) {
      models[t].models[m]->finishBlock(residualBlock(t), scratch.models[t][m].get(),
                                       ModelRows(results, firstColumns[t][m]));
    }
    if (models[t].plain != nullptr && layouts[t].writes(base::kBeta, 2)) {
      scratch.cross.resize(width);
      scratch.squares.resize(width);
      putPlainEffects(*models[t].plain, layouts[t], g, count, width, scratch.cross.data(), scratch.squares.data(),
                      results);
    }
  }
  const std::vector<Marker>& markers = block.markers;
  for (size_t t = 0; t < terms.size(); ++t) {
    for (size_t j = 0; j < count; ++j) {
      appendResultLine(outs[t].lines, layouts[t], markers[j], outs[t].results[starts[t] + j]);
    }
    outs[t].markers.insert(outs[t].markers.end(), markers.begin(), markers.end());
  }
}

void putPlainEffects(const TraitFit& plain, const ResultLayout& layout, const double* g, size_t count, size_t width,
                     double* cross, double* squares, SnpResult* results) {
  const size_t n = plain.residuals.size();
  const bool waldP = layout.writes(base::kWaldP, 2);
  crossAndSquares(g, width, n, plain.residuals.data(), cross, squares);
  const double unit = 1e-9 * static_cast<double>(n);
  for (size_t j = 0; j < count; ++j) {
    if (results[j].monomorphic) continue;
    const WaldResult wald = waldTest(cross[j], squares[j], squaresFloor(unit, results[j].f), plain);
    results[j].values[base::kBeta] = wald.beta;
    results[j].values[base::kSe] = wald.se;
    if (waldP) {
      results[j].values[base::kWaldP] = chiSquareUpperTail(wald.statistic, 1);
      results[j].values[base::kWaldLog10P] = chiSquareLog10Tail(wald.statistic, 1);
    }
  }
}

}  // namespace ombra
