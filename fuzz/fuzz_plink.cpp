// The PLINK 1 fileset reader on arbitrary bytes. Byte 0 gives the number of
// individuals (a matching .fam is written), byte 1 the length of the .bim
// text that follows; the rest is the .bed. An accepted set must have had
// the magic bytes and exactly the size of its .bim and .fam, and every
// loaded code must be the .bed's own.
#include <algorithm>

#include "FuzzSupport.h"
#include "core/MemoryClass.h"
#include "core/Records.h"
#include "formats/PlinkBed.h"
#include "formats/SourceLoader.h"

namespace {

// Ombra's code of individual i at SNP s, straight from the .bed bytes.
int referenceCode(const uint8_t* bed, size_t samples, size_t s, size_t i) {
  static const int kOmbraOfPlink[4] = {0, 3, 1, 2};
  const uint8_t byte = bed[3 + s * ombra::columnBytes(samples) + i / 4];
  return kOmbraOfPlink[(byte >> (2 * (i % 4))) & 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  if (size < 2) return 0;
  const size_t samples = data[0] % 11;
  const size_t bimLength = std::min<size_t>(data[1], size - 2);
  std::string fam;
  for (size_t i = 0; i < samples; ++i) fam += "F" + std::to_string(i % 3) + " " + std::to_string(i) + " 0 0 1 2\n";
  fuzz::writeFile("set.fam", fam);
  fuzz::writeFile("set.bim", data + 2, bimLength);
  const uint8_t* bed = data + 2 + bimLength;
  const size_t bedSize = size - 2 - bimLength;
  fuzz::writeFile("set.bed", bed, bedSize);
  const std::string prefix = fuzz::pathOf("set");

  MemoryClass<char> memory;
  std::vector<GenotypeRow> rows;
  std::vector<Marker> markers;
  bool accepted = false;
  try {
    (void)ombra::isPlinkFileset(prefix);
    markers = ombra::readPlinkBim(prefix + ".bim");
    ombra::PlinkBedSource source(prefix + ".bed", prefix + ".bim", prefix + ".fam", markers, samples);
    ombra::loadRows(source, memory, rows);
    markers = source.markers();
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  if (!accepted) return 0;
  const size_t snps = markers.size();
  FUZZ_CHECK(bedSize == 3 + snps * ombra::columnBytes(samples));
  FUZZ_CHECK(bed[0] == 0x6c && bed[1] == 0x1b && bed[2] == 0x01);
  FUZZ_CHECK(rows.size() == samples);
  for (size_t s = 0; s < snps; ++s) {
    double copies = 0;
    for (size_t i = 0; i < samples; ++i) {
      const int code = referenceCode(bed, samples, s, i);
      FUZZ_CHECK(genotypeCode(rows[i].codes, s) == code);
      if (code != 3) copies += code;
    }
    FUZZ_CHECK(markers[s].allele2Count == copies);
  }
  return 0;
}
