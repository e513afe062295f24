// Packed genotype rows of a test held where the block reader finds them: as
// the rows of a cohort's unrelated set, with a store that gives each SNP's
// fill value and marker.
#ifndef OMBRA_TESTS_HELDROWS_H
#define OMBRA_TESTS_HELDROWS_H

#include <vector>

#include "core/Records.h"
#include "formats/GenotypeBlock.h"
#include "formats/GenotypeStore.h"

namespace testing_support {

struct HeldRows {
  // Rows of `packed` (which must outlive this) as unrelated seq 0, 1, ...
  // and entries naming them in that order.
  HeldRows(std::vector<std::vector<unsigned char>>& packed, const std::vector<double>& fill,
           const std::vector<Marker>& markers) {
    for (size_t i = 0; i < packed.size(); ++i) {
      cohort.unrelated.rows.push_back(GenotypeRow{static_cast<int>(i), packed[i].data(), static_cast<int>(i)});
      entries.push_back(ombra::GenotypeEntry{SetKind::kUnrelated, static_cast<int>(i)});
    }
    store.meanDosage = fill;
    store.markers = markers;
  }
  // SNPs first .. first + count - 1 of the rows in a block of `width`.
  ombra::GenotypeBlock block(size_t first, size_t count, size_t width) const {
    ombra::GenotypeBlock block;
    ombra::readBlock(store, cohort, entries, first, count, width, block);
    return block;
  }

  Cohort cohort;
  ombra::GenotypeStore store;
  std::vector<ombra::GenotypeEntry> entries;
};

}  // namespace testing_support

#endif  // OMBRA_TESTS_HELDROWS_H
