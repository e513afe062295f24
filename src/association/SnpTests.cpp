#include "association/SnpTests.h"

#include <algorithm>
#include <cmath>

#include "association/BlockTest.h"
#include "association/Projection.h"
#include "association/StatisticTerms.h"
#include "association/TestChecks.h"
#include "core/SharedWork.h"
#include "formats/GenotypeBlock.h"
#include "numerics/OpenBlas.h"
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
  std::vector<TraitModels> models;  // per trait
  std::vector<ResultSink*> sinks;
};

// Whether any trait's lines name the called counts, which are only counted then.
bool writeCalled(const std::vector<GroupWork>& groups) {
  for (const GroupWork& group : groups) {
    for (const ResultSink* sink : group.sinks) {
      if (sink->layout().writesCalled()) return true;
    }
  }
  return false;
}

// Blocks of SNPs of one width shared out between threads, for every group
// of that width; each group's lines are written in map order. Memory running
// out in any thread ends the run as it does on the main thread.
void testInBlocks(Cohort& cohort, GenotypeStore& store, const std::vector<GroupWork>& groups, size_t width,
                  int threadCount) {
  // Every thread calls the kernels on its own block; OpenBLAS's own threads
  // would only compete with them.
  setBlasThreads(1);
  std::vector<BlockTest> tests;
  for (const GroupWork& group : groups) {
    std::vector<ResultLayout> layouts;
    for (const ResultSink* sink : group.sinks) layouts.push_back(sink->layout());
    tests.emplace_back(*group.sample, *group.projection, group.terms, std::move(layouts), group.models);
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
  for (GenotypeBlock& block : genotypes) block.countMissing = writeCalled(groups);
  Progress progress("Testing snps", snps);
  for (size_t first = 0; first < blocks; first += window) {
    progress.update(std::min(snps, first * width));
    const size_t count = std::min(window, blocks - first);
    if (store.streaming()) {
      store.fillWindow(cohort, first * width, std::min(snps, (first + count) * width) - first * width, threads);
    }
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

// One SNP's plain regression and models from its genotypes' residuals, as
// a block of one column.
void putEffects(const TraitModels& models, const ResultLayout& layout, const std::vector<double>& genotypes,
                std::vector<std::unique_ptr<ModelScratch>>& scratch, SnpResult& result) {
  if (models.plain != nullptr && layout.writes(base::kBeta, 2)) {
    double cross = 0, squares = 0;
    putPlainEffects(*models.plain, layout, genotypes.data(), 1, 1, &cross, &squares, &result);
  }
  const ResidualBlock block{genotypes.data(), genotypes.size(), 1, 1, &result};
  const std::vector<size_t> firsts = modelColumns(models.models);
  for (size_t m = 0; m < models.models.size(); ++m) {
    const Model& model = *models.models[m];
    if (scratch.size() <= m) scratch.push_back(model.newScratch());
    model.startBlock(block, scratch[m].get());
    model.takeStripe(block, 0, 1, scratch[m].get());
    model.finishBlock(block, scratch[m].get(), ModelRows(&result, firsts[m]));
  }
}

// One SNP at a time, its genotypes residualised on their own, once for all
// of the group's traits.
void testOneByOne(const Cohort& cohort, const GenotypeStore& store, const GroupWork& group) {
  const TestedSample& sample = *group.sample;
  const size_t n = sample.size();
  const size_t traits = group.terms.size();
  const size_t snps = store.markers.size();
  // A few SNPs are read together and taken one column at a time.
  constexpr size_t kSnpsRead = 8;
  GenotypeBlock block;
  block.countMissing = writeCalled({group});
  std::vector<double> genotypes(n);
  std::vector<std::vector<std::unique_ptr<ModelScratch>>> scratch(traits);
  TermsBatch batch;
  StatisticTool tool;
  std::vector<std::string> lines(traits);
  std::vector<std::vector<double>> untested;  // per trait: the values of an untested SNP
  for (const ResultSink* sink : group.sinks) untested.push_back(sink->layout().columns.untestedValues());
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
    shared.called = block.called(j);
    shared.monomorphic = std::trunc(shared.f) == 1.0 || std::trunc(1 - shared.f) == 1.0;
    if (shared.monomorphic) shared.note = "monomorphic";
    if (!shared.monomorphic) group.projection->residualise(genotypes);
    for (size_t t = 0; t < traits; ++t) {
      const ResultLayout& layout = group.sinks[t]->layout();
      SnpResult result = shared;
      result.values = untested[t];
      // Whole-call dosages (hard calls held as dosages) are as certain as calls: INFO 1.
      if (block.dosages && !block.wholeCalls[j]) {
        result.values[base::kInfo] = block.imputationInfo(j);
      }
      if (!result.monomorphic) {
        group.terms[t]->statistics(group.terms[t]->snpTerms(genotypes, batch), tool, result);
        putEffects(group.models[t], layout, genotypes, scratch[t], result);
      }
      appendResultLine(lines[t], layout, marker, result);
      group.sinks[t]->add(result, marker);
      if (lines[t].size() >= (size_t{1} << 20)) {
        group.sinks[t]->put(lines[t]);
        lines[t].clear();
      }
    }
  }
  for (size_t t = 0; t < traits; ++t) group.sinks[t]->put(lines[t]);
}

// The design, once the data are known to give the statistics a meaning:
// checked before the projection is made of it and before any result.
const DesignMatrix& checkedDesign(const TestedSample& sample, const DesignMatrix& design,
                                  const std::vector<std::vector<double>>& traits, bool otherModels) {
  requireDefinedStatistics(sample, otherModels);
  requireFreedom(sample.size(), design.columns);
  for (const std::vector<double>& trait : traits) requireFiniteSquares(trait);
  return design;
}

}  // namespace

bool testsInBlocks(Adjustment adjustment) { return adjustment == Adjustment::kIntercept; }

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 std::vector<const Model*> runModels)
    : AssociationTest(testedSample, design, std::vector<std::vector<double>>{testedSample.traits},
                      !runModels.empty()) {
  models = std::move(runModels);
}

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 const std::vector<std::vector<double>>& traits)
    : AssociationTest(testedSample, design, traits, false) {}

AssociationTest::AssociationTest(const TestedSample& testedSample, const DesignMatrix& design,
                                 const std::vector<std::vector<double>>& traits, bool otherModels)
    : sample(testedSample), projection(checkedDesign(testedSample, design, traits, otherModels)) {
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
      TraitModels models;
      models.plain = &groups[g]->plain[t];
      if (t == 0) models.models = groups[g]->models;
      one.models.push_back(models);
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
