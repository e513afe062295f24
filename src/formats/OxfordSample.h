// The Oxford .sample file that names the samples of a BGEN file: a line of
// column names (ID_1 ID_2 missing ...), a line of column types (0 0 0 ...),
// then a line per sample in the BGEN file's order.
#ifndef OMBRA_FORMATS_OXFORDSAMPLE_H
#define OMBRA_FORMATS_OXFORDSAMPLE_H

#include <string>
#include <vector>

namespace ombra {

struct OxfordSampleId {
  std::string id1;  // the family ID, as PLINK writes it
  std::string id2;  // the individual ID
};

// The samples of `path`, in its order. Stops the run with a message naming
// the file and line when the first two lines are not the header lines, or
// when a sample line has another number of fields than the header.
std::vector<OxfordSampleId> readOxfordSample(const std::string& path);

}  // namespace ombra

#endif  // OMBRA_FORMATS_OXFORDSAMPLE_H
