// Matching the samples of a genotype file (VCF columns, BGEN samples) to the
// individuals of the data set's .fam, which give the run its sample order.
#ifndef OMBRA_FORMATS_SAMPLEMATCH_H
#define OMBRA_FORMATS_SAMPLEMATCH_H

#include <cstddef>
#include <string>
#include <vector>

namespace ombra {

// The family ID and individual ID of one individual of a .fam.
struct SampleName {
  std::string famId;
  std::string indId;
};

// Where each sample of a file goes among the individuals.
struct SampleMatch {
  std::vector<int> seqOfSample;  // per sample of the file: the individual's seq, or -1
  bool inFileOrder = false;      // individual i is sample i, for every individual i
  size_t ignored = 0;            // samples that match no individual
};

// Matches the file's samples, named `names`, to `individuals` (those of
// `famPath`, in its order): a sample matches the individual whose individual
// ID is its name, else the one whose "FID_IID" is. Where `otherNames` is
// not empty, a sample that matches nothing by its name is tried again by its
// other name (an Oxford .sample file's ID_1_ID_2 besides its ID_2). Samples
// that match no individual are ignored. Stops the run, naming `path` and
// `famPath`, when an individual has no sample, when two samples match one
// individual, or when a name is shared by several individuals.
SampleMatch matchSamples(const std::vector<std::string>& names, const std::vector<std::string>& otherNames,
                         const std::vector<SampleName>& individuals, const std::string& path,
                         const std::string& famPath);

}  // namespace ombra

#endif  // OMBRA_FORMATS_SAMPLEMATCH_H
