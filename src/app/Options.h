// The command line of a run as a plain value: parsing reads no file and
// starts nothing; it stops the run (status 1, message on standard output) on
// a word or value it does not take, and answers --help and --version.
#ifndef OMBRA_APP_OPTIONS_H
#define OMBRA_APP_OPTIONS_H

#include <string>
#include <vector>

#include "components/Components.h"
#include "core/OutputFile.h"
#include "core/Records.h"
#include "design/MendelErrors.h"
#include "design/Selection.h"
#include "design/StudyDesign.h"
#include "formats/DataSetLoader.h"
#include "outputs/ResultTable.h"

namespace ombra {

struct RunOptions {
  SetInput family, unrelated;                    // --f/--bf/--vf, --i/--bi/--vi
  std::string missingGenotype = "0";             // --mg
  DosageField vcfDosage = DosageField::kGt;      // --vcf-dosage
  MatchBy matchBy = MatchBy::kId;                // --match-by
  int pcaCount = 10;                             // --p
  PcaMethod pcaMethod = PcaMethod::kAuto;        // --pca-method
  std::string pcaSnpListFile;                    // --snp-list-pca
  bool savePca = false, loadPca = false;         // --op, --rp
  std::string pcaFile;
  bool resultFileGiven = false;                  // --out
  std::string resultFile;
  ResultFormat resultFormat = ResultFormat::kFixed;  // --out-format
  std::string genomeBuild;                       // --build: GRCh38, GRCh37, NCBI36 or ""
  std::string plotPrefix;                        // --plot
  std::string plotStatistic = "SS";             // --plot-stat: a statistic's name, or ALL
  bool mixedModel = false;                       // --model lmm
  double lmmH2 = -1;                             // --lmm-h2; negative: estimated
  std::string kinshipFile;                       // --write-kinship
  MendelOptions mendel;                          // --mendel, --set-me-missing, --me
  Adjustment adjustment = Adjustment::kIntercept;  // --adjustment
  int threads = 0;                               // --threads; 0: the automatic choice
  double memoryMegabytes = 0;                    // --memory; 0: no budget of the user's
  // Recodings: --make-bed, --recode (both into recodePrefix), --make-plink-bed, --additive.
  bool makeBed = false, recode = false, makePlinkBed = false, recodeAdditive = false;
  std::string recodePrefix = "Ombra", plinkBedPrefix, additivePrefix;
  // --mt, --pheno, --pheno-name, --covar, --covar-name.
  StudyDesignOptions study;
  SelectionOptions selection;

  bool recodes() const { return makeBed || recode || makePlinkBed; }
  // "--op" without "--rp": the components are computed and saved, no test.
  bool componentsOnly() const { return savePca && !loadPca; }
  // Without --out: result.txt, or result.tsv for GWAS-SSF, whose files are .tsv.
  std::string resultPath() const {
    if (resultFileGiven) return resultFile;
    return resultFormat == ResultFormat::kSsf ? "result.tsv" : "result.txt";
  }
  // The log: beside the result file, or beside the PCA file of a
  // components-only run.
  std::string logPath() const;
};

// The options of `argv`; --help, -h and --version in the place of an option
// answer and end the run before anything else.
RunOptions parseOptions(int argc, char** argv);

// The combinations of options a run refuses.
void checkOptions(const RunOptions& options);

// Every file the run will write (the list each new output joins), with
// the option that names it. With several `phenotypes` the result file and
// the plots are one per phenotype (phenotypeOutputName).
std::vector<NamedOutput> runOutputs(const RunOptions& options, const std::vector<std::string>& phenotypes = {});

// Every file the run may read against every file it will write, and every
// output's folder, before anything is read or written (OutputFile.h).
void checkOutputs(const RunOptions& options, const std::vector<std::string>& phenotypes = {});

}  // namespace ombra

#endif  // OMBRA_APP_OPTIONS_H
