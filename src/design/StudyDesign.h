// The study design a run's options ask for: the traits of a phenotype file
// in place of the sample files', and the covariate columns every individual
// brings to the design of the test.
#ifndef OMBRA_DESIGN_STUDYDESIGN_H
#define OMBRA_DESIGN_STUDYDESIGN_H

#include <string>
#include <vector>

#include "core/Records.h"
#include "design/SampleTable.h"

namespace ombra {

struct StudyDesignOptions {
  std::string phenotypeFile;                  // --pheno
  std::string phenotypeName;                  // --pheno-name: names, ranges A-D, or all, separated by commas
  std::string covariateFile;                  // --covar
  std::vector<std::string> covariateRequest;  // --covar-name
  std::string missingTrait = "0";             // --mt
  bool missingTraitGiven = false;
};

// The phenotype file and the columns --pheno-name picks from it (the first
// column without --pheno-name), in the order asked for.
class PhenotypeTable {
 public:
  // Reads the file and resolves the names before any genotype is read:
  // stops the run, naming --pheno-name and the column, on a name that is not
  // a column, a column named twice, or a range A-B whose ends are not
  // columns or run backwards. A name that is a column is that column even
  // when it holds a hyphen or is "all".
  explicit PhenotypeTable(const StudyDesignOptions& options);

  size_t count() const { return columns.size(); }
  const std::string& name(size_t k) const { return table.names()[columns[k]]; }
  // Makes phenotype k every individual's trait, as PLINK 2 reads it: NA,
  // -9 and the --mt code (only when --mt is given) are missing; a column
  // whose values are 1, 2 and 0 is case-control (1 unaffected, 2 affected,
  // 0 missing); any other column is quantitative, 0 a value. With
  // `report`, a line counts its values and one says how it was read. Stops
  // the run on a value that is not a number.
  void apply(Cohort& cohort, size_t k, bool report) const;

 private:
  enum class Reading { kCaseControl, kQuantitative };
  // How the values of `column` among the cohort's individuals read.
  Reading readingOf(const Cohort& cohort, size_t column) const;
  bool isMissingCode(const std::string& text) const;

  SampleTable table;
  std::vector<size_t> columns;  // per phenotype: its column among table.names()
  std::string missingTrait;
  bool missingTraitGiven = false;
};

// The columns `request` (--pheno-name's value) names among `names`, the
// value columns of `file`, in its order; stops the run as PhenotypeTable
// does.
std::vector<size_t> resolvePhenotypeNames(const std::vector<std::string>& names, const std::string& request,
                                          const std::string& file);

// Replaces the traits by the phenotypes' (the first of them last, so that it
// is every individual's trait afterwards; each counted in a line) and gives
// every individual its covariates; returns the names of the covariate
// columns (none without covariates). `phenotypes` is null without --pheno.
std::vector<std::string> applyStudyDesign(Cohort& cohort, const StudyDesignOptions& options,
                                          const PhenotypeTable* phenotypes);

}  // namespace ombra

#endif  // OMBRA_DESIGN_STUDYDESIGN_H
