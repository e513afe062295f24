// Reading a PLINK 1 fileset into the run's data sets, with the same
// bookkeeping of markers and allele counts as the other binary sets.
#include <iostream>
#include <memory>

#include "Test.h"
#include "formats/PlinkBed.h"
#include "formats/SourceLoader.h"

// The family set, or an unrelated set read first, brings the marker list;
// an unrelated set read after another set is aligned to it as Ombra's own
// binary sets are. The allele counts come from the genotypes as they are
// loaded (a PLINK .bim stores none), so bimCountPending stays false.
void CTest::loadPlinkSet(const std::string& prefix, bool unrelated) {
  const std::string bimPath = prefix + ".bim";
  const std::string famPath = prefix + ".fam";
  const std::string bedPath = prefix + ".bed";
  const bool sharedMarkers = unrelated && markerCount() > 0;
  if (!sharedMarkers) std::cout << "Reading snp map: " << bimPath << " ...\n";
  if (streaming) {
    openPlinkStream(prefix, unrelated, sharedMarkers);
    return;
  }
  std::vector<Marker> own = ombra::readPlinkBim(bimPath);
  if (!sharedMarkers) {
    markers = own;
    alleleCountBase = 0;
    bimCountPending = false;
    snpCount = static_cast<int>(markers.size());
    std::cout << "Total " << snpCount << " snps are read. \n\n";
  }
  std::vector<Pedigree>& peds = unrelated ? unrelatedPeds : familyPeds;
  std::vector<Index>& rows = unrelated ? unrelatedRows : familyRows;
  readPedigree(famPath, peds, rows, true, unrelated, TraitCodes::kPlink);
  const int size = unrelated ? unrelatedSize : familySize;

  auto source = std::make_unique<ombra::PlinkBedSource>(bedPath, bimPath, famPath, std::move(own),
                                                        static_cast<size_t>(size));
  std::cout << "Reading PLINK 1 binary genotype: " << bedPath << " ...\n";
  ombra::loadRows(*source, charTracker, rows);
  std::cout << "Genotype have been loaded.\n";
  if (sharedMarkers) {
    alignUnrelatedMarkers(source->markers(), bimPath);
    return;
  }
  for (size_t s = 0; s < markers.size(); ++s) markers[s].allele2Count += source->markers()[s].allele2Count;
  alleleCountBase += size;
}
