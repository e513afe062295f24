// The counts behind the quality-control filters and the Hardy-Weinberg exact
// test of Wigginton, Cutler and Abecasis (2005).
#ifndef OMBRA_DESIGN_QUALITYFILTERS_H
#define OMBRA_DESIGN_QUALITYFILTERS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombra {

// The exact two-sided p-value of Hardy-Weinberg equilibrium for a SNP with
// `hets` heterozygotes and `homs1`, `homs2` homozygotes of either allele:
// the probability, given the allele counts, of every heterozygote count no
// more likely than the observed one. 1 for a SNP without genotypes.
double hardyWeinbergP(long hets, long homs1, long homs2);

// Per SNP, how many of a group's individuals have each genotype code:
// [4 * snp + code], code 3 missing.
struct GenotypeTally {
  std::vector<uint64_t> counts;
  explicit GenotypeTally(size_t markerCount) : counts(4 * markerCount, 0) {}
  uint64_t at(size_t snp, int code) const { return counts[4 * snp + static_cast<size_t>(code)]; }
};

// Adds (sign +1) or takes away (sign -1) the codes of one packed row of
// `markerCount` SNPs; returns the row's missing genotypes among the SNPs
// whose `selected` entry is 1 (`selected` has markerCount entries, 0 or 1).
long tallyRow(const unsigned char* row, size_t markerCount, int sign, GenotypeTally& tally, const char* selected);

}  // namespace ombra

#endif  // OMBRA_DESIGN_QUALITYFILTERS_H
