#include "app/Run.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <memory>
#include <new>

#include "app/Options.h"
#include "association/BlockTest.h"
#include "association/MixedModel.h"
#include "association/SnpTests.h"
#include "components/Components.h"
#include "core/ResourceLimits.h"
#include "core/RunEnd.h"
#include "design/Selections.h"
#include "design/Kinship.h"
#include "design/StudyDesign.h"
#include "design/TestedSample.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"
#include "formats/PlinkBedWriter.h"
#include "formats/Recodings.h"
#include "numerics/MatrixTeam.h"
#include "numerics/Threads.h"
#include "outputs/OutputFile.h"
#include "outputs/ResultSink.h"
#include "outputs/RunLog.h"

namespace ombra {

namespace {

// The sample selection as the text readers apply it line by line; the
// selections prepared before loading (the --keep and --extract files read,
// the thresholds checked).
struct PreparedSelections {
  SampleSelection samples;
  SnpSelection snps;
};

PreparedSelections prepareSelections(const SelectionOptions& options) {
  FilterThresholds thresholds(options);  // stops on a value out of range
  PreparedSelections prepared;
  if (options.selectsIndividuals()) prepared.samples = SampleSelection(options);
  if (options.selectsSnps()) prepared.snps = SnpSelection(options);
  return prepared;
}

// Genotypes are read as the run goes when every data set is a SNP-major
// file and the test runs on blocks; recodings and the filters that count
// every SNP before the test need every genotype at hand.
bool streams(const RunOptions& o) {
  if (o.recodes() || !canStream(o.family) || !canStream(o.unrelated) || !testsInBlocks(o.adjustment)) return false;
  return !o.recodeAdditive && !FilterThresholds(o.selection).any();
}

// Without "--out" a run performs at most one recoding and ends there.
void recode(const RunOptions& o, const Cohort& cohort, const GenotypeStore& store) {
  const DataSet& set = o.family.given() ? cohort.family : cohort.unrelated;
  if (o.recodes()) {
    if (o.makePlinkBed) {
      std::cout << "Coding PLINK 1 binary fileset ...\n";
      writePlinkFileset(o.plinkBedPrefix, store.markers, set.pedigrees, set.rows);
    } else if (o.recode) {
      writeText(o.recodePrefix, store.markers, set, o.missingGenotype);
    } else {
      writeOmbraBinary(o.recodePrefix, store.markers, set);
    }
    if (o.resultFile.empty()) endRun(0);
  }
  if (o.recodeAdditive) {
    writeAdditive(o.additivePrefix, store.markers, set);
    if (o.resultFile.empty()) endRun(0);
  }
}

// Without snps or without an individual with a trait the test would write a
// result of nothing, or of not-a-number for every snp.
void checkSomethingToTest(const RunOptions& o, const Cohort& cohort, const GenotypeStore& store) {
  if (o.componentsOnly()) return;  // only the components are computed, no test
  if (store.markerCount() == 0) stopRun("There is no snp to test: no snp map was read, or it lists no snps.\n");
  if (cohort.individuals() == 0) stopRun("There is no individual to test: the data sets are empty.\n");
  bool anyTrait = false;
  cohort.forEachIndividual([&](const std::string&, const Individual& person, const DataSet&) {
    anyTrait = anyTrait || person.trait != o.study.missingTrait;
  });
  if (!anyTrait) {
    stopRun("There is no individual to test: every trait is the missing-trait code " + o.study.missingTrait + ".\n");
  }
}

// The scores loaded from a PCA file, or computed; with "--op" alone, saved
// with the eigen loadings, and the run ends there.
ComponentScores obtainComponents(const RunOptions& o, Cohort& cohort, GenotypeStore& store) {
  const int people = cohort.individuals();
  const int snps = static_cast<int>(store.markerCount());
  // Computed components are never more than the individuals or the snps,
  // so an over-large --p only costs memory when the scores are loaded.
  requireScoreMemory(people, o.loadPca ? o.pcaCount : std::min({o.pcaCount, people, snps}));
  if (!store.streaming() && o.adjustment == Adjustment::kIntercept) {
    store.computeMeanDosages(cohort, store.markers.size());
  }
  if (o.loadPca) return loadPcaFile(cohort, o.pcaFile, o.pcaCount);
  PcaSettings settings;
  settings.count = o.pcaCount;
  settings.method = o.pcaMethod;
  settings.snpListFile = o.pcaSnpListFile;
  if (o.componentsOnly()) settings.eigenLoadingFile = eigenLoadingFileName(o.pcaFile);
  settings.threads = threadCount();
  ComponentScores scores = computeComponents(cohort, store, settings);
  if (o.componentsOnly()) {
    writePcaFile(o.pcaFile, cohort, scores);
    endRun(0);
  }
  return scores;
}

// The components, the tested sample and its design, and the test of every
// SNP into the result file.
std::unique_ptr<ResultSink> test(const RunOptions& o, const std::vector<std::string>& covariateNames,
                                 Cohort& cohort, GenotypeStore& store) {
  setRunStep("computing the principal components");
  const ComponentScores scores = obtainComponents(o, cohort, store);
  if (store.streaming()) {
    store.holdStreamedRows(cohort, store.windowSnps(cohort, kWidestBlock, static_cast<size_t>(threadCount())));
  }
  setRunStep("testing the snps");
  const TestedSample sample = collectTested(cohort, o.study.missingTrait);
  const DesignMatrix design = buildDesign(
      sample, [&](size_t index) { return scores.of(index); }, scores.count, covariateNames, o.adjustment);
  std::unique_ptr<MixedModel> mixed;
  if (o.mixedModel) {
    setRunStep("fitting the mixed model");
    mixed = std::make_unique<MixedModel>(sample, testedRelationships(cohort, sample), design,
                                         o.lmmH2 >= 0 ? o.lmmH2 : std::nan(""));
    std::cout << mixed->report();
    std::cout.flush();
    setRunStep("testing the snps");
  }
  const AssociationTest association(sample, design, mixed.get());
  SinkSettings settings;
  settings.path = o.resultPath();
  settings.format = o.resultFormat;
  settings.mixedModel = o.mixedModel;
  settings.plotPrefix = o.plotPrefix;
  std::copy(o.plotStatistic, o.plotStatistic + 4, settings.plotStatistic);
  auto sink = std::make_unique<ResultSink>(settings);
  association.testEverySnp(cohort, store, threadCount(), *sink);
  sink->finish();
  return sink;
}

void reportElapsed(std::time_t start) {
  const int elapsed = static_cast<int>(std::time(nullptr) - start);
  std::cout << "\n---------------------------------------------------------------\n";
  std::cout << "\nElapse time : " << (elapsed / 60) / 60 << ":" << (elapsed / 60) % 60 << ":" << elapsed % 60
            << "\n";
}

}  // namespace

void runProgram(int argc, char** argv) {
  const RunOptions options = parseOptions(argc, argv);
  if (options.threads > 0) setThreadCount(options.threads);
  if (options.memoryMegabytes > 0) setMemoryOption(options.memoryMegabytes);
  startRunLog(options.logPath(), argc, argv);
  // Measured once here, before anything is loaded, and named again by any
  // stop for memory.
  noteInRunLog(memoryLine() + matrixsvd::svdThreadLine() + "\n");
  checkOptions(options);
  refuseOverwritingInputs(options);
  PreparedSelections selections = prepareSelections(options.selection);

  const std::time_t start = std::time(nullptr);
  Cohort cohort;
  GenotypeStore store(options.adjustment);
  std::unique_ptr<ResultSink> sink;
  // A container that cannot grow would otherwise end the process with an
  // uncaught exception instead of a message.
  try {
    LoadSettings settings;
    settings.missingTrait = options.study.missingTrait;
    settings.missingGenotype = options.missingGenotype;
    if (selections.samples.active()) {
      settings.admit = [&](std::string_view famId, std::string_view indId) {
        return selections.samples.admit(famId, indId);
      };
    }
    setRunStep("reading the data sets");
    if (streams(options)) store.startStreaming();
    DataSetLoader loader(cohort, store, settings);
    loader.load(options.family, options.unrelated);
    loader.checkRowsFitMarkers();
    applySelections(cohort, store, options.selection, selections.samples, selections.snps);
    const std::vector<std::string> covariateNames = applyStudyDesign(cohort, options.study);
    if (!options.kinshipFile.empty()) writeKinship(options.kinshipFile, cohort.family);
    recode(options, cohort, store);
    checkSomethingToTest(options, cohort, store);

    std::cout << "Program is processing, please wait...\n(if program need cacluate the PCA, it may take long "
                 "time. Please be more patient.)\n";
    std::cout.flush();
    sink = test(options, covariateNames, cohort, store);
  } catch (const std::bad_alloc&) {
    stopRun(outOfMemoryMessage());
  }

  store.releaseRows(cohort);
  commitOutputs();
  std::cout << "The process has been finisned!\n";
  reportElapsed(start);
  sink->reportGenomicControl();
  if (finishRunLog(0) != 0) endRun(1);
}

}  // namespace ombra
