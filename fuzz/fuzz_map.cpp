// The SNP map reader on arbitrary bytes, read once as a .map and once as a
// .bim: either the run stops with a message or the marker list is sound.
#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

namespace {

void readAs(const std::string& path, int columns) {
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, {});
  try {
    loader.readMapFile(path, columns);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return;
  }
  FUZZ_CHECK(store.markerCount() == store.markers.size());
  for (const Marker& marker : store.markers) {
    FUZZ_CHECK(!marker.snpId.empty());
    if (columns == 6) {
      // "0" names an unknown allele and is kept as "".
      FUZZ_CHECK(marker.allele1 != "0" && marker.allele2 != "0");
      FUZZ_CHECK(marker.allele2Count >= 0);
    } else {
      FUZZ_CHECK(marker.allele1.empty() && marker.allele2.empty() && marker.allele2Count == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  const std::string path = fuzz::writeFile("input.map", data, size);
  readAs(path, 4);
  readAs(path, 6);
  return 0;
}
