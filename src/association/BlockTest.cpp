#include "association/BlockTest.h"

#include <algorithm>
#include <cmath>

#include "numerics/OpenBlas.h"
#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// A block's genotype matrix stays near this many doubles (4 MB).
constexpr size_t kBlockCells = size_t{1} << 19;

// g = g - X (P g): the residuals on the design of the block's SNPs (held
// transposed, `width` columns side by side per entry) by two matrix
// products; `coefficients` is scratch.
void residualiseBlock(const Projection& projection, double* g, size_t width, std::vector<double>& coefficients) {
  const DesignMatrix& design = projection.design();
  const int p = static_cast<int>(design.columns);
  const int entries = static_cast<int>(design.entries);
  const int columns = static_cast<int>(width);
  coefficients.resize(static_cast<size_t>(p) * width);
  const OpenBlas& blas = openBlas();
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasTrans, columns, p, entries, 1.0, g, columns, projection.byEntry(), p,
             0.0, coefficients.data(), columns);
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasTrans, columns, entries, p, -1.0, coefficients.data(), columns,
             design.values.data(), entries, 1.0, g, columns);
}

// The floor below which a SNP's squared residuals (per unit `unit`) count
// as none: the SNP is a combination of the design's columns.
double squaresFloor(double unit, double f) { return unit * 2 * f * (1 - f); }

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

void putEffect(double cross, double squares, double floor, const TraitFit& trait, bool mixed, SnpResult& result) {
  const WaldResult wald = waldTest(cross, squares, floor, trait);
  if (!mixed) {
    result.beta = wald.beta;
    result.se = wald.se;
    return;
  }
  result.lmmBeta = wald.beta;
  result.lmmSe = wald.se;
  result.lmmStatistic = wald.statistic;
  result.lmmP = chiSquareOneTail(wald.statistic);
}

size_t blockSnps(size_t entries) {
  constexpr size_t kBatch = kTermsBatch;
  static_assert(kBatch % 4 == 0 && kWidestBlock % kBatch == 0, "blocks hold whole batches and bytes");
  const size_t fit = kBlockCells / std::max<size_t>(entries, 1);
  return std::max(kBatch, std::min(kWidestBlock, fit) / kBatch * kBatch);
}

BlockTest::BlockTest(const TestedSample& testedSample, const Projection& leastSquares,
                     const StatisticTerms& statisticTerms, ResultLayout resultLayout, EffectModels effectModels)
    : BlockTest(testedSample, leastSquares, std::vector<const StatisticTerms*>{&statisticTerms}, resultLayout,
                std::vector<EffectModels>{effectModels}) {}

double imputationInfo(double sum, double squares, size_t n) {
  const double entries = static_cast<double>(n);
  const double mean = sum / entries;
  const double f = mean / 2;
  const double expected = 2 * f * (1 - f);
  if (!(expected > 0)) return 1;
  return (squares / entries - mean * mean) / expected;
}

BlockTest::BlockTest(const TestedSample& testedSample, const Projection& leastSquares,
                     std::vector<const StatisticTerms*> traitTerms, ResultLayout resultLayout,
                     std::vector<EffectModels> effectModels)
    : sample(testedSample),
      projection(leastSquares),
      terms(std::move(traitTerms)),
      layout(resultLayout),
      effects(std::move(effectModels)) {
  effects.resize(terms.size());
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
  // of every SNP of the block at once (G is held transposed).
  double* g = block.values.data();
  residualiseBlock(projection, g, width, scratch.coefficients);
  // The mixed model's sums over the rows go stripe by stripe below, while
  // the statistics' pass has the stripe in the cache.
  const MixedModel* mixed = effects[0].mixed;
  if (mixed != nullptr) {
    scratch.work.assign(mixed->designColumns() * width, 0.0);
    scratch.cross.assign(width, 0.0);
    scratch.squares.assign(width, 0.0);
  }
  std::vector<size_t>& starts = scratch.starts;
  starts.resize(terms.size());
  for (size_t t = 0; t < terms.size(); ++t) {
    starts[t] = outs[t].results.size();
    for (size_t j = 0; j < count; ++j) {
      SnpResult result;
      result.f = block.sums[j] / (2.0 * static_cast<double>(n));
      result.tested = n;
      result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
      if (block.dosages) result.info = imputationInfo(block.sums[j], block.squares[j], n);
      outs[t].results.push_back(result);
    }
  }
  // The terms of the SNPs that vary, a batch of neighbours at a time: what
  // they take from the genotypes once, then each trait's own.
  const std::vector<SnpResult>& first = outs[0].results;
  // The mixed model's sums over the rows of the columns up to `end` not yet
  // summed, once they make a group of stripes (or `last`).
  size_t summed = 0;
  auto sumStripes = [&](size_t end, bool last) {
    if (mixed == nullptr || end <= summed || (!last && end - summed < MixedModel::kRowGroup * kTermsBatch)) return;
    mixed->rowSums(g + summed, width, end - summed, scratch.cross.data() + summed, scratch.squares.data() + summed);
    mixed->explainedSums(g + summed, width, end - summed, scratch.work.data() + summed, width);
    summed = end;
  };
  for (size_t batch = 0; batch < count; batch += kTermsBatch) {
    bool wanted[kTermsBatch];
    bool any = false;
    for (size_t k = 0; k < kTermsBatch; ++k) {
      wanted[k] = batch + k < count && !first[starts[0] + batch + k].monomorphic;
      any = any || wanted[k];
    }
    if (!any) continue;
    // One trait takes the one-pass route; several share the genotypes' part
    // and go through the entries together.
    if (terms.size() == 1) {
      terms[0]->snpTerms(g + batch, width, wanted, scratch.terms);
      sumStripes(batch + kTermsBatch, false);
      for (size_t k = 0; k < kTermsBatch; ++k) {
        if (wanted[k]) {
          terms[0]->statistics(scratch.terms.terms[k], scratch.statistic, outs[0].results[starts[0] + batch + k]);
        }
      }
      continue;
    }
    terms.front()->genotypeTerms(g + batch, width, scratch.terms);
    sumStripes(batch + kTermsBatch, false);
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
  sumStripes(std::min(width, (count + kTermsBatch - 1) / kTermsBatch * kTermsBatch), true);
  for (size_t t = 0; t < terms.size(); ++t) {
    effectsOfBlock(effects[t], t == 0, g, count, width, scratch, outs[t].results.data() + starts[t]);
  }
  const std::vector<Marker>& markers = block.markers;
  for (size_t t = 0; t < terms.size(); ++t) {
    for (size_t j = 0; j < count; ++j) {
      appendResultLine(outs[t].lines, layout, markers[j], outs[t].results[starts[t] + j]);
    }
    outs[t].markers.insert(outs[t].markers.end(), markers.begin(), markers.end());
  }
}

// The effect sizes of one trait for each SNP of the block, from the
// genotypes' residuals on the design: the mixed model's Wald test and the
// plain regression's BETA SE, where the trait has them.
void BlockTest::effectsOfBlock(const EffectModels& models, bool striped, const double* g, size_t count,
                               size_t width, Scratch& scratch, SnpResult* results) const {
  const size_t n = sample.size();
  if (models.mixed != nullptr) {
    // The first trait's sums over the rows are the stripes' of testBlock.
    const MixedModel& model = *models.mixed;
    if (striped) {
      model.lessExplained(scratch.work.data(), width, scratch.squares.data());
    } else {
      scratch.cross.resize(width);
      scratch.squares.resize(width);
      model.snpSums(g, width, scratch.cross.data(), scratch.squares.data(), scratch.work);
    }
    for (size_t j = 0; j < count; ++j) {
      if (results[j].monomorphic) continue;
      putEffect(scratch.cross[j], scratch.squares[j], squaresFloor(model.floorPerVariance(), results[j].f),
                model.trait(), true, results[j]);
    }
  }
  if (models.plain != nullptr) {
    scratch.cross.resize(width);
    scratch.squares.resize(width);
    crossAndSquares(g, width, n, models.plain->residuals.data(), scratch.cross.data(),
                    scratch.squares.data());
    const double unit = 1e-9 * static_cast<double>(n);
    for (size_t j = 0; j < count; ++j) {
      if (results[j].monomorphic) continue;
      putEffect(scratch.cross[j], scratch.squares[j], squaresFloor(unit, results[j].f), *models.plain, false,
                results[j]);
    }
  }
}

}  // namespace ombra
