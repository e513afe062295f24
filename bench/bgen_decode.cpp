// Decodes every dosage of a BGEN file, for bench/bgen_read.sh: the reader's
// own cost (listing the records, reading, inflating and decoding each
// block), without a run around it.
//
//   bgen_decode FILE.bgen
//
// Prints the samples, the variants and the sum of all dosages (so that the
// work cannot be left out, and two readings of one file can be compared).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "formats/BgenFile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bgen_decode FILE.bgen\n");
    return 2;
  }
  ombra::BgenFile file(argv[1]);
  std::vector<uint16_t> dosages(file.sampleCount());
  uint64_t sum = 0;
  uint64_t missing = 0;
  for (size_t k = 0; k < file.variants().size(); ++k) {
    file.readDosages(k, dosages.data());
    for (uint16_t d : dosages) {
      if (d == kMissingDosage) {
        ++missing;
      } else {
        sum += d;
      }
    }
  }
  std::printf("%u samples, %zu variants, %zu skipped, dosage sum %.6f, %llu missing\n", file.sampleCount(),
              file.variants().size(), file.skippedRecords(), static_cast<double>(sum) / kDosageOne,
              static_cast<unsigned long long>(missing));
  return 0;
}
