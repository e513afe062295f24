// The analysis object of a run and the records it holds.
//
// Conventions
// - One CTest per run owns all state; its steps are member functions that
//   talk through its members. Records are plain structs held by value.
// - Ownership: every genotype row is a block of `charTracker`; score arrays
//   (`Indi::pcs`), `projectionMatrix`, `regressionValues` and the work
//   matrices of the components are blocks of `doubleTracker`. The test's
//   per-SNP scratch lives in vectors allocated once per run. Clearing a row
//   list never frees its rows: StartUp releases them at the end of a run,
//   and the trackers sweep what is left.
// - Who writes what: the readers (TestReaders.cpp) fill the data sets and
//   `markers`; the writers (TestWriters.cpp) only read them; the components
//   (TestComponents.cpp) fill `pcs`, `inPca`, the PCA SNP list and may lower
//   `pcaCount`; the test (TestAssociation.cpp, statistics in
//   TestStatistics.cpp) overwrites `traitValue` with its residual, keeps the
//   tested individuals' values in contiguous arrays and writes the result.
// - Genotype store: two bits per individual and SNP, four SNPs per byte with
//   the first in the top bits (slot 0 = bits 7-6). Code = copies of
//   `allele2` (0, 1, 2), 3 = missing. Unused low slots of a row's last byte
//   are 0. A row of M markers has rowBytes(M) bytes.
// - Errors end the run through ombra::stopRun (status 1) after their message.
// - Every output file is written through ombra::OutputFile
//   (outputs/OutputFile.h): checked writes into a temporary file that takes
//   its final name when the run ends successfully.
#ifndef OMBRA_TEST_H
#define OMBRA_TEST_H

#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AlleleTable.h"
#include "BaseClass.h"
#include "Matrix.h"
#include "MemoryClass.h"
#include "design/Selection.h"
#include "formats/TextInput.h"
#include "outputs/OutputFile.h"
#include "outputs/Plots.h"
#include "outputs/ResultTable.h"
#include "outputs/StatisticStore.h"
#include "statistic.h"

namespace ombra {
class GenotypeSource;
class GenotypeStream;
class MarkerReader;
class MarkerStream;
}

// One individual of a data set.
struct Indi {
  std::string indId;
  std::string fatherId;
  std::string motherId;
  std::string sex;
  std::string trait;        // as written; compared as text
  double traitValue = 0;    // leading number of `trait`; becomes its residual in the test
  double genoValue = 0;     // genotype value at the SNP under test
  double* pcs = nullptr;    // principal-component scores (a doubleTracker block)
  bool pcaLoaded = false;   // a PCA file line gave this individual its scores
  int seq = 0;              // position of the individual's row in its data set's row list
  bool inPca = true;        // used to compute the components
  std::vector<double> covariates;  // per covariate column; not-a-number where missing
};

// The individuals that share one family ID, in file order.
struct Pedigree {
  std::string famId;
  std::vector<Indi> members;
};

// One packed genotype row.
struct Index {
  int seq = 0;
  unsigned char* geno = nullptr;
  int fileSeq = 0;  // the individual's position in its data set's file, kept when others are dropped
};

struct Marker {
  std::string chr;
  std::string snpId;
  int position = 0;
  std::string allele1;       // "" while unknown
  std::string allele2;       // "" while unknown
  double allele2Count = 0;   // copies of allele2 counted so far, or the .bim's 7th column
};

// One parent pair of a pedigree with its children.
struct Family {
  std::string fatherId;
  std::string motherId;
  bool fatherMissing = false;
  bool motherMissing = false;
  std::vector<std::string> children;
  bool selected = false;
};

struct myclass {
  double value = 0;
  int index = 0;
};

// How the principal components are decomposed (option --pca-method): always
// by the Golub-Reinsch SVD, always through the eigen-decomposition of the
// Gram matrix, always by randomized subspace iteration, or the first while
// it is quick, the second while its matrix fits, the third beyond.
enum class PcaMethod { kExact, kFast, kAuto, kApprox };
// The route a run takes.
enum class PcaRoute { kExact, kGram, kApprox };

// How trait and genotypes are adjusted for the components. kIntercept: a
// constant column beside the scores, and a missing genotype at the mean
// dosage of the called ones, so that no statistic depends on which allele is
// counted. kLegacy: the scores alone, and a missing genotype at the allele2
// frequency, as earlier versions did (to reproduce stored results).
enum class Adjustment { kIntercept, kLegacy };

// Which trait codes of a pedigree file are missing. kOwn: the --mt code
// alone, as Ombra's own .ped and binary sets have always been read. kPlink:
// PLINK's -9 as well, for the .fam of PLINK filesets and VCF/BCF sets, which
// PLINK itself writes with -9 for every missing phenotype.
enum class TraitCodes { kOwn, kPlink };

// True when a trait's text is the number -9 ("-9", "-9.0", ...).
bool isMinusNine(const std::string& trait);

// True when a second data set's codes, made against its own marker `own`,
// count the first allele of the shared marker; places own's alleles that
// `shared` does not know yet, and stops the run on a third allele.
bool codesCountFirstAllele(Marker& shared, const Marker& own);

// Orders by value, largest first.
bool compare(myclass const& a, myclass const& b);

// The eigen loading file saved with the PCA file `pcaFileName`: beside it,
// named by the PCA file's name up to its first dot.
std::string eigenLoadingFileName(const std::string& pcaFileName);

// The 2-bit code of SNP `snp` in a packed row.
inline int genotypeCode(const unsigned char* row, size_t snp) { return (row[snp / 4] >> (2 * (3 - snp % 4))) & 3; }

// Bytes of a genotype row holding `markerCount` SNPs.
inline int rowBytes(long markerCount) { return static_cast<int>((markerCount + 3) / 4); }

class CTest : public virtual BaseClass {
 public:
  CTest();

  // Runs the whole program for one command line.
  void StartUp(int argc, char** argv);

  // Readers. Each returns true when it returns; errors stop the run.
  bool readMapFile(std::string path, int mapColumns);
  bool readPedigree(std::string path, std::vector<Pedigree>& peds, std::vector<Index>& rows, bool binary,
                    bool unrelated, TraitCodes codes = TraitCodes::kOwn);
  bool readGenotype(std::string path, std::vector<Index>& rows, bool unrelated);
  // A VCF/BCF data set: PREFIX.fam and the first of PREFIX.bcf, .vcf.gz and
  // .vcf (src/formats/VcfDataSet.cpp).
  bool readVcfSet(const std::string& prefix, bool unrelated);

  // The 2-bit code of one slot of a row; no checks.
  int extractGenotype(unsigned char* row, int byteIndex, int slot);
  // The genotype value of individual `individual` (its seq) at SNP `snp`:
  // 0, 1 or 2 copies of allele2, or missingValue(snp) for a missing one.
  // byteIndex = slot = -1 derive the position from `snp`.
  double extractGenotype(std::vector<Index>& rows, int individual, int byteIndex, int slot, bool unrelated,
                         int snp);

  // Writers of one data set.
  bool RecodeAdditiveFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows);
  bool RecodeGenotypeBinaryFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows);
  bool RecodeGenotypeTextFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows);

  // Principal components.
  bool readSnpListOfPCA(std::string fileName);
  void cal_prin();
  bool ReadingPCA();

  // The association test.
  void Test();
  void cal_betaa_formula(double* coefficients, bool onTrait);
  void cal_betaa(double* coefficients, bool onTrait);
  // Computes the terms of the statistics from the current residuals; call it
  // after the genotype residuals change and before the three statistics.
  void prepareStatistics();
  void cal_ss();
  double calculate_T();
  double calculate_T1();

  // SNPs of the run: the markers, or a streamed run's markers.
  size_t markerCount() const;
  // Calls visit(s, marker) for every marker of the run in map order.
  void forEachMarker(const std::function<void(size_t, const Marker&)>& visit);

  // Counters.
  int familySize;
  int unrelatedSize;
  int snpCount = 0;
  int maxFamilySize = 0;
  int affectedCount = 0;
  int unaffectedCount = 0;
  int missingTraitCount = 0;
  int otherTraitCount = 0;
  int pcaSnpCount = 0;

  int pcaCount;

  bool savePCA = false;
  bool loadPCA = false;
  bool resultFileGiven = false;
  bool recodeAdditive = false;

  std::string additivePrefix;
  std::string pcaFileName;
  std::string recodePrefix;
  std::string resultFileName;
  std::string pcaSnpListFile;

  MemoryClass<int> intTracker;
  MemoryClass<double> doubleTracker;
  MemoryClass<char> charTracker;

  StatisticTool statistic;
  Matrix matrix;

  ombra::ResultFile resultFile;
  // Option --out-format.
  ombra::ResultFormat resultFormat = ombra::ResultFormat::kFixed;
  // Per statistic (SS, T, T1): the statistics of the tested SNPs and how
  // many reached p < 5e-8, for the genomic-control report.
  ombra::StatisticStore testedStatistics[3];
  long genomeWideHits[3] = {0, 0, 0};
  // Options --plot and --plot-stat (which statistics get a panel: SS, T,
  // T1), and per statistic the p-value of every SNP in map order (not a
  // number where it was not tested), kept only for the plots.
  std::string plotPrefix;
  bool plotStatistic[3] = {true, false, false};
  std::vector<ombra::PlotPoint> plotted[3];
  void writePlots() const;
  std::ifstream inputStream;

  std::vector<std::string> lineTokens;
  std::string inputLine;

  std::vector<Pedigree> familyPeds;
  std::vector<Pedigree> unrelatedPeds;
  std::vector<Marker> markers;
  std::vector<Index> familyRows;
  std::vector<Index> unrelatedRows;

  std::vector<int> pcaSnpIndices;
  std::vector<std::string> pcaSnpNames;

  std::string missingTrait;
  std::string missingGenotype;

  double** projectionMatrix;
  double* regressionValues = nullptr;

  // Fields of the pedigree line being read: views into the reader's buffer,
  // so that a line of 200,000 allele fields is never copied field by field.
  std::vector<std::string_view> lineFields;
  // Option "--pca-method".
  PcaMethod pcaMethod = PcaMethod::kAuto;
  // Option "--adjustment".
  Adjustment adjustment = Adjustment::kIntercept;
  // Study design (TestDesign.cpp): options --covar, --covar-name, --pheno,
  // --pheno-name, and the names of the covariate columns every
  // individual's `covariates` holds.
  std::string covariateFile;
  std::vector<std::string> covariateRequest;
  std::string phenotypeFile;
  std::string phenotypeName;
  std::vector<std::string> covariateNames;
  bool missingTraitGiven = false;  // option --mt
  // Replaces the traits by the phenotype file's and gives every individual
  // its covariates, when the options ask for them.
  void applyStudyDesign();
  void applyPhenotype();
  void attachCovariates();
  // Per marker, the mean dosage of the called genotypes of every loaded
  // individual: a missing genotype's value under kIntercept. Filled by
  // computeMeanDosages once the data sets are loaded.
  std::vector<double> meanDosage;
  // Columns of the adjustment's design: the constant (kIntercept) and the
  // pcaCount scores.
  int designColumns = 0;
  static constexpr size_t kWidestBlock = 256;  // SNPs of the test's widest block
  // The markers' alleles while a text pedigree file is coded.
  AlleleTable alleleTable;
  // The open .ped or .map, plain or gzip-compressed.
  ombra::TextInput textInput;
  // Selections and quality-control filters (TestSelection.cpp): the
  // options, read and checked by prepareSelections before loading; a text
  // reader leaves out the individuals sampleSelection does not admit while it
  // reads, applySelections does the rest once every data set is loaded.
  ombra::SelectionOptions selectionOptions;
  ombra::SampleSelection sampleSelection;
  ombra::SnpSelection snpSelection;
  bool selectedWhileReading[2] = {false, false};  // family set, unrelated set
  void prepareSelections();
  void applySelections();
  // Individuals whose genotypes were counted into the markers' allele2Count:
  // the divisor that turns a count into a frequency for missing genotypes.
  int alleleCountBase = 0;
  // A .bim supplied the counts; the size of its data set joins the divisor
  // once that data set's .fam has been read.
  bool bimCountPending = false;
  // Markers in the list when each data set was read (its rows fit that many).
  long familyMarkerCount = 0;
  long unrelatedMarkerCount = 0;

  // The individuals with a trait in analysis order: family members pedigree
  // by pedigree, then every unrelated individual as an entry of its own.
  std::vector<Indi*> tested;
  std::vector<const unsigned char*> testedRows;  // their genotype rows
  size_t testedFamilyCount = 0;                   // entries before this are family members
  std::vector<size_t> familyEntryEnd;             // per family pedigree: end of its entries
  std::vector<double> design;                     // [k * n + h]: design column k of entry h
  std::vector<double> projectionByEntry;          // [h * p + k]: projectionMatrix[k][h], p = designColumns
  std::vector<double> traitResiduals;             // per entry
  std::vector<double> genoResiduals;              // per entry, for the SNP under test
  // Terms of the statistics that depend on the trait only (once per run).
  struct TraitTerms {
    bool ready = false;
    std::vector<double> centred;     // y - mean over all entries
    std::vector<double> ownCentred;  // y - mean over the entry's own data set
    double unrelatedSquares = 0;     // sum of ownCentred^2 over unrelated entries
    std::vector<double> pedigreeShares;  // per counted pedigree (one with a tested member): 1 / its tested members
  } traitTerms;
  // Terms shared by the three statistics of a SNP.
  // "Own" cross-products are centred on each data set's own means.
  struct SnpTerms {
    size_t entries = 0;             // tested entries
    size_t pedigrees = 0;           // counted pedigrees (those with a tested member)
    double ownTotal = 0;            // own cross-products, unrelated entries then family ones
    double averagedTotal = 0;       // the pedigrees' mean cross-products, then the unrelated cross
    double summedTotal = 0;         // the pedigrees' summed cross-products, then the unrelated cross
    double averagedSpread = 0;      // sample variance of the pedigrees' mean cross-products
    double summedSpread = 0;        // sample variance of their summed cross-products
    double ownDeviation = 0;        // squared deviations of the pedigrees' own sums from their mean over all pedigrees
    double genotypeSquares = 0;     // unrelated: sum of squared own-centred g
    double unrelatedSpread = 0;     // sample variance of unrelated cross
  };
  // The terms of up to kTermsBatch SNPs computed together, and their
  // scratch.
  static constexpr size_t kTermsBatch = 8;
  struct TermsBatch {
    SnpTerms terms[kTermsBatch];
    std::vector<double> lanes;         // one SNP's residuals in the first of kTermsBatch lanes
    std::vector<double> cross;         // tested entries x kTermsBatch
    std::vector<double> pedigreeSums;  // counted pedigrees x kTermsBatch: sums of cross-products
    std::vector<double> pedigreeOwn;   // the same, of own cross-products
  } snpBatch;  // terms[0]: the SNP under test
  // The terms of kTermsBatch SNPs whose genotype residuals lie side by side
  // (entry h of SNP k at g[h * stride + k], stride at least kTermsBatch),
  // into batch.terms[k] where wanted[k]; the trait's terms must be ready.
  // Safe to call from several threads with their own batch.
  void prepareSnpTerms(const double* g, size_t stride, const bool* wanted, TermsBatch& batch) const;
  // The statistics of cal_ss, calculate_T (averageFamilies) and
  // calculate_T1 from a SNP's terms.
  double ssStatistic(const SnpTerms& terms) const;
  double familyStatistic(const SnpTerms& terms, bool averageFamilies) const;
  std::string resultBuffer;                       // result lines not yet written

  // Calls visit(famId, person, unrelated) for every individual in analysis
  // order: family pedigrees and their members, then the unrelated ones.
  template <typename Visit>
  void forEachIndividual(Visit visit) {
    for (Pedigree& pedigree : familyPeds) {
      for (Indi& person : pedigree.members) visit(pedigree.famId, person, false);
    }
    for (Pedigree& pedigree : unrelatedPeds) {
      for (Indi& person : pedigree.members) visit(pedigree.famId, person, true);
    }
  }
  // The value that stands in for a missing genotype at `snp`: the mean
  // dosage (kIntercept; computeMeanDosages must have run) or the allele2
  // frequency (kLegacy).
  double missingValue(int snp) const;
  // Counts the called genotypes and allele2 copies of the first `snps` SNPs
  // of every loaded row into `meanDosage`.
  void computeMeanDosages(size_t snps);
  // The genotype row of `person`, a member of the unrelated set or not.
  const unsigned char* genotypeRow(const Indi& person, bool unrelated);
  // Appends one statistic and its p-value in the result file's columns.
  void appendStatistic(double statistic, double pValue, bool monomorphic);

 private:
  // Run flow helpers (TestRun.cpp).
  struct DataSelection;
  DataSelection scanOptions(int argc, char** argv);
  void checkOptions(const DataSelection& selection);
  void refuseOverwritingInputs(const DataSelection& selection);
  void loadDataSets(const DataSelection& selection);
  void checkRowsFitMarkers();
  void recode(const DataSelection& selection);
  void releaseRows();
  static void reportElapsed(std::time_t start);
  std::string logName() const;

  // Component helpers (TestComponents.cpp).
  struct Member {
    Indi* person;
    bool unrelated;
  };
  struct Components;
  std::vector<Member> componentColumns();
  PcaRoute chooseRoute(int snps, int cols) const;
  void exactRoute(const std::vector<Member>& columns, Components& components);
  bool gramRoute(const std::vector<Member>& columns, Components& components, bool approximate);
  std::vector<const unsigned char*> columnRows(const std::vector<Member>& columns);
  void centredRow(const std::vector<const unsigned char*>& rows, int s, double* out, double& mean) const;
  void writeEigenLoadings(const Components& components);
  void computeScores(const Components& components);
  void writePcaFile();
  void reportIndividualsWithoutScores();

  // Test helpers (TestAssociation.cpp).
  int allocateScores();
  void obtainComponents();
  void collectTestedIndividuals();
  void fillDesign();
  std::vector<size_t> independentCovariates(size_t leading) const;
  void buildProjection();
  void testEverySnp(double* coefficients);
  // The test on blocks of SNPs shared out between threads (TestBlocks.cpp):
  // the default adjustment's route whenever OpenBLAS is there.
  struct BlockScratch;
  struct BlockOutput;
  bool canTestInBlocks() const;
  void testInBlocks();
  void runBlocks(size_t first, size_t count, size_t width, size_t threads, std::vector<BlockScratch>& scratch,
                 std::vector<BlockOutput>& outputs);
  void testBlock(size_t firstSnp, size_t count, size_t width, BlockScratch& scratch, BlockOutput& out) const;
  void decodeBlock(size_t firstSnp, size_t count, size_t width, BlockScratch& scratch) const;
  void statisticsOf(const SnpTerms& terms, StatisticTool& tool, ombra::SnpResult& result) const;
  void tallyResult(const ombra::SnpResult& result, const Marker& marker);
  void reportGenomicControl() const;
  void subtractFit(const double* coefficients, std::vector<double>& values) const;
  double appendFamilyTest(bool averageFamilies);
  void prepareTraitTerms();
  // Stops the run when every tested individual has the same trait value.
  void requireTraitVariance() const;

  // Reader helpers (TestReaders.cpp).
  void readMarkers(std::istream& in, const std::string& path, bool bim, std::vector<Marker>& list);
  void alignUnrelatedBinarySet(const std::string& bimPath);
  // Turns the unrelated set's codes, made against its own markers `own`
  // (read from `name`), to the shared markers, and counts them.
  void alignUnrelatedMarkers(const std::vector<Marker>& own, const std::string& name);
  // Reads the PLINK 1 fileset `prefix` as the family or the unrelated set
  // (formats/PlinkSetLoad.cpp).
  void loadPlinkSet(const std::string& prefix, bool unrelated);
  // The file SNPs of an unrelated set whose codes count the other allele of
  // the shared markers; stops when its SNPs are not the family set's.
  std::vector<size_t> swappedSnps(const std::vector<Marker>& own, const std::string& name);

  // Streaming (TestStreaming.cpp): when every data set is a SNP-major file,
  // its genotypes are read as the run goes, and the rows hold only the SNPs
  // being worked on: the components' SNPs, then a window of the test's.
  bool streaming = false;
  size_t rowFirstSnp = 0;   // the marker in slot 0 of the rows
  size_t rowCapacity = 0;   // SNPs a row can hold (streaming)
  std::shared_ptr<ombra::GenotypeStream> familyStream, unrelatedStream;
  bool canStream(bool familyStreams, bool unrelatedStreams) const;
  // Gives the data set read from `source` one row per individual, empty
  // until the stream fills it.
  // The markers of a streamed run, read from the files as they are needed;
  // `markers` then holds those of the rows' SNPs. Declared after the
  // streams, whose sources a marker reader may read from.
  std::shared_ptr<ombra::MarkerStream> markerStream;
  // `swapped`: per file SNP, its codes count the other allele.
  void startStream(std::unique_ptr<ombra::GenotypeSource> source, bool unrelated, std::vector<bool> swapped);
  // The first streamed set's markers become the run's (printing their
  // count); a later set's are joined to them, and the swaps returned.
  std::vector<bool> streamMarkers(std::unique_ptr<ombra::MarkerReader> reader, bool shared, const std::string& name);
  void openPlinkStream(const std::string& prefix, bool unrelated, bool shared);
  // The SNP selection of a streamed run (TestSelection.cpp).
  void selectStreamedSnps();
  // Rows of `snps` SNPs for every individual, attached to the streams.
  void holdStreamedRows(size_t snps);
  // Reads markers snps[0..count) into the rows' slots 0..count-1 and their
  // mean dosages into `meanDosage`.
  void fillRows(const size_t* snps, size_t count, size_t firstSnp);
  void streamComponents();
  // SNPs of a window of the test: whole blocks of the widest width,
  // within a bound on the rows' memory.
  size_t streamWindowSnps() const;
  // Reads markers firstSnp .. firstSnp + count - 1 into the rows.
  void fillWindow(size_t firstSnp, size_t count);
  std::vector<size_t> windowSnps;
  // The SNPs of the components, as marker indices in map order.
  void choosePcaSnps();
  Indi makeIndividual(int seq) const;
  // Appends a new row for individual `seq` holding `codes` (the current
  // pedigree line's codes), or when `codes` is null the codes of the line's
  // allele fields; false (no row) after printing a genotype error.
  bool storeGenotypeRow(std::vector<Index>& rows, int seq, const unsigned char* codes);
  // Codes the allele fields of the current pedigree line (lineFields from
  // the seventh) into `row`; false after printing a genotype error.
  bool codeAlleleFields(unsigned char* row, int seq);
  void tallyTrait(const std::string& trait);
  void printSampleSummary(const std::vector<Pedigree>& peds, bool unrelated, int total);
  // The line saying how many traits of -9 `path` held and how they were read.
  void reportMinusNine(const std::string& path, int count, TraitCodes codes) const;
};

#endif  // OMBRA_TEST_H
