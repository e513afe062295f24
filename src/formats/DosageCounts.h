// Per-SNP counts over the packed genotype rows of the loaded data sets: the
// copies of allele2 and the called genotypes, from which a missing
// genotype's fill value (the mean dosage) follows.
#ifndef OMBRA_DOSAGECOUNTS_H
#define OMBRA_DOSAGECOUNTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Records.h"

namespace ombra {

struct DosageCounts {
  std::vector<uint64_t> copies;  // per SNP: copies of allele2 over the called genotypes
  std::vector<uint64_t> called;  // per SNP: genotypes that are not missing
  std::vector<uint64_t> units;   // per SNP: dosage units (1/kDosageOne copy) of the rows with dosages
};

// Adds the codes of `rowCount` packed rows of `markerCount` SNPs each (the
// genotype store's layout; unused low slots of a row's last byte are 0) to
// `counts`, sizing it to `markerCount` on first use.
void addDosageCounts(const unsigned char* const* rows, size_t rowCount, size_t markerCount, DosageCounts& counts);

// Adds `rowCount` dosage rows of `markerCount` SNPs each to `counts`.
void addDosageUnits(const uint16_t* const* rows, size_t rowCount, size_t markerCount, DosageCounts& counts);

// The counts of every row of both data sets of `cohort` over its first
// `markerCount` SNPs: a row's dosages where it has them, else its codes.
// Whole counts, the same however the SNPs are shared between `threads`.
DosageCounts cohortDosageCounts(const Cohort& cohort, size_t markerCount, size_t threads = 1);
// Whether a row of `cohort` holds dosages.
bool holdsDosages(const Cohort& cohort);

// The mean dosage of the called genotypes of each SNP (0 where none is
// called), in `fill`.
void meanDosages(const DosageCounts& counts, std::vector<double>& fill);

}  // namespace ombra

#endif  // OMBRA_DOSAGECOUNTS_H
