// The kinship of the pedigrees: the probability that an allele drawn from
// one individual and one drawn from another are identical by descent, from
// the parent links of each family pedigree. Individuals of different
// pedigrees, and unrelated individuals, have kinship 0.
//
// Rules: a parent ID of "0" (or empty) is unknown; a parent ID that names no
// member of the pedigree is an absent parent, taken as a founder of its own
// (so that siblings whose parents are not in the file stay siblings).
// Founders are unrelated and not inbred. For i not an ancestor of j:
//   phi(i, j) = (phi(father_i, j) + phi(mother_i, j)) / 2   (an unknown parent adds 0)
//   phi(i, i) = (1 + phi(father_i, mother_i)) / 2           (1/2 + inbreeding / 2)
#ifndef OMBRA_DESIGN_KINSHIP_H
#define OMBRA_DESIGN_KINSHIP_H

#include <string>
#include <vector>

#include "core/Records.h"
#include "design/TestedSample.h"

namespace ombra {

// The kinship of every pair of the pedigree's members, members x members in
// member order, row-major. Stops the run, naming the pedigree, when its
// parent links form a cycle or when its matrix would not fit in memory.
std::vector<double> pedigreeKinship(const Pedigree& pedigree);

// Per family pedigree of `cohort` (in order; sample.familyEntryEnd has one
// end per pedigree): twice the kinship among its tested entries, m x m
// row-major over the entries in sample order (empty for a pedigree with no
// tested member).
std::vector<std::vector<double>> testedRelationships(const Cohort& cohort, const TestedSample& sample);

// Writes the non-zero kinship of every pair of members of each family
// pedigree, an individual with itself included (1/2 plus half its
// inbreeding), each pair once: "FID1 IID1 FID2 IID2 KINSHIP" per line, after
// a header line.
void writeKinship(const std::string& path, const DataSet& family);

}  // namespace ombra

#endif  // OMBRA_DESIGN_KINSHIP_H
