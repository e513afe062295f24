// The VCF/BCF data set reader on arbitrary bytes: the input is the genotype
// file (htslib tells plain, gzip, bgzip and BCF apart by content), beside a
// fixed .fam of four individuals whose samples are named S1, S2, S3 and F_S4.
// An accepted file must give one full row per individual, each marker's ALT
// count equal to the ALT copies in the rows, and two distinct alleles.
#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

// htslib sizes a BCF record's buffer by the length the record states, so a
// few corrupt bytes ask for gigabytes that the failed read right after never
// touches (the program stops with its message). Under the sanitizer such a
// request is refused as a failed allocation, which htslib reports as an
// error, instead of taking many seconds or passing the fuzzer's limit.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }

namespace {

const char* const kFam = "F S1 0 0 1 1\nF S2 0 0 2 2\nG S3 0 0 1 2\nF S4 0 0 2 1\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();
  static const std::string famPath = fuzz::writeFile("set.fam", kFam);
  // Only the first existing form is read: keep the other names away.
  fuzz::writeFile("set.vcf", data, size);
  const std::string prefix = famPath.substr(0, famPath.size() - 4);

  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, {});
  bool accepted = false;
  try {
    loader.readVcfSet(prefix, cohort.family);
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  if (!accepted) return 0;
  const size_t m = store.markers.size();
  FUZZ_CHECK(cohort.family.size == 4);
  FUZZ_CHECK(cohort.family.rows.size() == 4);
  FUZZ_CHECK(cohort.family.markerCount == static_cast<long>(m));
  FUZZ_CHECK(store.alleleCountBase == 4);
  for (size_t s = 0; s < m; ++s) {
    const Marker& marker = store.markers[s];
    FUZZ_CHECK(!marker.allele1.empty() && !marker.allele2.empty() && marker.allele1 != marker.allele2);
    double copies = 0;
    for (const GenotypeRow& row : cohort.family.rows) {
      const int code = genotypeCode(row.codes, s);
      copies += code == 3 ? 0 : code;
    }
    FUZZ_CHECK(copies == marker.allele2Count);
  }
  for (const GenotypeRow& row : cohort.family.rows) {
    if (m % 4 != 0) FUZZ_CHECK((row.codes[m / 4] & ((1u << (2 * (4 - m % 4))) - 1)) == 0);
  }
  return 0;
}
