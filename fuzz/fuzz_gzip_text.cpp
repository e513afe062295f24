// The gzip-compressed .ped reader on arbitrary bytes given as PREFIX.ped.gz,
// after a fixed map of three SNPs. Byte 0 chooses the data set; the rest is
// the compressed file. Whatever the bytes, the run ends with a message or
// with one row per individual.
#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size == 0) return 0;
  static const std::string mapPath = fuzz::writeFile("fixed.map", "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n");
  const bool unrelated = data[0] & 1;
  const std::string path = fuzz::writeFile("input.ped.gz", data + 1, size - 1);
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, {});
  DataSet& set = unrelated ? cohort.unrelated : cohort.family;
  try {
    loader.readMapFile(mapPath, 4);
    loader.readPedigree(path, set, false);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }
  FUZZ_CHECK(static_cast<int>(set.rows.size()) == set.size);
  return 0;
}
