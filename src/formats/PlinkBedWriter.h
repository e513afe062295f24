// Writes a loaded data set as a PLINK 1 binary fileset (SNP-major .bed with
// its magic bytes, 6-column .bim, .fam), the inverse of PlinkBedSource.
#ifndef OMBRA_FORMATS_PLINKBEDWRITER_H
#define OMBRA_FORMATS_PLINKBEDWRITER_H

#include <string>
#include <vector>

#include "core/Records.h"

namespace ombra {

// Writes prefix.bim, prefix.fam and prefix.bed for `markers` and the
// individuals of `peds` (rows looked up by their seq), grouped by family ID
// in the order of `peds`, as the other writers do. A marker's unknown allele
// is written as 0. Stops the run when a file cannot be written.
void writePlinkFileset(const std::string& prefix, const std::vector<Marker>& markers,
                       const std::vector<Pedigree>& peds, const std::vector<GenotypeRow>& rows);

}  // namespace ombra

#endif  // OMBRA_FORMATS_PLINKBEDWRITER_H
