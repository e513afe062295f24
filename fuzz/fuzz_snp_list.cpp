// The PCA SNP list reader on arbitrary bytes against a fixed marker list
// that names one SNP twice: the positions chosen must be valid, ascending
// and exactly those of the markers the list names (its non-empty lines).
#include <algorithm>
#include <sstream>

#include "FuzzSupport.h"
#include "components/Components.h"
#include "formats/GenotypeStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  const std::string path = fuzz::writeFile("input.list", data, size);
  ombra::GenotypeStore store;
  for (const char* name : {"rs1", "rs2", "rs 3", "rs1", "a", ""}) {
    Marker marker;
    marker.chr = "1";
    marker.snpId = name;
    store.markers.push_back(marker);
  }
  std::vector<int> chosen;
  try {
    chosen = ombra::choosePcaSnps(store, path);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }
  std::vector<std::string> names;
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) names.push_back(line);
  }
  FUZZ_CHECK(std::is_sorted(chosen.begin(), chosen.end()));
  FUZZ_CHECK(std::adjacent_find(chosen.begin(), chosen.end()) == chosen.end());
  for (size_t s = 0; s < store.markers.size(); ++s) {
    const bool named = std::find(names.begin(), names.end(), store.markers[s].snpId) != names.end();
    const bool taken = std::find(chosen.begin(), chosen.end(), static_cast<int>(s)) != chosen.end();
    FUZZ_CHECK(named == taken);
  }
  return 0;
}
