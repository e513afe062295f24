// The pedigree reader (.ped and .fam) on arbitrary bytes after a fixed map
// of three SNPs. The first byte chooses the layout, the data set and the
// missing codes; the rest is the file. An accepted file must give one row
// per individual in file order, every row readable through the accessor.
#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

namespace {

const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size == 0) return 0;
  static const std::string mapPath = fuzz::writeFile("fixed.map", kMap);
  const uint8_t flags = data[0];
  const bool binary = flags & 1;
  const bool unrelated = flags & 2;
  const std::string path = fuzz::writeFile(binary ? "input.fam" : "input.ped", data + 1, size - 1);

  ombra::LoadSettings settings;
  if (flags & 4) settings.missingGenotype = "N";
  if (flags & 8) settings.missingTrait = "-9";
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, settings);
  DataSet& set = unrelated ? cohort.unrelated : cohort.family;
  const std::vector<Pedigree>& peds = set.pedigrees;
  const std::vector<GenotypeRow>& rows = set.rows;
  try {
    loader.readMapFile(mapPath, 4);
    loader.readPedigree(path, set, binary, flags & 16 ? ombra::TraitCodes::kPlink : ombra::TraitCodes::kOwn);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }

  const int n = set.size;
  int total = 0;
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (const Pedigree& pedigree : peds) {
    FUZZ_CHECK(!pedigree.members.empty());
    for (const Individual& person : pedigree.members) {
      FUZZ_CHECK(person.seq >= 0 && person.seq < n);
      FUZZ_CHECK(!seen[static_cast<size_t>(person.seq)]);
      seen[static_cast<size_t>(person.seq)] = true;
      FUZZ_CHECK(person.trait.find('\r') == std::string::npos);
      ++total;
    }
  }
  FUZZ_CHECK(total == n);
  if (binary) {
    FUZZ_CHECK(rows.empty());  // the .bed reader adds them
    return 0;
  }
  FUZZ_CHECK(static_cast<int>(rows.size()) == n);
  store.computeMeanDosages(cohort, store.markers.size());
  for (int i = 0; i < n; ++i) {
    FUZZ_CHECK(rows[static_cast<size_t>(i)].seq == i);
    // Three SNPs: the last slot of the only byte is unused and 0.
    FUZZ_CHECK((rows[static_cast<size_t>(i)].codes[0] & 3) == 0);
    for (int s = 0; s < 3; ++s) {
      const double value = store.value(set, i, static_cast<size_t>(s));
      FUZZ_CHECK(value >= 0 && value <= 2);
    }
  }
  for (const Marker& marker : store.markers) {
    FUZZ_CHECK(marker.allele2Count >= 0 && marker.allele2Count <= 2.0 * n);
    FUZZ_CHECK(marker.allele1 != marker.allele2 || marker.allele1.empty());
  }
  return 0;
}
