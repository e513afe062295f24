// The individuals the test takes and the design it adjusts for: those with
// a trait and every covariate, in analysis order (family pedigrees and their
// members, then every unrelated individual as an entry of its own), and the
// design matrix of the constant, the component scores and the covariates
// over them.
//
// Ownership: a tested sample owns its vectors and points at nothing the
// genotype store frees. Its entries name their genotypes by data set and
// seq (GenotypeEntry); the rows themselves stay the store's, and blocks are
// read from them when they are needed (formats/GenotypeBlock.h). So the
// sample may be collected before or after the store makes or remakes its
// rows. `people` points at the cohort's individuals, which are the
// cohort's and not the store's.
#ifndef OMBRA_DESIGN_TESTEDSAMPLE_H
#define OMBRA_DESIGN_TESTEDSAMPLE_H

#include <string>
#include <vector>

#include "core/Records.h"
#include "formats/GenotypeBlock.h"

namespace ombra {

struct TestedSample {
  std::vector<GenotypeEntry> entries;      // per entry: its genotypes' data set and seq
  std::vector<double> traits;              // per entry: its trait value
  std::vector<size_t> analysisIndex;       // per entry: the individual's place in analysis order
  std::vector<const Individual*> people;   // per entry
  size_t familyEntries = 0;                // entries before this are family members
  std::vector<size_t> familyEntryEnd;      // per family pedigree: end of its entries
  size_t size() const { return entries.size(); }
};

// The tested individuals: those whose trait is not `missingTrait` and who
// have every covariate (those without one are counted in a line). Stops the
// run, saying why, when none is left (no individual with a value, every one
// missing a covariate) or when they all share one trait value; a run of
// several phenotypes catches the stop and skips that phenotype.
TestedSample collectTested(const Cohort& cohort, const std::string& missingTrait);

// Phenotypes with the same tested individuals share one design and one pass
// over the genotypes: the group among `groups` (a tested sample each) whose
// entries are the individuals of `sample`, in the same order, or
// groups.size() when there is none.
size_t sameIndividualsGroup(const std::vector<const TestedSample*>& groups, const TestedSample& sample);

// Columns of the design over the tested entries, column-major:
// values[k * n + h] is column k of entry h.
struct DesignMatrix {
  size_t columns = 0;
  size_t entries = 0;
  std::vector<double> values;
  const double* column(size_t k) const { return values.data() + k * entries; }
};

// The constant (kIntercept; first, so that the legacy design is the same
// matrix without it), the `count` scores of each entry (`scores(index)`
// gives the scores of an individual by analysis index), then the covariates
// that add a direction to them over the tested entries; each one left out is
// named in a line.
template <typename Scores>
DesignMatrix buildDesign(const TestedSample& sample, Scores scores, int count,
                         const std::vector<std::string>& covariateNames, Adjustment adjustment);

// The covariates, in order, that are not constant or a linear combination
// of the design's leading columns (`leading`, column-major over the entries)
// and the covariates kept before them; each one left out is reported by
// name.
std::vector<size_t> independentCovariates(const TestedSample& sample, const std::vector<double>& leading,
                                          size_t leadingColumns, const std::vector<std::string>& covariateNames);

template <typename Scores>
DesignMatrix buildDesign(const TestedSample& sample, Scores scores, int count,
                         const std::vector<std::string>& covariateNames, Adjustment adjustment) {
  const size_t n = sample.size();
  const size_t first = adjustment == Adjustment::kIntercept ? 1 : 0;
  const size_t leadingColumns = first + static_cast<size_t>(count);
  DesignMatrix design;
  design.entries = n;
  design.values.assign(leadingColumns * n, 0.0);
  for (size_t h = 0; h < n; ++h) {
    if (first == 1) design.values[h] = 1.0;
    const double* own = scores(sample.analysisIndex[h]);
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) design.values[(first + k) * n + h] = own[k];
  }
  const std::vector<size_t> kept = independentCovariates(sample, design.values, leadingColumns, covariateNames);
  design.columns = leadingColumns + kept.size();
  design.values.resize(design.columns * n);
  for (size_t c = 0; c < kept.size(); ++c) {
    for (size_t h = 0; h < n; ++h) design.values[(leadingColumns + c) * n + h] = sample.people[h]->covariates[kept[c]];
  }
  return design;
}

}  // namespace ombra

#endif  // OMBRA_DESIGN_TESTEDSAMPLE_H
