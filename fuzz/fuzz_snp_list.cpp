// The PCA SNP list reader on arbitrary bytes against a fixed marker list
// that names one SNP twice: the positions chosen must be valid, ascending
// and exactly those of the markers the list names.
#include <algorithm>

#include "FuzzSupport.h"
#include "Test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  const std::string path = fuzz::writeFile("input.list", data, size);
  CTest test;
  for (const char* name : {"rs1", "rs2", "rs 3", "rs1", "a", ""}) {
    Marker marker;
    marker.chr = "1";
    marker.snpId = name;
    test.markers.push_back(marker);
  }
  test.snpCount = static_cast<int>(test.markers.size());
  test.pcaSnpCount = -1;
  try {
    test.readSnpListOfPCA(path);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }
  const std::vector<int>& chosen = test.pcaSnpIndices;
  FUZZ_CHECK(std::is_sorted(chosen.begin(), chosen.end()));
  FUZZ_CHECK(std::adjacent_find(chosen.begin(), chosen.end()) == chosen.end());
  FUZZ_CHECK(test.pcaSnpCount == (chosen.empty() ? -1 : static_cast<int>(chosen.size())));
  for (size_t s = 0; s < test.markers.size(); ++s) {
    const bool named = std::find(test.pcaSnpNames.begin(), test.pcaSnpNames.end(), test.markers[s].snpId) !=
                       test.pcaSnpNames.end();
    const bool taken = std::find(chosen.begin(), chosen.end(), static_cast<int>(s)) != chosen.end();
    FUZZ_CHECK(named == taken);
  }
  for (const std::string& name : test.pcaSnpNames) FUZZ_CHECK(!name.empty() && name.find('\n') == std::string::npos);
  return 0;
}
