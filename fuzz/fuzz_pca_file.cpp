// The PCA file loader on arbitrary bytes, after a small fixed family set and
// unrelated set are loaded and score arrays attached as the test attaches
// them. The first byte gives the number of components asked for; the rest
// is the file. An accepted file must have given every individual its scores.
#include "FuzzSupport.h"
#include "Test.h"

namespace {

const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n";
const char* const kFamily =
    "F1 1 0 0 1 1 A A C C\nF1 2 0 0 2 2 A G C T\nF1 3 1 2 1 2 G G T T\nF2 4 0 0 1 0 A G C C\n";
const char* const kUnrelated = "U1 1 0 0 1 1 A A C T\nU1 2 0 0 2 2 G G C C\nU2 1 0 0 1 2 A G T T\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size == 0) return 0;
  static const std::string mapPath = fuzz::writeFile("fixed.map", kMap);
  static const std::string familyPath = fuzz::writeFile("family.ped", kFamily);
  static const std::string unrelatedPath = fuzz::writeFile("unrelated.ped", kUnrelated);
  const std::string path = fuzz::writeFile("input.pca", data + 1, size - 1);

  CTest test;
  test.pcaCount = data[0] % 8;
  test.loadPCA = true;
  test.pcaFileName = path;
  bool accepted = false;
  try {
    test.readMapFile(mapPath, 4);
    test.readPedigree(familyPath, test.familyPeds, test.familyRows, false, false);
    test.readPedigree(unrelatedPath, test.unrelatedPeds, test.unrelatedRows, false, true);
    for (std::vector<Pedigree>* peds : {&test.familyPeds, &test.unrelatedPeds}) {
      for (Pedigree& pedigree : *peds) {
        for (Indi& person : pedigree.members) test.doubleTracker.Vector(person.pcs, test.pcaCount);
      }
    }
    test.ReadingPCA();
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  if (!accepted) return 0;
  FUZZ_CHECK(test.pcaCount == data[0] % 8);  // loading never changes the count
  for (const std::vector<Pedigree>* peds : {&test.familyPeds, &test.unrelatedPeds}) {
    for (const Pedigree& pedigree : *peds) {
      for (const Indi& person : pedigree.members) FUZZ_CHECK(person.pcaLoaded);
    }
  }
  return 0;
}
