#include "design/TestedSample.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/RunEnd.h"

namespace ombra {

namespace {

// A trait every tested individual shares leaves nothing to explain: each
// statistic would be zero or the noise of rounding, reported as a result.
// Empty when the sample's trait varies.
std::string traitVarianceProblem(const TestedSample& sample) {
  if (sample.size() == 0) return std::string();
  const double first = sample.traits.front();
  for (double value : sample.traits) {
    if (value != first) return std::string();
  }
  return "The trait does not vary: all " + std::to_string(sample.size()) + " tested individuals have the trait " +
         sample.people.front()->trait +
         ", so there is nothing to test. Please check the trait column and the missing-trait code (--mt).\n";
}

// The tested sample, or an empty one with the reason a run with this trait
// alone stops for.
TestedSample collectOrExplain(const Cohort& cohort, const std::string& missingTrait, std::string& why) {
  TestedSample sample;
  size_t leftOut = 0;
  size_t index = 0;
  // Individuals without a trait take no part; neither do those missing a
  // covariate, who are counted.
  auto takes = [&](const Individual& person) {
    if (person.trait == missingTrait) return false;
    const bool complete = std::none_of(person.covariates.begin(), person.covariates.end(),
                                       [](double value) { return std::isnan(value); });
    leftOut += complete ? 0 : 1;
    return complete;
  };
  for (const DataSet* set : {&cohort.family, &cohort.unrelated}) {
    for (const Pedigree& pedigree : set->pedigrees) {
      for (const Individual& person : pedigree.members) {
        const size_t at = index++;
        if (!takes(person)) continue;
        sample.entries.push_back(GenotypeEntry{set->kind, person.seq});
        sample.traits.push_back(person.traitValue);
        sample.analysisIndex.push_back(at);
        sample.people.push_back(&person);
      }
      if (!set->unrelated()) sample.familyEntryEnd.push_back(sample.size());
    }
    if (!set->unrelated()) sample.familyEntries = sample.size();
  }
  why.clear();
  if (leftOut > 0) {
    std::cout << leftOut << " individuals with a trait are left out of the test for a missing covariate.\n";
    if (sample.size() == 0) why = "There is no individual to test: every individual with a trait misses a covariate.\n";
  }
  if (why.empty()) why = traitVarianceProblem(sample);
  if (!why.empty()) sample = TestedSample();
  return sample;
}

}  // namespace

TestedSample collectTested(const Cohort& cohort, const std::string& missingTrait) {
  std::string why;
  TestedSample sample = collectOrExplain(cohort, missingTrait, why);
  if (why.empty() && sample.size() == 0) why = "There is no individual to test: no individual has a value.\n";
  if (!why.empty()) stopRun(why);
  return sample;
}

size_t sameIndividualsGroup(const std::vector<const TestedSample*>& groups, const TestedSample& sample) {
  for (size_t g = 0; g < groups.size(); ++g) {
    if (groups[g]->analysisIndex == sample.analysisIndex) return g;
  }
  return groups.size();
}

std::vector<size_t> independentCovariates(const TestedSample& sample, const std::vector<double>& leading,
                                          size_t leadingColumns, const std::vector<std::string>& covariateNames) {
  std::vector<size_t> kept;
  if (covariateNames.empty()) return kept;
  const size_t n = sample.size();
  std::vector<std::vector<double>> basis;  // orthonormal, over the tested entries
  auto addDirection = [&](std::vector<double> v) {
    double before = 0;
    for (double x : v) before += x * x;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::vector<double>& q : basis) {
        double dot = 0;
        for (size_t h = 0; h < n; ++h) dot += q[h] * v[h];
        for (size_t h = 0; h < n; ++h) v[h] -= dot * q[h];
      }
    }
    double after = 0;
    for (double x : v) after += x * x;
    if (!(after > 1e-18 * before) || after == 0) return false;
    for (double& x : v) x /= std::sqrt(after);
    basis.push_back(std::move(v));
    return true;
  };
  for (size_t k = 0; k < leadingColumns; ++k) {
    addDirection(std::vector<double>(leading.begin() + static_cast<std::ptrdiff_t>(k * n),
                                     leading.begin() + static_cast<std::ptrdiff_t>((k + 1) * n)));
  }
  for (size_t c = 0; c < covariateNames.size(); ++c) {
    std::vector<double> column(n);
    for (size_t h = 0; h < n; ++h) column[h] = sample.people[h]->covariates[c];
    if (addDirection(std::move(column))) {
      kept.push_back(c);
    } else {
      std::cout << "The covariate " << covariateNames[c]
                << " is constant or a linear combination of the other columns of the design among the tested "
                   "individuals; it is left out.\n";
    }
  }
  return kept;
}

}  // namespace ombra
