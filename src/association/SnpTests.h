// The test over every SNP of the run, in map order: trait and genotypes
// adjusted for the design, the three statistics, and the results handed to
// the sink.
#ifndef OMBRA_ASSOCIATION_SNPTESTS_H
#define OMBRA_ASSOCIATION_SNPTESTS_H

#include <vector>

#include "association/Model.h"
#include "association/Projection.h"
#include "association/Regression.h"
#include "association/StatisticTerms.h"
#include "core/Records.h"
#include "design/TestedSample.h"
#include "formats/GenotypeStore.h"
#include "outputs/ResultSink.h"

namespace ombra {

// Whether the test runs on blocks of SNPs: the default adjustment's route,
// with OpenBLAS or without (its residuals take the one-SNP route's sums, so
// a memory bound that keeps OpenBLAS out changes no byte of them). The
// legacy adjustment keeps the one-SNP loop, so that it reproduces earlier
// results byte for byte.
bool testsInBlocks(Adjustment adjustment);

class AssociationTest {
 public:
  // The projection on `design` and the trait's terms over the tested
  // entries of `sample`; both must outlive the test, and so must `models`
  // (the run's models beside the three statistics, in column order).
  AssociationTest(const TestedSample& sample, const DesignMatrix& design, std::vector<const Model*> models = {});
  // Several traits over the same tested entries (traits[t] per entry of
  // `sample`, whose own traits are not used): each gets the terms a test of
  // it alone would have.
  AssociationTest(const TestedSample& sample, const DesignMatrix& design,
                  const std::vector<std::vector<double>>& traits);
  AssociationTest(const AssociationTest&) = delete;
  AssociationTest& operator=(const AssociationTest&) = delete;

  size_t traits() const { return terms.size(); }
  // The SNPs of each of its blocks.
  size_t blockWidth() const;

  // Tests every SNP of `store`: blocks shared out between `threads` threads
  // (a streamed run reading each window's SNPs into the rows first), or one
  // SNP at a time. One trait. The plain regression's BETA SE are computed
  // where the sink's layout writes them, and the models' columns.
  void testEverySnp(Cohort& cohort, GenotypeStore& store, int threads, ResultSink& sink) const;

 private:
  // `otherModels`: whether models beside the three statistics are tested,
  // which may stand where the three are not defined.
  AssociationTest(const TestedSample& sample, const DesignMatrix& design,
                  const std::vector<std::vector<double>>& traits, bool otherModels);
  friend void testEverySnp(const std::vector<const AssociationTest*>&, const std::vector<std::vector<ResultSink*>>&,
                           Cohort&, GenotypeStore&, int);
  const TestedSample& sample;
  Projection projection;
  std::vector<TraitFit> plain;        // per trait: its residuals on the design
  std::vector<StatisticTerms> terms;  // per trait
  std::vector<const Model*> models;   // of the first trait
};

// Tests every SNP of `store` for every trait of every group (groups[g]'s
// trait t into sinks[g][t]), the genotypes read once: the groups whose
// blocks have the same width share each window of a streamed run (groups of
// other widths read it again), and each block is residualised once per group
// for all of its traits. Each trait's numbers are those of a test of it
// alone.
void testEverySnp(const std::vector<const AssociationTest*>& groups,
                  const std::vector<std::vector<ResultSink*>>& sinks, Cohort& cohort, GenotypeStore& store,
                  int threads);

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_SNPTESTS_H
