// The binary genotype reader on arbitrary bytes. The first two bytes give
// the number of individuals and of SNPs, from which a matching .fam and .bim
// are written; the rest is the .bed. Every accepted file must give exactly
// one full row per individual.
#include <cstring>

#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size < 2) return 0;
  const int n = data[0] % 9;
  const int m = data[1] % 14;
  std::string fam;
  for (int i = 0; i < n; ++i) fam += "F" + std::to_string(i % 3) + " " + std::to_string(i) + " 0 0 1 " +
                                     std::to_string(1 + i % 2) + "\n";
  std::string bim;
  for (int s = 0; s < m; ++s) bim += "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1) + " A G " +
                                     std::to_string(s % 5) + "\n";
  const std::string famPath = fuzz::writeFile("set.fam", fam);
  const std::string bimPath = fuzz::writeFile("set.bim", bim);
  const std::string bedPath = fuzz::writeFile("set.bed", data + 2, size - 2);

  const bool unrelated = data[0] & 0x80;
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, {});
  DataSet& set = unrelated ? cohort.unrelated : cohort.family;
  const std::vector<GenotypeRow>& rows = set.rows;
  bool accepted = false;
  try {
    loader.readMapFile(bimPath, 6);
    loader.readPedigree(famPath, set, true);
    loader.readGenotype(bedPath, set);
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  const size_t length = static_cast<size_t>((m + 3) / 4);
  // A .bed holding every row is never refused.
  FUZZ_CHECK(accepted == (size - 2 >= static_cast<size_t>(n) * length));
  if (!accepted) return 0;
  FUZZ_CHECK(static_cast<int>(rows.size()) == n);
  store.computeMeanDosages(cohort, store.markers.size());
  for (int i = 0; i < n; ++i) {
    FUZZ_CHECK(rows[static_cast<size_t>(i)].seq == i);
    FUZZ_CHECK(std::memcmp(rows[static_cast<size_t>(i)].codes, data + 2 + static_cast<size_t>(i) * length, length) == 0);
    for (int s = 0; s < m; ++s) {
      const double value = store.value(set, i, static_cast<size_t>(s));
      FUZZ_CHECK(value >= 0 && value <= 2);
    }
  }
  return 0;
}
