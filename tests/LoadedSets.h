// A cohort, its genotype store and the loader that fills them, for tests
// that drive the readers in process.
#ifndef OMBRA_TESTS_LOADEDSETS_H
#define OMBRA_TESTS_LOADEDSETS_H

#include "core/Records.h"
#include "formats/DataSetLoader.h"
#include "formats/GenotypeStore.h"

struct LoadedSets {
  explicit LoadedSets(ombra::LoadSettings settings = {}, Adjustment adjustment = Adjustment::kIntercept)
      : store(adjustment), loader(cohort, store, std::move(settings)) {}
  Cohort cohort;
  ombra::GenotypeStore store;
  ombra::DataSetLoader loader;
};

#endif  // OMBRA_TESTS_LOADEDSETS_H
