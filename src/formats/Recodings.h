// Writers that turn one loaded data set into another file format: the
// additive codes, Ombra's own binary set and the text set (PLINK 1
// filesets: formats/PlinkBedWriter.h).
#ifndef OMBRA_FORMATS_RECODINGS_H
#define OMBRA_FORMATS_RECODINGS_H

#include <string>
#include <vector>

#include "core/Records.h"

namespace ombra {

// PREFIX.add: the six sample columns, then one genotype code per SNP.
void writeAdditive(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set);
// PREFIX.bim (with the second allele's counts), .fam and .bed in Ombra's own
// layout.
void writeOmbraBinary(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set);
// PREFIX.map and .ped, a missing genotype as two `missingGenotype` codes.
void writeText(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set,
               const std::string& missingGenotype);

}  // namespace ombra

#endif  // OMBRA_FORMATS_RECODINGS_H
