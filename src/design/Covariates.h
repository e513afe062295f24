// The covariate columns of a run, built from a covariate table and the
// sample files' sex: numeric columns as they are, a categorical column (any
// value that is not a number and not a missing code) as 0/1 indicators of
// every level but the first, not-a-number where a value is missing.
#ifndef OMBRA_DESIGN_COVARIATES_H
#define OMBRA_DESIGN_COVARIATES_H

#include <string>
#include <vector>

#include "core/Records.h"
#include "design/SampleTable.h"

namespace ombra {

// One individual as the covariates see it.
struct SampleKey {
  const std::string* famId;
  const std::string* indId;
  Sex sex;  // an unknown sex is a missing SEX covariate
};

struct CovariateColumns {
  std::vector<std::string> names;           // per column (indicators as NAME=LEVEL)
  std::vector<std::vector<double>> values;  // per individual, per column
  bool empty() const { return names.empty(); }
};

// The columns `names` (every column of `table` when empty) for `people`, in
// their order. SEX comes from the table when it has such a column, else from
// the sample files; `table` may be null when SEX is the only name. An
// individual missing from the table has every table covariate missing.
// Levels of a categorical column are taken in order of first appearance
// among `people`.
CovariateColumns buildCovariates(const SampleTable* table, std::vector<std::string> names,
                                 const std::vector<SampleKey>& people, const std::string& missingTrait);

}  // namespace ombra

#endif  // OMBRA_DESIGN_COVARIATES_H
