// The parent links of the family set's pedigrees, checked before anything
// uses them: the kinship, the trios of the Mendel checks and the
// components' choice of unrelated members all assume that nobody is among
// their own ancestors and that a child has two different parents.
#ifndef OMBRA_DESIGN_PEDIGREECHECKS_H
#define OMBRA_DESIGN_PEDIGREECHECKS_H

#include "core/Records.h"

namespace ombra {

// Stops the run, naming the pedigree and the individual, on an individual
// that is its own father or mother, on a father who is also the mother, and
// on parent links that form a cycle. Prints one line counting the fathers
// whose sex is female and the mothers whose sex is male (the links are kept
// as written); nothing when there are none.
void checkPedigrees(const DataSet& family);

// The members of `pedigree` that are their own ancestors through a cycle of
// parent links (in member order); empty when there is no cycle. A parent ID
// that names no member is a founder.
std::vector<size_t> membersInCycles(const Pedigree& pedigree);

}  // namespace ombra

#endif  // OMBRA_DESIGN_PEDIGREECHECKS_H
