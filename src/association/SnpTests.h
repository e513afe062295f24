// The test over every SNP of the run, in map order: trait and genotypes
// adjusted for the design, the three statistics, and the results handed to
// the sink.
#ifndef OMBRA_ASSOCIATION_SNPTESTS_H
#define OMBRA_ASSOCIATION_SNPTESTS_H

#include "association/BlockTest.h"
#include "association/MixedModel.h"
#include "association/Projection.h"
#include "association/Regression.h"
#include "association/StatisticTerms.h"
#include "core/Records.h"
#include "design/TestedSample.h"
#include "formats/GenotypeStore.h"
#include "outputs/ResultSink.h"

namespace ombra {

// Whether the test runs on blocks of SNPs: the default adjustment's route
// whenever OpenBLAS is there. The legacy adjustment keeps the one-SNP loop,
// so that it reproduces earlier results byte for byte.
bool testsInBlocks(Adjustment adjustment);

class AssociationTest {
 public:
  // The projection on `design` and the trait's terms over the tested
  // entries of `sample`; both must outlive the test, and so must `mixed`
  // (the mixed model's test, when not null).
  AssociationTest(const TestedSample& sample, const DesignMatrix& design, const MixedModel* mixed = nullptr);

  // Tests every SNP of `store`: blocks shared out between `threads` threads
  // (a streamed run reading each window's SNPs into the rows first), or one
  // SNP at a time. The plain regression's BETA SE are computed for a tsv
  // table, the mixed model's columns when there is one.
  void testEverySnp(Cohort& cohort, GenotypeStore& store, int threads, ResultSink& sink) const;

 private:
  const TestedSample& sample;
  Projection projection;
  TraitFit plain;
  StatisticTerms terms;
  const MixedModel* mixed;
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_SNPTESTS_H
