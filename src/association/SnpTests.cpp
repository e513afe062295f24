#include "association/SnpTests.h"

#include <algorithm>
#include <cmath>

#include "association/BlockTest.h"
#include "association/Projection.h"
#include "association/StatisticTerms.h"
#include "formats/GenotypeBlock.h"
#include "numerics/OpenBlas.h"
#include "numerics/SharedWork.h"
#include "outputs/Progress.h"

namespace ombra {

namespace {

// Blocks handed out per thread before the finished lines are written.
constexpr size_t kBlocksPerThread = 8;

// One group's share of a pass: its tested sample, projection, the terms of
// each of its traits and each trait's sink.
struct GroupWork {
  const TestedSample* sample;
  const Projection* projection;
  std::vector<const StatisticTerms*> terms;
  std::vector<EffectModels> effects;  // per trait
  std::vector<ResultSink*> sinks;
};

// Blocks of SNPs of one width shared out between threads, for every group
// of that width; each group's lines are written in map order. Memory running
// out in any thread ends the run as it does on the main thread.
void testInBlocks(Cohort& cohort, GenotypeStore& store, const std::vector<GroupWork>& groups, size_t width,
                  int threadCount) {
  // Every thread calls the kernels on its own block; OpenBLAS's own threads
  // would only compete with them.
  openBlas().setThreads(1);
  std::vector<BlockTest> tests;
  for (const GroupWork& group : groups) {
    tests.emplace_back(*group.sample, *group.projection, group.terms, group.sinks.front()->layout(), group.effects);
  }
  const size_t groupCount = groups.size();
  const size_t snps = store.markerCount();
  const size_t blocks = (snps + width - 1) / width;
  const size_t threads = static_cast<size_t>(std::max(1, threadCount));
  // A streamed run reads the genotypes of each window's blocks first.
  const size_t window = store.streaming()
                            ? std::max<size_t>(1, store.windowSnps(cohort, kWidestBlock, threads) / width)
                            : threads * kBlocksPerThread;
  // Per block of the window and group (block-major), per trait.
  std::vector<std::vector<BlockTest::Output>> outputs(window * groupCount);
  for (size_t u = 0; u < outputs.size(); ++u) outputs[u].resize(groups[u % groupCount].terms.size());
  std::vector<BlockTest::Scratch> scratch(threads);
  std::vector<GenotypeBlock> genotypes(threads);  // per thread, read again for each of its blocks
  Progress progress("Testing snps", snps);
  for (size_t first = 0; first < blocks; first += window) {
    progress.update(std::min(snps, first * width));
    const size_t count = std::min(window, blocks - first);
    if (store.streaming()) store.fillWindow(cohort, first * width, std::min(snps, (first + count) * width) - first * width);
    shareWork(count * groupCount, threads, [&](size_t unit, size_t worker) {
      const size_t firstSnp = (first + unit / groupCount) * width;
      const GroupWork& group = groups[unit % groupCount];
      readBlock(store, cohort, group.sample->entries, firstSnp, std::min(width, snps - firstSnp), width,
                genotypes[worker]);
      tests[unit % groupCount].testBlock(genotypes[worker], scratch[worker], outputs[unit].data());
    });
    for (size_t g = 0; g < groupCount; ++g) {
      for (size_t b = 0; b < count; ++b) {
        for (size_t t = 0; t < groups[g].sinks.size(); ++t) {
          BlockTest::Output& output = outputs[b * groupCount + g][t];
          ResultSink& sink = *groups[g].sinks[t];
          sink.put(output.lines);
          for (size_t j = 0; j < output.results.size(); ++j) sink.add(output.results[j], output.markers[j]);
          output.lines.clear();
          output.results.clear();
          output.markers.clear();
        }
      }
    }
  }
}

// One SNP at a time, its genotypes residualised on their own, once for all
// of the group's traits.
// One SNP's effect sizes from its genotypes' residuals: the mixed model's
// Wald test and the plain regression's BETA SE, where the trait has them.
void putEffects(const EffectModels& models, const std::vector<double>& genotypes, std::vector<double>& work,
                SnpResult& result) {
  double cross = 0, squares = 0;
  const double variance = 2 * result.f * (1 - result.f);
  if (models.mixed != nullptr) {
    models.mixed->snpSums(genotypes.data(), 1, &cross, &squares, work);
    putEffect(cross, squares, models.mixed->floorPerVariance() * variance, models.mixed->trait(), true, result);
  }
  if (models.plain != nullptr) {
    const size_t n = genotypes.size();
    crossAndSquares(genotypes.data(), 1, n, models.plain->residuals.data(), &cross, &squares);
    putEffect(cross, squares, 1e-9 * static_cast<double>(n) * variance, *models.plain, false, result);
  }
}

void testOneByOne(const Cohort& cohort, const GenotypeStore& store, const GroupWork& group) {
  const TestedSample& sample = *group.sample;
  const size_t n = sample.size();
  const size_t traits = group.terms.size();
  const size_t snps = store.markers.size();
  // A few SNPs are read together and taken one column at a time.
  constexpr size_t kSnpsRead = 8;
  GenotypeBlock block;
  std::vector<double> genotypes(n), work;
  TermsBatch batch;
  StatisticTool tool;
  std::vector<std::string> lines(traits);
  Progress progress("Testing snps", snps);
  for (size_t m = 0; m < snps; ++m) {
    if (m % 256 == 0) progress.update(m);
    const size_t j = m % kSnpsRead;
    if (j == 0) readBlock(store, cohort, sample.entries, m, std::min(kSnpsRead, snps - m), kSnpsRead, block);
    for (size_t h = 0; h < n; ++h) genotypes[h] = block.row(h)[j];
    const Marker& marker = block.markers[j];
    SnpResult shared;
    shared.f = block.sums[j] / (2.0 * static_cast<double>(n));
    shared.tested = n;
    if (block.dosages) shared.info = imputationInfo(block.sums[j], block.squares[j], n);
    shared.monomorphic = std::trunc(shared.f) == 1.0 || std::trunc(1 - shared.f) == 1.0;
    if (!shared.monomorphic) group.projection->residualise(genotypes);
    for (size_t t = 0; t < traits; ++t) {
      SnpResult result = shared;
      if (!result.monomorphic) {
        group.terms[t]->statistics(group.terms[t]->snpTerms(genotypes, batch), tool, result);
        putEffects(group.effects[t], genotypes, work, result);
      }
      appendResultLine(lines[t], group.sinks[t]->layout(), marker, result);
      group.sinks[t]->add(result, marker);
      if (lines[t].size() >= (size_t{1} << 20)) {
        group.sinks[t]->put(lines[t]);
        lines[t].clear();
      }
    }
  }
  for (size_t t = 0; t < traits; ++t) group.sinks[t]->put(lines[t]);
}

}  // namespace

bool testsInBlocks(Adjustment adjustment) { return adjustment == Adjustment::kIntercept && openBlas().loaded(); }

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 const MixedModel* mixedModel)
    : AssociationTest(testedSample, design, std::vector<std::vector<double>>{testedSample.traits}) {
  mixed = mixedModel;
}

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 const std::vector<std::vector<double>>& traits)
    : sample(testedSample), projection(design) {
  plain.reserve(traits.size());
  terms.reserve(traits.size());
  for (const std::vector<double>& trait : traits) {
    std::vector<double> residuals = trait;
    projection.residualise(residuals);
    plain.push_back(traitFit(std::move(residuals), design.columns));
    terms.emplace_back(plain.back().residuals, sample.familyEntries, sample.familyEntryEnd);
  }
}

size_t AssociationTest::blockWidth() const { return blockSnps(sample.size()); }

void AssociationTest::testEverySnp(Cohort& cohort, GenotypeStore& store, int threads, ResultSink& sink) const {
  ombra::testEverySnp({this}, {{&sink}}, cohort, store, threads);
}

void testEverySnp(const std::vector<const AssociationTest*>& groups,
                  const std::vector<std::vector<ResultSink*>>& sinks, Cohort& cohort, GenotypeStore& store,
                  int threads) {
  std::vector<GroupWork> work;
  for (size_t g = 0; g < groups.size(); ++g) {
    GroupWork one{&groups[g]->sample, &groups[g]->projection, {}, {}, sinks[g]};
    for (size_t t = 0; t < groups[g]->terms.size(); ++t) {
      one.terms.push_back(&groups[g]->terms[t]);
      EffectModels models;
      if (sinks[g][t]->layout().format == ResultFormat::kTsv) models.plain = &groups[g]->plain[t];
      if (t == 0) models.mixed = groups[g]->mixed;
      one.effects.push_back(models);
    }
    work.push_back(std::move(one));
  }
  if (!testsInBlocks(store.fillRule())) {
    for (const GroupWork& group : work) testOneByOne(cohort, store, group);
    return;
  }
  // A block's numbers depend on its width, so each group keeps the width a
  // test of its traits alone would take; a pass serves every group of one
  // width.
  std::vector<bool> done(work.size(), false);
  for (size_t g = 0; g < work.size(); ++g) {
    if (done[g]) continue;
    const size_t width = groups[g]->blockWidth();
    std::vector<GroupWork> pass;
    for (size_t h = g; h < work.size(); ++h) {
      if (!done[h] && groups[h]->blockWidth() == width) {
        pass.push_back(work[h]);
        done[h] = true;
      }
    }
    testInBlocks(cohort, store, pass, width, threads);
  }
}

}  // namespace ombra
