#include "association/BlockTest.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "numerics/OpenBlas.h"
#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// sums[j] += row[j]: one entry's genotypes added to their SNPs' sums.
OMBRA_VECTOR_CLONES
void addRow(double* __restrict sums, const double* __restrict row, size_t width) {
  for (size_t j = 0; j < width; ++j) sums[j] += row[j];
}

void addSquares(double* __restrict sums, const double* __restrict row, size_t width) {
  for (size_t j = 0; j < width; ++j) sums[j] += row[j] * row[j];
}

// One entry's dosages of `count` SNPs as copies, a missing one at its SNP's
// fill value (values[j][3]); whole copies come out exactly as their codes do.
void decodeDosages(const uint16_t* __restrict dosages, size_t count, const double (*values)[4],
                   double* __restrict out) {
  for (size_t j = 0; j < count; ++j) {
    out[j] = dosages[j] != kMissingDosage ? dosageCopies(dosages[j]) : values[j][3];
  }
}

// A number no other test of the process has, for the scratch its models
// keep.
uint64_t nextId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

// Models take the block's columns this many batches at a time (the mixed
// model's row pass keeps two stripes of eight columns in registers).
constexpr size_t kStripeGroup = 2;

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

double imputationInfo(double sum, double squares, size_t n) {
  const double entries = static_cast<double>(n);
  const double mean = sum / entries;
  const double f = mean / 2;
  const double expected = 2 * f * (1 - f);
  if (!(expected > 0)) return 1;
  return (squares / entries - mean * mean) / expected;
}

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

void BlockTest::testBlock(const GenotypeWindow& window, size_t firstSnp, size_t count, size_t width,
                          Scratch& scratch, Output* outs) const {
  const size_t n = sample.size();
  // A short block is padded with zero columns: the matrix products treat
  // the last columns of a product otherwise than the others, and a SNP's
  // numbers must not depend on where its block ends (a run split into
  // chunks gives the numbers of the whole run).
  decodeBlock(window, firstSnp, count, width, scratch);
  // Coefficients = (X'X)^-1 X' G, then G - X coefficients: the residuals
  // of every SNP of the block at once (G is held transposed).
  double* g = scratch.genotypes.data();
  residualiseBlock(projection, g, width, scratch.coefficients);
  prepareModels(scratch);
  std::vector<size_t>& starts = scratch.starts;
  starts.resize(terms.size());
  for (size_t t = 0; t < terms.size(); ++t) {
    starts[t] = outs[t].results.size();
    const std::vector<double> untested = layouts[t].columns.untestedValues();
    for (size_t j = 0; j < count; ++j) {
      SnpResult result;
      result.f = scratch.sums[j] / (2.0 * static_cast<double>(n));
      result.tested = n;
      result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
      result.values = untested;
      if (!sample.dosageRows.empty()) {
        result.values[base::kInfo] = imputationInfo(scratch.sums[j], scratch.valueSquares[j], n);
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
  // make a group of stripes (or `last`), while the stripes are in the cache.
  size_t striped = 0;
  auto handOverStripes = [&](size_t end, bool last) {
    if (!anyModel || end <= striped || (!last && end - striped < kStripeGroup * kTermsBatch)) return;
    for (size_t t = 0; t < terms.size(); ++t) {
      for (size_t m = 0; m < models[t].models.size(); ++m) {
        models[t].models[m]->takeStripe(residualBlock(t), striped, end, scratch.models[t][m].get());
      }
    }
    striped = end;
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
      handOverStripes(batch + kTermsBatch, false);
      for (size_t k = 0; k < kTermsBatch; ++k) {
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
  handOverStripes(std::min(width, (count + kTermsBatch - 1) / kTermsBatch * kTermsBatch), true);
  for (size_t t = 0; t < terms.size(); ++t) {
    SnpResult* results = outs[t].results.data() + starts[t];
    for (size_t m = 0; m < models[t].models.size(); ++m) {
      models[t].models[m]->finishBlock(residualBlock(t), scratch.models[t][m].get(),
                                       ModelRows(results, firstColumns[t][m]));
    }
    if (models[t].plain != nullptr && layouts[t].writes(base::kBeta, 2)) {
      plainEffects(*models[t].plain, count, width, scratch, results);
    }
  }
  const std::vector<Marker>& markers = *window.markers;
  for (size_t t = 0; t < terms.size(); ++t) {
    for (size_t j = 0; j < count; ++j) {
      appendResultLine(outs[t].lines, layouts[t], markers[firstSnp - window.firstRowSnp + j],
                       outs[t].results[starts[t] + j]);
    }
  }
}

// The plain regression's BETA SE of one trait for each SNP of the block,
// from the genotypes' residuals on the design.
void BlockTest::plainEffects(const TraitFit& plain, size_t count, size_t width, Scratch& scratch,
                             SnpResult* results) const {
  const size_t n = sample.size();
  scratch.cross.resize(width);
  scratch.squares.resize(width);
  crossAndSquares(scratch.genotypes.data(), width, n, plain.residuals.data(), scratch.cross.data(),
                  scratch.squares.data());
  const double unit = 1e-9 * static_cast<double>(n);
  for (size_t j = 0; j < count; ++j) {
    if (results[j].monomorphic) continue;
    const WaldResult wald = waldTest(scratch.cross[j], scratch.squares[j], squaresFloor(unit, results[j].f), plain);
    results[j].values[base::kBeta] = wald.beta;
    results[j].values[base::kSe] = wald.se;
  }
}

// The genotype values of the tested entries at SNPs firstSnp ..
// firstSnp + count - 1 (missing ones at their fill value), an entry's SNPs
// side by side in rows of `width` (zero beyond `count`), and each SNP's
// sum, added in entry order.
void BlockTest::decodeBlock(const GenotypeWindow& window, size_t firstSnp, size_t count, size_t width,
                            Scratch& scratch) const {
  const size_t n = sample.size();
  const size_t bytes = (count + 3) / 4;
  scratch.genotypes.resize(n * width);
  scratch.sums.assign(width, 0.0);
  // The value of each code at each SNP; the SNPs past `count` in the last
  // byte read as zeros.
  double values[kWidestBlock][4] = {};
  const size_t firstSlot = firstSnp - window.firstRowSnp;
  for (size_t j = 0; j < count; ++j) {
    values[j][1] = 1.0;
    values[j][2] = 2.0;
    values[j][3] = (*window.fill)[firstSlot + j];
  }
  const size_t firstByte = firstSlot / 4;
  constexpr size_t kAhead = 8;  // rows whose bytes are fetched ahead
  const std::vector<const unsigned char*>& rows = sample.rows;
  const bool dosages = !sample.dosageRows.empty();
  if (dosages) scratch.valueSquares.assign(width, 0.0);
  for (size_t i = 0; i < n; ++i) {
    if (dosages && sample.dosageRows[i] != nullptr) {
      double* out = scratch.genotypes.data() + i * width;
      decodeDosages(sample.dosageRows[i] + firstSlot, count, values, out);
      std::fill(out + count, out + width, 0.0);
      addRow(scratch.sums.data(), out, width);
      addSquares(scratch.valueSquares.data(), out, width);
      continue;
    }
    if (i + kAhead < n) __builtin_prefetch(rows[i + kAhead] + firstByte);
    const unsigned char* row = rows[i] + firstByte;
    double* out = scratch.genotypes.data() + i * width;
    for (size_t b = 0; b < bytes; ++b) {
      const unsigned code = row[b];
      out[4 * b] = values[4 * b][code >> 6];
      out[4 * b + 1] = values[4 * b + 1][(code >> 4) & 3];
      out[4 * b + 2] = values[4 * b + 2][(code >> 2) & 3];
      out[4 * b + 3] = values[4 * b + 3][code & 3];
    }
    std::fill(out + 4 * bytes, out + width, 0.0);
    addRow(scratch.sums.data(), out, width);
    if (dosages) addSquares(scratch.valueSquares.data(), out, width);
  }
}

}  // namespace ombra
