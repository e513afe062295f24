// The PCA file loader on arbitrary bytes, after a small fixed family set and
// unrelated set are loaded. The first byte gives the number of components asked for; the rest
// is the file. An accepted file must have given every individual its scores.
#include "FuzzSupport.h"
#include "components/Components.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

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

  const int count = data[0] % 8;
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, {});
  ombra::ComponentScores scores;
  bool accepted = false;
  try {
    loader.readMapFile(mapPath, 4);
    loader.readPedigree(familyPath, cohort.family, false);
    loader.readPedigree(unrelatedPath, cohort.unrelated, false);
    scores = ombra::loadPcaFile(cohort, path, count);
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  if (!accepted) return 0;
  FUZZ_CHECK(scores.count == count);  // loading never changes the count
  FUZZ_CHECK(scores.values.size() == static_cast<size_t>(cohort.individuals() * count));
  return 0;
}
