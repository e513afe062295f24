// The VCF/BCF reader's dosage path on arbitrary bytes: the first byte picks
// the FORMAT field (DS, GP or HDS), the rest is the genotype file, beside the
// .fam of fuzz_vcf. An accepted file must give dosages of at most two
// copies, calls that are their nearest, and allele counts that are their sums.
#include <cmath>

#include "FuzzSupport.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }

namespace {

const char* const kFam = "F S1 0 0 1 1\nF S2 0 0 2 2\nG S3 0 0 1 2\nF S4 0 0 2 1\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::setUp();
  static const std::string famPath = fuzz::writeFile("set.fam", kFam);
  fuzz::writeFile("set.vcf", data + 1, size - 1);
  const std::string prefix = famPath.substr(0, famPath.size() - 4);
  const ombra::DosageField fields[] = {ombra::DosageField::kDs, ombra::DosageField::kGp, ombra::DosageField::kHds};
  ombra::LoadSettings settings;
  settings.vcfDosage = fields[data[0] % 3];

  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader(cohort, store, settings);
  bool accepted = false;
  try {
    loader.readVcfSet(prefix, cohort.family);
    accepted = true;
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  if (!accepted) return 0;
  const size_t m = store.markers.size();
  FUZZ_CHECK(cohort.family.rows.size() == 4);
  for (size_t s = 0; s < m; ++s) {
    double copies = 0;
    for (const GenotypeRow& row : cohort.family.rows) {
      FUZZ_CHECK(row.dosages != nullptr);
      const uint16_t dosage = row.dosages[s];
      const int code = genotypeCode(row.codes, s);
      if (dosage == kMissingDosage) {
        FUZZ_CHECK(code == 3);
        continue;
      }
      FUZZ_CHECK(dosage <= 2 * kDosageOne);
      FUZZ_CHECK(code == (dosage + kDosageOne / 2) / kDosageOne);
      copies += dosageCopies(dosage);
    }
    FUZZ_CHECK(std::fabs(copies - store.markers[s].allele2Count) < 1e-9);
  }
  return 0;
}
