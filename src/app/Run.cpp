#include "app/Run.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <unordered_set>

#include "app/Options.h"
#include "association/BlockTest.h"
#include "association/LmmModel.h"
#include "association/MixedModel.h"
#include "association/SnpTests.h"
#include "components/Components.h"
#include "core/ResourceLimits.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "design/Selections.h"
#include "design/Kinship.h"
#include "design/MendelErrors.h"
#include "design/PedigreeChecks.h"
#include "design/StudyDesign.h"
#include "design/TestedSample.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"
#include "formats/PlinkBedWriter.h"
#include "formats/Recodings.h"
#include "numerics/OpenBlas.h"
#include "numerics/Threads.h"
#include "core/OutputFile.h"
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
  if (o.mendel.any()) return false;  // the Mendel checks read every call of the family set
  return !o.recodeAdditive && !FilterThresholds(o.selection).any();
}

// Without "--out" a run performs at most one recoding and ends there.
void recode(const RunOptions& o, const Cohort& cohort, const GenotypeStore& store) {
  const DataSet& set = o.family.given() ? cohort.family : cohort.unrelated;
  const bool dosages = std::any_of(set.rows.begin(), set.rows.end(), [](const GenotypeRow& row) { return row.dosages; });
  if ((o.recodes() || o.recodeAdditive) && dosages) {
    std::cout << "The recoded genotypes are the calls nearest to the dosages (a dosage halfway takes the upper).\n";
  }
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
void checkSomethingToTest(const RunOptions& o, const Cohort& cohort, const GenotypeStore& store,
                          size_t phenotypes) {
  if (o.componentsOnly()) return;  // only the components are computed, no test
  if (store.markerCount() == 0) stopRun("There is no snp to test: no snp map was read, or it lists no snps.\n");
  if (cohort.individuals() == 0) stopRun("There is no individual to test: the data sets are empty.\n");
  // Each of several phenotypes is checked as its sample is collected, and
  // skipped on its own.
  if (phenotypes > 1) return;
  bool anyTrait = false;
  cohort.forEachIndividual([&](const std::string&, const Individual& person, const DataSet&) {
    anyTrait = anyTrait || person.trait != o.study.missingTrait;
  });
  if (!anyTrait) {
    stopRun("There is no individual to test: every trait is the missing-trait code " + o.study.missingTrait + ".\n");
  }
}

// Everyone the data sets hold before the selections ("FID\tIID"): those
// loaded, and those a text set's reader left out as it read them.
std::unordered_set<std::string> individualsHeld(const Cohort& cohort, const SampleSelection& samples) {
  std::unordered_set<std::string> held = samples.leftOut();
  cohort.forEachIndividual([&held](const std::string& famId, const Individual& person, const DataSet&) {
    held.insert(famId + "\t" + person.indId);
  });
  return held;
}

// The scores loaded from a PCA file, or computed; with "--op" alone, saved
// with the eigen loadings, and the run ends there.
ComponentScores obtainComponents(const RunOptions& o, int threads, Cohort& cohort, GenotypeStore& store,
                                 const std::unordered_set<std::string>& held) {
  const int people = cohort.individuals();
  const int snps = static_cast<int>(store.markerCount());
  // Computed components are never more than the individuals or the snps,
  // so an over-large --p only costs memory when the scores are loaded.
  requireScoreMemory(people, o.loadPca ? o.pcaCount : std::min({o.pcaCount, people, snps}));
  if (!store.streaming() && o.adjustment == Adjustment::kIntercept) {
    store.computeMeanDosages(cohort, store.markers.size());
  }
  if (o.loadPca) return loadPcaFile(cohort, o.pcaFile, o.pcaCount, held);
  PcaSettings settings;
  settings.count = o.pcaCount;
  settings.method = o.pcaMethod;
  settings.snpListFile = o.pcaSnpListFile;
  if (o.componentsOnly()) settings.eigenLoadingFile = eigenLoadingFileName(o.pcaFile);
  settings.threads = threads;
  ComponentScores scores = computeComponents(cohort, store, settings);
  if (o.componentsOnly()) {
    writePcaFile(o.pcaFile, cohort, scores);
    endRun(0);
  }
  return scores;
}

// The trait the GWAS-SSF metadata names for a run of one phenotype.
std::string traitDescription(const RunOptions& o, const PhenotypeTable* phenotypes) {
  if (phenotypes != nullptr) return phenotypes->name(0);
  if (!o.study.phenotypeFile.empty()) return "the first phenotype of " + o.study.phenotypeFile;
  return "the trait of the data sets' individuals";
}

// The result file (and plots) of one phenotype, or of the run's one
// (`phenotype` empty, `trait` its description), with the columns of the
// run's models.
SinkSettings sinkSettings(const RunOptions& o, const std::string& phenotype, const std::vector<const Model*>& models,
                          const std::string& trait = std::string()) {
  SinkSettings settings;
  settings.path = phenotype.empty() ? o.resultPath() : phenotypeOutputName(o.resultPath(), phenotype);
  settings.format = o.resultFormat;
  settings.columns = resultColumns(models);
  settings.trait = phenotype.empty() ? trait : phenotype;
  settings.genomeBuild = o.genomeBuild;
  settings.plotPrefix =
      phenotype.empty() || o.plotPrefix.empty() ? o.plotPrefix : phenotypeOutputName(o.plotPrefix, phenotype);
  settings.plotStatistics = {o.plotStatistic};
  if (o.plotStatistic == "ALL") {
    settings.plotStatistics.clear();
    for (const StatisticColumns& statistic : settings.columns.statistics()) {
      settings.plotStatistics.push_back(statistic.name);
    }
  }
  return settings;
}

// What the test leaves for the report: one sink, or one per tested
// phenotype of several, with their names.
struct TestResults {
  std::vector<std::unique_ptr<ResultSink>> sinks;
  std::vector<std::string> phenotypes;  // empty with one phenotype
};

// Phenotypes with the same tested individuals: one design, one projection
// and one residualisation of each block for all of them.
struct PhenotypeGroup {
  TestedSample sample;
  DesignMatrix design;
  std::vector<std::vector<double>> traits;  // per phenotype, per entry
  std::vector<size_t> phenotypes;           // their places among the run's phenotypes
  std::unique_ptr<AssociationTest> association;
};

// Every phenotype of the table: each one's tested sample collected as a
// run of it alone would (one without a value left or without variance is
// skipped with a line), grouped by the individuals tested.
std::vector<std::unique_ptr<PhenotypeGroup>> groupPhenotypes(const RunOptions& o, const PhenotypeTable& table,
                                                              const ComponentScores& scores,
                                                              const std::vector<std::string>& covariateNames,
                                                              Cohort& cohort) {
  std::vector<std::unique_ptr<PhenotypeGroup>> groups;
  for (size_t k = 0; k < table.count(); ++k) {
    table.apply(cohort, k, false);
    std::cout << "Phenotype " << table.name(k) << ":\n";
    TestedSample sample;
    try {
      sample = collectTested(cohort, o.study.missingTrait);
    } catch (const RunStop& stop) {
      std::cout << "The phenotype " << table.name(k) << " is skipped. " << stop.message;
      continue;
    }
    std::vector<const TestedSample*> samples;
    for (const auto& candidate : groups) samples.push_back(&candidate->sample);
    const size_t same = sameIndividualsGroup(samples, sample);
    PhenotypeGroup* group = same < groups.size() ? groups[same].get() : nullptr;
    std::vector<double> traits = sample.traits;
    if (group == nullptr) {
      groups.push_back(std::make_unique<PhenotypeGroup>());
      group = groups.back().get();
      group->design = buildDesign(
          sample, [&](size_t index) { return scores.of(index); }, scores.count, covariateNames, o.adjustment);
      group->sample = std::move(sample);
    }
    group->traits.push_back(std::move(traits));
    group->phenotypes.push_back(k);
  }
  table.apply(cohort, 0, false);
  return groups;
}

// The components, the tested sample and its design, and the test of every
// SNP into the result file; with several phenotypes, every phenotype into
// its own result file in one pass over the genotypes.
TestResults test(const RunOptions& o, int threads, const std::vector<std::string>& covariateNames,
                 Cohort& cohort, GenotypeStore& store, const PhenotypeTable* phenotypes,
                 const std::unordered_set<std::string>& held) {
  setRunStep("computing the principal components");
  const ComponentScores scores = obtainComponents(o, threads, cohort, store, held);
  if (store.streaming()) {
    store.holdStreamedRows(cohort, store.windowSnps(cohort, kWidestBlock, static_cast<size_t>(threads)));
  }
  setRunStep("testing the snps");
  TestResults results;
  if (phenotypes == nullptr || phenotypes->count() == 1) {
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
    // The models beside the three statistics, in the order of their columns.
    std::vector<std::unique_ptr<Model>> models;
    if (mixed != nullptr) models.push_back(std::make_unique<LmmModel>(*mixed));
    std::vector<const Model*> listed;
    for (const auto& model : models) listed.push_back(model.get());
    const AssociationTest association(sample, design, listed);
    results.sinks.push_back(
        std::make_unique<ResultSink>(sinkSettings(o, std::string(), listed, traitDescription(o, phenotypes))));
    association.testEverySnp(cohort, store, threads, *results.sinks.back());
    results.sinks.back()->finish();
    return results;
  }
  const std::vector<std::unique_ptr<PhenotypeGroup>> groups =
      groupPhenotypes(o, *phenotypes, scores, covariateNames, cohort);
  if (groups.empty()) stopRun("No phenotype is left to test: every one named by --pheno-name was skipped.\n");
  std::vector<const AssociationTest*> tests;
  std::vector<std::vector<ResultSink*>> sinks;
  std::vector<std::pair<size_t, ResultSink*>> byPhenotype;
  for (const auto& group : groups) {
    group->association = std::make_unique<AssociationTest>(group->sample, group->design, group->traits);
    tests.push_back(group->association.get());
    sinks.emplace_back();
    for (size_t k : group->phenotypes) {
      results.sinks.push_back(std::make_unique<ResultSink>(sinkSettings(o, phenotypes->name(k), {})));
      sinks.back().push_back(results.sinks.back().get());
      byPhenotype.emplace_back(k, results.sinks.back().get());
    }
  }
  std::cout << "Testing " << byPhenotype.size() << " phenotypes in " << groups.size()
            << (groups.size() == 1 ? " group" : " groups") << " of the same tested individuals.\n";
  std::cout.flush();
  testEverySnp(tests, sinks, cohort, store, threads);
  // The report follows the order of --pheno-name.
  std::sort(byPhenotype.begin(), byPhenotype.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::unique_ptr<ResultSink>> ordered;
  for (const auto& [k, sink] : byPhenotype) {
    results.phenotypes.push_back(phenotypes->name(k));
    for (auto& owned : results.sinks) {
      if (owned.get() == sink) ordered.push_back(std::move(owned));
    }
  }
  results.sinks = std::move(ordered);
  for (const auto& sink : results.sinks) sink->finish();
  return results;
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
  const ThreadChoice threadChoice = chooseThreads(options.threads);
  if (options.memoryMegabytes > 0) setMemoryOption(options.memoryMegabytes);
  startRunLog(options.logPath(), argc, argv);
  // Measured once here, before anything is loaded, and named again by any
  // stop for memory.
  noteRunFact(memoryLine() + threadLine(threadChoice));
  checkOptions(options);
  // Named phenotypes are found in their file before any genotype is read.
  std::unique_ptr<PhenotypeTable> phenotypes;
  if (!options.study.phenotypeName.empty()) {
    if (options.study.phenotypeFile.empty()) stopRun("The option --pheno-name needs a phenotype file (--pheno).\n");
    phenotypes = std::make_unique<PhenotypeTable>(options.study);
    // Each phenotype has its own h2 and variances: one model at a time.
    if (options.mixedModel && phenotypes->count() > 1) {
      stopRun("The option --model lmm tests one phenotype at a time: please give --pheno-name one name.\n");
    }
  }
  std::vector<std::string> phenotypeNames;
  for (size_t k = 0; phenotypes != nullptr && k < phenotypes->count(); ++k) phenotypeNames.push_back(phenotypes->name(k));
  checkOutputs(options, phenotypeNames);
  PreparedSelections selections = prepareSelections(options.selection);

  const std::time_t start = std::time(nullptr);
  Cohort cohort;
  GenotypeStore store(options.adjustment);
  TestResults results;
  // A container that cannot grow would otherwise end the process with an
  // uncaught exception instead of a message.
  try {
    LoadSettings settings;
    settings.missingTrait = options.study.missingTrait;
    settings.missingGenotype = options.missingGenotype;
    settings.vcfDosage = options.vcfDosage;
    // The fixed layout has no INFO column.
    settings.probabilityInfo = options.resultFormat != ResultFormat::kFixed || !options.selection.minfo.empty();
    settings.bgenRegion = bgenRegion(options.selection);
    settings.matchBy = options.matchBy;
    if (selections.snps.active()) {
      settings.admitSnp = [&](const Marker& marker) { return selections.snps.admit(marker); };
      settings.keepsSnp = [&](const Marker& marker) { return selections.snps.keeps(marker); };
    }
    if (selections.samples.active()) {
      settings.admit = [&](std::string_view famId, std::string_view indId) {
        return selections.samples.admit(famId, indId);
      };
    }
    setRunStep("reading the data sets");
    // OpenBLAS first: under an address-space limit it reserves its buffers
    // for as many threads as fit, and the run's own threads, each of which
    // takes a buffer while it calls a product, must not outnumber them.
    const int threads = loadOpenBlas(threadChoice.count).threadRoom;
    if (streams(options)) store.startStreaming();
    DataSetLoader loader(cohort, store, settings);
    loader.load(options.family, options.unrelated);
    loader.checkRowsFitMarkers();
    // A PCA file made before a selection names individuals it leaves out.
    std::unordered_set<std::string> held;
    if (options.loadPca) held = individualsHeld(cohort, selections.samples);
    if (!loader.matchNotes().empty()) noteInRunLog(loader.matchNotes());
    applySelections(cohort, store, options.selection, selections.samples, selections.snps);
    checkPedigrees(cohort.family);
    std::unique_ptr<MendelWatch> mendel;
    if (store.streaming()) {
      mendel = std::make_unique<MendelWatch>(cohort, store);
    } else {
      noteInRunLog(checkMendelErrors(cohort, store, options.mendel));
    }
    const std::vector<std::string> covariateNames = applyStudyDesign(cohort, options.study, phenotypes.get());
    if (!options.kinshipFile.empty()) writeKinship(options.kinshipFile, cohort.family);
    recode(options, cohort, store);
    checkSomethingToTest(options, cohort, store, phenotypeNames.size());

    std::cout << "Program is processing, please wait...\n(if program need cacluate the PCA, it may take long "
                 "time. Please be more patient.)\n";
    std::cout.flush();
    results = test(options, threads, covariateNames, cohort, store, phenotypes.get(), held);
    if (mendel != nullptr) noteInRunLog(mendel->logLine());
  } catch (const std::bad_alloc&) {
    stopRun(outOfMemoryMessage());
  }

  store.releaseRows(cohort);
  commitOutputs();
  std::cout << "The process has been finisned!\n";
  reportElapsed(start);
  for (size_t k = 0; k < results.sinks.size(); ++k) {
    if (!results.phenotypes.empty()) std::cout << "Phenotype " << results.phenotypes[k] << ":\n";
    results.sinks[k]->reportGenomicControl();
  }
  if (finishRunLog(0) != 0) endRun(1);
}

}  // namespace ombra
