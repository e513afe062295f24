// What a test needs of its data before it starts: the checks that stop a
// run whose statistics could only come out undefined (inf, nan) or
// meaningless, before any result is written.
#ifndef OMBRA_ASSOCIATION_TESTCHECKS_H
#define OMBRA_ASSOCIATION_TESTCHECKS_H

#include <cstddef>
#include <vector>

#include "design/TestedSample.h"

namespace ombra {

// Whether `tested` individuals leave a degree of freedom to a regression on
// `designColumns` columns and the SNP: more than designColumns + 1 of them.
bool leavesFreedom(size_t tested, size_t designColumns);

// Stops the run, saying why, when the three statistics are not defined for
// `sample`: each needs at least two families or two unrelated individuals
// (one family's own sums have no spread to weigh them by). With
// `otherModels` (the mixed model) the run goes on and they are written as
// NA, saying so; so are T and T1, with a line, for one family beside the
// unrelated individuals.
void requireDefinedStatistics(const TestedSample& sample, bool otherModels);
// Stops the run when the design leaves the test no degree of freedom
// (leavesFreedom).
void requireFreedom(size_t tested, size_t designColumns);
// Stops the run when the squares of a trait's values (one per entry) add up
// to more than a double holds: every sum of the test would overflow.
void requireFiniteSquares(const std::vector<double>& trait);

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_TESTCHECKS_H
