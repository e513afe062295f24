#include "association/TestChecks.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "core/RunEnd.h"

namespace ombra {

namespace {

// Pedigrees with at least one tested member.
size_t testedPedigrees(const TestedSample& sample) {
  size_t counted = 0, begin = 0;
  for (size_t end : sample.familyEntryEnd) {
    if (end > begin) ++counted;
    begin = end;
  }
  return counted;
}

std::string plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool leavesFreedom(size_t tested, size_t designColumns) { return tested > designColumns + 1; }

void requireDefinedStatistics(const TestedSample& sample, bool otherModels) {
  const size_t pedigrees = testedPedigrees(sample);
  const size_t unrelated = sample.size() - sample.familyEntries;
  const std::string counts = plural(pedigrees, "family", "families") + " and " +
                             plural(unrelated, "unrelated individual", "unrelated individuals");
  if (pedigrees == 1 && unrelated >= 2) {
    std::cout << "T and T1 are not defined for one family (they weigh the families by their spread): they are "
                 "written as NA.\n";
  }
  if (pedigrees >= 2 || unrelated >= 2) return;
  if (otherModels) {
    // A single pedigree is what a founder population is: its mixed model
    // stands on the kinship alone.
    std::cout << "SS, T and T1 are not defined for " + counts + " (they need at least two families or two "
                 "unrelated individuals): they are written as NA.\n";
    return;
  }
  stopRun("The statistics are not defined for the tested individuals: " + counts +
          " (they need at least two families or two unrelated individuals). Please add families or unrelated "
          "individuals (--i).\n");
}

void requireFreedom(size_t tested, size_t designColumns) {
  if (leavesFreedom(tested, designColumns)) return;
  stopRun("The test has no degree of freedom left: " + std::to_string(tested) + " tested individuals for " +
          std::to_string(designColumns) + " columns of the design and the snp. Please use fewer components (--p) "
          "or covariates.\n");
}

void requireFiniteSquares(const std::vector<double>& trait) {
  double squares = 0, largest = 0;
  for (double value : trait) {
    squares += value * value;
    largest = std::fmax(largest, std::fabs(value));
  }
  if (std::isfinite(squares)) return;
  char text[32];
  std::snprintf(text, sizeof text, "%g", largest);
  stopRun(std::string("The trait's values are too large to test: the sum of their squares overflows (the largest "
                      "is ") + text + "). Please rescale the trait.\n");
}

}  // namespace ombra
