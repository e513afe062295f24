// The BGEN genotype source on arbitrary bytes: the input is the BGEN file,
// beside a fixed .fam of four individuals (F a, F b, G c, F d) and a .sample
// file naming four samples for files without an identifier block. An
// accepted file must give every dosage within 0..2 copies or missing, codes
// that are the nearest whole copies, allele2 counts that are the sums of
// the dosages; with variances asked for, the same dosages, and variance 0
// where a dosage is missing.
#include "FuzzSupport.h"
#include "formats/BgenSource.h"

namespace {

const char* const kSample = "ID_1 ID_2 missing\n0 0 0\nF a 0\nF b 0\nG c 0\nF d 0\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  static const std::string samplePath = fuzz::writeFile("set.sample", kSample);
  const std::string path = fuzz::writeFile("set.bgen", data, size);
  const std::vector<ombra::SampleName> fam = {{"F", "a"}, {"F", "b"}, {"G", "c"}, {"F", "d"}};
  try {
    ombra::BgenSource source(path, samplePath, fam, "set.fam");
    const size_t m = source.markers().size();
    unsigned char codes[1];
    uint16_t dosages[4], again[4], variances[4];
    for (size_t s = 0; s < m; ++s) {
      source.readDosages(s, 1, codes, dosages);
      source.readDosages(s, 1, codes, again, variances);
      for (size_t i = 0; i < 4; ++i) {
        FUZZ_CHECK(again[i] == dosages[i]);
        FUZZ_CHECK(dosages[i] != kMissingDosage || variances[i] == 0);
      }
      double sum = 0;
      for (size_t i = 0; i < 4; ++i) {
        const int code = codes[0] >> (6 - 2 * i) & 3;
        if (dosages[i] == kMissingDosage) {
          FUZZ_CHECK(code == 3);
          continue;
        }
        FUZZ_CHECK(dosages[i] <= 2 * kDosageOne);
        FUZZ_CHECK(code == (dosages[i] + kDosageOne / 2) / kDosageOne);
        sum += dosages[i];
      }
      FUZZ_CHECK(source.markers()[s].allele2Count == sum / kDosageOne);
    }
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  return 0;
}
