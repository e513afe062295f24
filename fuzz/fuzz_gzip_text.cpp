// The gzip-compressed .ped reader on arbitrary bytes given as PREFIX.ped.gz,
// after a fixed map of three SNPs. Byte 0 chooses the data set; the rest is
// the compressed file. Whatever the bytes, the run ends with a message or
// with one row per individual.
#include "FuzzSupport.h"
#include "Test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size == 0) return 0;
  static const std::string mapPath = fuzz::writeFile("fixed.map", "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n");
  const bool unrelated = data[0] & 1;
  const std::string path = fuzz::writeFile("input.ped.gz", data + 1, size - 1);
  CTest test;
  std::vector<Pedigree>& peds = unrelated ? test.unrelatedPeds : test.familyPeds;
  std::vector<Index>& rows = unrelated ? test.unrelatedRows : test.familyRows;
  try {
    test.readMapFile(mapPath, 4);
    test.readPedigree(path, peds, rows, false, unrelated);
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
    return 0;
  }
  const int n = unrelated ? test.unrelatedSize : test.familySize;
  FUZZ_CHECK(static_cast<int>(rows.size()) == n);
  return 0;
}
