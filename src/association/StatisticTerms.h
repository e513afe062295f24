// The three statistics of a SNP from the residuals of trait and genotype.
// The terms they share (centred values, cross-products, the pedigrees' sums)
// are computed once per SNP, eight neighbouring SNPs at a time in the lanes
// of vector registers, and the trait's once per test; every sum keeps the
// order in which the statistics define it, so a SNP's numbers do not depend
// on its neighbours.
#ifndef OMBRA_ASSOCIATION_STATISTICTERMS_H
#define OMBRA_ASSOCIATION_STATISTICTERMS_H

#include <cstddef>
#include <vector>

#include "outputs/ResultTable.h"
#include "stats/statistic.h"

namespace ombra {

// Terms shared by the three statistics of a SNP. "Own" cross-products are
// centred on each data set's own means.
struct SnpTerms {
  size_t entries = 0;             // tested entries
  size_t pedigrees = 0;           // counted pedigrees (those with a tested member)
  double ownTotal = 0;            // own cross-products, unrelated entries then family ones
  double averagedTotal = 0;       // the pedigrees' mean cross-products, then the unrelated cross
  double summedTotal = 0;         // the pedigrees' summed cross-products, then the unrelated cross
  double averagedSpread = 0;      // sample variance of the pedigrees' mean cross-products
  double summedSpread = 0;        // sample variance of their summed cross-products
  double ownDeviation = 0;        // squared deviations of the pedigrees' own sums from their mean over all pedigrees
  double genotypeSquares = 0;     // unrelated: sum of squared own-centred g
  double unrelatedSpread = 0;     // sample variance of unrelated cross
};

// SNPs whose terms are computed together.
constexpr size_t kTermsBatch = 8;
// Two batches, whose terms one trait computes together (pairTerms).
constexpr size_t kTermsPair = 2 * kTermsBatch;

// The terms of up to kTermsPair SNPs and their scratch; one per thread.
struct TermsBatch {
  SnpTerms terms[kTermsPair];
  std::vector<double> lanes;         // one SNP's residuals in the first of kTermsBatch lanes
  std::vector<double> centredAll;    // tested entries x kTermsBatch: genotype minus its mean over all entries
  std::vector<double> centredOwn;    // the same, minus the mean over the entry's own data set
  double genotypeSquares[kTermsBatch] = {};  // per SNP: sum of squared own-centred unrelated genotypes
  std::vector<double> cross;         // tested entries x the SNPs of one trait's call
  std::vector<double> own;           // family entries x the same: own cross-products
  std::vector<double> pedigreeSums;  // counted pedigrees x the same: sums of cross-products
  std::vector<double> pedigreeOwn;   // the same, of own cross-products
  std::vector<SnpTerms> traitTerms;  // traits x kTermsBatch: several traits' terms (traitsTerms)
};

class StatisticTerms {
 public:
  // `traitResiduals` per tested entry: the family members (the first
  // `familyEntries`, pedigree p's ending at familyEntryEnd[p]), then the
  // unrelated individuals.
  StatisticTerms(const std::vector<double>& traitResiduals, size_t familyEntries, std::vector<size_t> familyEntryEnd);

  // The terms of kTermsBatch SNPs whose genotype residuals lie side by side
  // (entry h of SNP k at g[h * stride + k], stride at least kTermsBatch),
  // into batch.terms[k] where wanted[k]. Safe to call from several threads
  // with their own batch.
  void snpTerms(const double* g, size_t stride, const bool* wanted, TermsBatch& batch) const;
  // The same for kTermsPair SNPs (stride at least kTermsPair), the same
  // numbers: the two batches' sums go through the entries together.
  void pairTerms(const double* g, size_t stride, const bool* wanted, TermsBatch& batch) const;
  // The same in two steps, for several traits over the same entries: what
  // the terms take from the genotypes alone, once for the batch (any trait's
  // StatisticTerms over these entries may compute it), then every trait's
  // terms from it, traits[t]'s of SNP k into batch.traitTerms[t *
  // kTermsBatch + k] where wanted[k]. The traits go through the entries
  // together, a few at a time, each adding its sums in the order of
  // snpTerms, so that every trait's numbers are those of snpTerms for it
  // alone; `traits` must be over the entries (and pedigrees) of this one.
  void genotypeTerms(const double* g, size_t stride, TermsBatch& batch) const;
  static void traitsTerms(const StatisticTerms* const* traits, size_t count, const bool* wanted, TermsBatch& batch);
  // The terms of one SNP's genotype residuals, per entry.
  const SnpTerms& snpTerms(const std::vector<double>& g, TermsBatch& batch) const;

  // SS: pools covariances, each data set centred on its own means.
  double ssStatistic(const SnpTerms& terms) const;
  // T (averageFamilies) and T1: each family contributes one score, the mean
  // or the sum of its members' cross-products.
  double familyStatistic(const SnpTerms& terms, bool averageFamilies) const;
  // The three statistics of a SNP (SS, T, T1) and their p-values into its
  // base columns (association/Model.h); `result.values` must hold them.
  void statistics(const SnpTerms& terms, StatisticTool& tool, SnpResult& result) const;

 private:
  void oneTraitTerms(const double* g, size_t stride, const bool* wanted, size_t snps, TermsBatch& batch) const;

  size_t familyEntries;
  std::vector<size_t> familyEntryEnd;
  std::vector<double> centred;         // trait minus its mean over all entries
  std::vector<double> ownCentred;      // trait minus the mean over the entry's own data set
  double unrelatedSquares = 0;         // sum of ownCentred^2 over unrelated entries
  std::vector<double> pedigreeShares;  // per counted pedigree (one with a tested member): 1 / its tested members
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_STATISTICTERMS_H
