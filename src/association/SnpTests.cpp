#include "association/SnpTests.h"

#include <algorithm>
#include <cmath>

#include "association/BlockTest.h"
#include "association/Projection.h"
#include "association/StatisticTerms.h"
#include "numerics/OpenBlas.h"
#include "numerics/SharedWork.h"
#include "outputs/Progress.h"

namespace ombra {

namespace {

// Blocks handed out per thread before the finished lines are written.
constexpr size_t kBlocksPerThread = 8;

// The trait's residuals on the design, per entry.
std::vector<double> traitResiduals(const TestedSample& sample, const Projection& projection) {
  std::vector<double> values = sample.traits;
  projection.residualise(values);
  return values;
}

// Blocks of SNPs shared out between threads; the lines are written in map
// order. Memory running out in any thread ends the run as it does on the
// main thread.
void testInBlocks(Cohort& cohort, GenotypeStore& store, const TestedSample& sample, const Projection& projection,
                  const StatisticTerms& terms, EffectModels effects, int threadCount, ResultSink& sink) {
  // Every thread calls the kernels on its own block; OpenBLAS's own threads
  // would only compete with them.
  openBlas().setThreads(1);
  const BlockTest test(sample, projection, terms, sink.layout(), effects);
  const size_t snps = store.markerCount();
  const size_t width = blockSnps(sample.size());
  const size_t blocks = (snps + width - 1) / width;
  const size_t threads = static_cast<size_t>(std::max(1, threadCount));
  // A streamed run reads the genotypes of each window's blocks first.
  const size_t window = store.streaming()
                            ? std::max<size_t>(1, store.windowSnps(cohort, kWidestBlock, threads) / width)
                            : threads * kBlocksPerThread;
  std::vector<BlockTest::Output> outputs(window);
  std::vector<BlockTest::Scratch> scratch(threads);
  Progress progress("Testing snps", snps);
  for (size_t first = 0; first < blocks; first += window) {
    progress.update(std::min(snps, first * width));
    const size_t count = std::min(window, blocks - first);
    if (store.streaming()) store.fillWindow(cohort, first * width, std::min(snps, (first + count) * width) - first * width);
    const GenotypeWindow rows{store.firstRowSnp(), &store.meanDosage, &store.markers};
    shareWork(count, threads, [&](size_t b, size_t worker) {
      const size_t firstSnp = (first + b) * width;
      test.testBlock(rows, firstSnp, std::min(width, snps - firstSnp), width, scratch[worker], outputs[b]);
    });
    for (size_t b = 0; b < count; ++b) {
      sink.put(outputs[b].lines);
      const size_t firstSlot = (first + b) * width - store.firstRowSnp();
      for (size_t j = 0; j < outputs[b].results.size(); ++j) {
        sink.add(outputs[b].results[j], store.markers[firstSlot + j]);
      }
      outputs[b].lines.clear();
      outputs[b].results.clear();
    }
  }
}

// One SNP at a time, its genotypes residualised on their own.
void testOneByOne(const GenotypeStore& store, const TestedSample& sample, const Projection& projection,
                  const StatisticTerms& terms, EffectModels effects, ResultSink& sink) {
  const size_t n = sample.size();
  const std::vector<Marker>& markers = store.markers;
  std::vector<double> genotypes(n), work;
  TermsBatch batch;
  StatisticTool tool;
  std::string lines;
  Progress progress("Testing snps", markers.size());
  for (size_t m = 0; m < markers.size(); ++m) {
    if (m % 256 == 0) progress.update(m);
    const double missing = store.missingValue(m);
    double sum = 0;
    for (size_t h = 0; h < n; ++h) {
      const int code = genotypeCode(sample.rows[h], m);
      const double value = code != 3 ? code : missing;
      genotypes[h] = value;
      sum += value;
    }
    SnpResult result;
    result.f = sum / (2.0 * static_cast<double>(n));
    result.tested = n;
    result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
    if (!result.monomorphic) {
      double cross = 0, squares = 0;
      const double variance = 2 * result.f * (1 - result.f);
      projection.residualise(genotypes);
      terms.statistics(terms.snpTerms(genotypes, batch), tool, result);
      if (effects.mixed != nullptr) {
        effects.mixed->snpSums(genotypes.data(), 1, &cross, &squares, work);
        putEffect(cross, squares, effects.mixed->floorPerVariance() * variance, effects.mixed->trait(), true, result);
      }
      if (effects.plain != nullptr) {
        crossAndSquares(genotypes.data(), 1, n, effects.plain->residuals.data(), &cross, &squares);
        putEffect(cross, squares, 1e-9 * static_cast<double>(n) * variance, *effects.plain, false, result);
      }
    }
    appendResultLine(lines, sink.layout(), markers[m], result);
    sink.add(result, markers[m]);
    if (lines.size() >= (size_t{1} << 20)) {
      sink.put(lines);
      lines.clear();
    }
  }
  sink.put(lines);
}

}  // namespace

bool testsInBlocks(Adjustment adjustment) { return adjustment == Adjustment::kIntercept && openBlas().loaded(); }

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 const MixedModel* mixedModel)
    : sample(testedSample),
      projection(design),
      plain(traitFit(traitResiduals(testedSample, projection), design.columns)),
      terms(plain.residuals, testedSample.familyEntries, testedSample.familyEntryEnd),
      mixed(mixedModel) {}

void AssociationTest::testEverySnp(Cohort& cohort, GenotypeStore& store, int threads, ResultSink& sink) const {
  EffectModels effects;
  if (sink.layout().format == ResultFormat::kTsv) effects.plain = &plain;
  effects.mixed = mixed;
  if (testsInBlocks(store.fillRule())) {
    testInBlocks(cohort, store, sample, projection, terms, effects, threads, sink);
  } else {
    testOneByOne(store, sample, projection, terms, effects, sink);
  }
}

}  // namespace ombra
