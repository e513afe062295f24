// The pedigree reader (.ped and .fam) on arbitrary bytes after a fixed map
// of three SNPs. The first byte chooses the layout, the data set and the
// missing codes; the rest is the file. An accepted file must give one row
// per individual in file order, every row readable through the accessor.
#include "FuzzSupport.h"
#include "Test.h"

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

  CTest test;
  if (flags & 4) test.missingGenotype = "N";
  if (flags & 8) test.missingTrait = "-9";
  std::vector<Pedigree>& peds = unrelated ? test.unrelatedPeds : test.familyPeds;
  std::vector<Index>& rows = unrelated ? test.unrelatedRows : test.familyRows;
  try {
    test.readMapFile(mapPath, 4);
    test.readPedigree(path, peds, rows, binary, unrelated);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }

  const int n = unrelated ? test.unrelatedSize : test.familySize;
  int total = 0;
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (const Pedigree& pedigree : peds) {
    FUZZ_CHECK(!pedigree.members.empty());
    for (const Indi& person : pedigree.members) {
      FUZZ_CHECK(person.seq >= 0 && person.seq < n);
      FUZZ_CHECK(!seen[static_cast<size_t>(person.seq)]);
      seen[static_cast<size_t>(person.seq)] = true;
      FUZZ_CHECK(person.trait.find('\r') == std::string::npos);
      ++total;
    }
  }
  FUZZ_CHECK(total == n);
  FUZZ_CHECK(test.affectedCount + test.unaffectedCount + test.missingTraitCount + test.otherTraitCount == n);
  if (binary) {
    FUZZ_CHECK(rows.empty());  // the .bed reader adds them
    return 0;
  }
  FUZZ_CHECK(static_cast<int>(rows.size()) == n);
  test.computeMeanDosages(test.markers.size());
  for (int i = 0; i < n; ++i) {
    FUZZ_CHECK(rows[static_cast<size_t>(i)].seq == i);
    // Three SNPs: the last slot of the only byte is unused and 0.
    FUZZ_CHECK((rows[static_cast<size_t>(i)].geno[0] & 3) == 0);
    for (int s = 0; s < 3; ++s) {
      const double value = test.extractGenotype(rows, i, -1, -1, unrelated, s);
      FUZZ_CHECK(value >= 0 && value <= 2);
    }
  }
  for (const Marker& marker : test.markers) {
    FUZZ_CHECK(marker.allele2Count >= 0 && marker.allele2Count <= 2.0 * n);
    FUZZ_CHECK(marker.allele1 != marker.allele2 || marker.allele1.empty());
  }
  return 0;
}
