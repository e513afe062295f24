// The three statistics of a SNP, computed from the residuals of trait and
// genotype. The terms they share (centred values, cross-products, family
// sums) are computed once per SNP by prepareStatistics, and the trait's once
// per run; every sum keeps the order in which the statistics define it.
#include "Test.h"
#include "numerics/VectorClones.h"

namespace {

double meanOf(const std::vector<double>& values, size_t from, size_t to) {
  double sum = 0;
  for (size_t h = from; h < to; ++h) sum += values[h];
  return sum / static_cast<double>(to - from);
}

}  // namespace

// Trait residuals centred on the mean of all tested individuals, and on the
// mean of their own data set.
void CTest::prepareTraitTerms() {
  const std::vector<double>& y = traitResiduals;
  const size_t n = y.size();
  const size_t family = testedFamilyCount;
  const double yBar = meanOf(y, 0, n);
  const double yBarFamily = family > 0 ? meanOf(y, 0, family) : 0.0;
  const double yBarUnrelated = n > family ? meanOf(y, family, n) : 0.0;
  traitTerms.centred.resize(n);
  traitTerms.ownCentred.resize(n);
  traitTerms.unrelatedSquares = 0;
  for (size_t h = 0; h < n; ++h) {
    traitTerms.centred[h] = y[h] - yBar;
    traitTerms.ownCentred[h] = y[h] - (h < family ? yBarFamily : yBarUnrelated);
    if (h >= family) traitTerms.unrelatedSquares += traitTerms.ownCentred[h] * traitTerms.ownCentred[h];
  }
  traitTerms.pedigreeShares.clear();
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) traitTerms.pedigreeShares.push_back(1.0 / static_cast<double>(end - begin));
    begin = end;
  }
  traitTerms.ready = true;
}

void CTest::prepareStatistics() {
  if (!traitTerms.ready) prepareTraitTerms();
  // The SNP in the first lane, zeros in the others.
  const size_t n = genoResiduals.size();
  snpBatch.lanes.assign(n * kTermsBatch, 0.0);
  for (size_t h = 0; h < n; ++h) snpBatch.lanes[h * kTermsBatch] = genoResiduals[h];
  const bool wanted[kTermsBatch] = {true};
  prepareSnpTerms(snpBatch.lanes.data(), kTermsBatch, wanted, snpBatch);
}

namespace {

constexpr size_t kLanes = CTest::kTermsBatch;

// What the terms of every SNP share: the trait's centred values and where
// the data sets and pedigrees begin and end among the tested entries.
struct TermsContext {
  const double* yc;  // trait centred on all entries
  const double* yo;  // trait centred on its own data set
  size_t n;
  size_t family;
  const std::vector<size_t>& familyEnds;
  const std::vector<double>& pedigreeShares;  // per counted pedigree: 1 / its tested members
};

// One SNP per lane.
using Lanes = ombra::DoubleLanes;
static_assert(kLanes == ombra::kDoubleLanes, "a batch fills the lanes");

#define OMBRA_LANES_AT(pointer) (*reinterpret_cast<const Lanes*>(pointer))

// The terms of kLanes SNPs at once, from their residuals side by side
// (entry h of SNP k at g[h * stride + k]), into the terms of the lanes that
// have them. Every sum of a SNP adds its terms in the order the statistics
// define it; the SNPs are the lanes of vector registers, so that their sums
// advance together, each with the operations it would have alone. The
// batch's scratch holds the cross-products and the pedigrees' sums.
OMBRA_VECTOR_CLONES
void termsOf(const TermsContext& c, const double* g, size_t stride, CTest::TermsBatch& batch,
             CTest::SnpTerms* const* terms) {
  const size_t n = c.n;
  const size_t family = c.family;
  Lanes* crossAt = reinterpret_cast<Lanes*>(batch.cross.data());
  Lanes* pedigreeSums = reinterpret_cast<Lanes*>(batch.pedigreeSums.data());
  Lanes* pedigreeOwn = reinterpret_cast<Lanes*>(batch.pedigreeOwn.data());
  // The sum over all entries passes through the family entries' sum.
  Lanes sumFamily = {};
  for (size_t h = 0; h < family; ++h) sumFamily += OMBRA_LANES_AT(g + h * stride);
  Lanes sumAll = sumFamily, sumUnrelated = {};
  for (size_t h = family; h < n; ++h) {
    sumAll += OMBRA_LANES_AT(g + h * stride);
    sumUnrelated += OMBRA_LANES_AT(g + h * stride);
  }
  const Lanes gBar = sumAll / static_cast<double>(n);
  const Lanes gBarFamily = family > 0 ? sumFamily / static_cast<double>(family) : Lanes{};
  const Lanes gBarUnrelated = n > family ? sumUnrelated / static_cast<double>(n - family) : Lanes{};
  // Unrelated entries: their cross-products, the genotypes' squares, and the
  // first parts of the pooled total and of the cross-products' spread.
  Lanes squares = {}, ownTotal = {}, crossSum = {};
  for (size_t h = family; h < n; ++h) {
    const Lanes value = OMBRA_LANES_AT(g + h * stride);
    crossAt[h] = c.yc[h] * (value - gBar);
    const Lanes own = c.yo[h] * (value - gBarUnrelated);
    squares += (value - gBarUnrelated) * (value - gBarUnrelated);
    ownTotal += own;
    crossSum += crossAt[h];
  }
  // Family entries: the sums of each counted pedigree (one with a tested
  // member), and the rest of the pooled total.
  size_t begin = 0, counted = 0;
  for (size_t end : c.familyEnds) {
    if (end > begin) {
      Lanes sum = {}, ownSum = {};
      for (size_t h = begin; h < end; ++h) {
        const Lanes value = OMBRA_LANES_AT(g + h * stride);
        crossAt[h] = c.yc[h] * (value - gBar);
        const Lanes own = c.yo[h] * (value - gBarFamily);
        sum += crossAt[h];
        ownSum += own;
      }
      pedigreeSums[counted] = sum;
      pedigreeOwn[counted++] = ownSum;
    }
    begin = end;
  }
  for (size_t h = 0; h < family; ++h) ownTotal += c.yo[h] * (OMBRA_LANES_AT(g + h * stride) - gBarFamily);
  // Family scores (means or sums of the pedigrees' cross-products): their
  // totals, which go on over the unrelated entries, and their spreads; the
  // pedigrees' own sums and their deviations from the mean over every
  // pedigree.
  Lanes averagedSum = {}, summedSum = {}, ownPedigreeSum = {};
  for (size_t f = 0; f < counted; ++f) {
    averagedSum += c.pedigreeShares[f] * pedigreeSums[f];
    summedSum += pedigreeSums[f];
    ownPedigreeSum += pedigreeOwn[f];
  }
  const size_t pedigrees = c.familyEnds.size();
  const Lanes averagedMean = averagedSum / static_cast<double>(counted);
  const Lanes summedMean = summedSum / static_cast<double>(counted);
  const Lanes ownMean = pedigrees > 0 ? ownPedigreeSum / static_cast<double>(pedigrees) : Lanes{};
  Lanes averagedSquares = {}, summedSquares = {}, ownDeviation = {};
  for (size_t f = 0; f < counted; ++f) {
    const Lanes averaged = c.pedigreeShares[f] * pedigreeSums[f];
    averagedSquares += (averaged - averagedMean) * (averaged - averagedMean);
    summedSquares += (pedigreeSums[f] - summedMean) * (pedigreeSums[f] - summedMean);
    ownDeviation += (pedigreeOwn[f] - ownMean) * (pedigreeOwn[f] - ownMean);
  }
  const size_t unrelated = n - family;
  const Lanes crossMean = crossSum / static_cast<double>(unrelated);
  Lanes averagedTotal = averagedSum, summedTotal = summedSum, spreadSquares = {};
  for (size_t h = family; h < n; ++h) {
    averagedTotal += crossAt[h];
    summedTotal += crossAt[h];
    spreadSquares += (crossAt[h] - crossMean) * (crossAt[h] - crossMean);
  }
  // Sample variances are 0 for no value; one value divides 0 by 0.
  for (size_t k = 0; k < kLanes; ++k) {
    if (!terms[k]) continue;
    CTest::SnpTerms& t = *terms[k];
    t.entries = n;
    t.pedigrees = counted;
    t.genotypeSquares = squares[k];
    t.ownTotal = ownTotal[k];
    t.averagedTotal = averagedTotal[k];
    t.summedTotal = summedTotal[k];
    t.averagedSpread = counted == 0 ? 0.0 : averagedSquares[k] / (static_cast<double>(counted) - 1);
    t.summedSpread = counted == 0 ? 0.0 : summedSquares[k] / (static_cast<double>(counted) - 1);
    t.ownDeviation = ownDeviation[k];
    t.unrelatedSpread = unrelated == 0 ? 0.0 : spreadSquares[k] / (static_cast<double>(unrelated) - 1);
  }
}

#undef OMBRA_LANES_AT

}  // namespace

void CTest::prepareSnpTerms(const double* g, size_t stride, const bool* wanted, TermsBatch& batch) const {
  const size_t n = traitTerms.centred.size();
  batch.cross.resize(n * kLanes);
  batch.pedigreeSums.resize(familyEntryEnd.size() * kLanes);
  batch.pedigreeOwn.resize(familyEntryEnd.size() * kLanes);
  SnpTerms* terms[kLanes];
  for (size_t k = 0; k < kLanes; ++k) terms[k] = wanted[k] ? &batch.terms[k] : nullptr;
  termsOf(TermsContext{traitTerms.centred.data(), traitTerms.ownCentred.data(), n, testedFamilyCount, familyEntryEnd,
                       traitTerms.pedigreeShares},
          g, stride, batch, terms);
}

double CTest::calculate_T() { return appendFamilyTest(true); }

double CTest::calculate_T1() { return appendFamilyTest(false); }

double CTest::appendFamilyTest(bool averageFamilies) {
  const double t = familyStatistic(snpBatch.terms[0], averageFamilies);
  const double p = 1 - statistic.chi2cdf(t, 1);
  appendStatistic(t, p, false);
  return p;
}

// Each family contributes one score (the mean or the sum of its members'
// centred cross-products), each unrelated individual its own; the squared
// total is compared with the scores' spread.
double CTest::familyStatistic(const SnpTerms& terms, bool averageFamilies) const {
  const double total = averageFamilies ? terms.averagedTotal : terms.summedTotal;
  const size_t unrelated = terms.entries - testedFamilyCount;
  const double families = static_cast<double>(terms.pedigrees);
  return total * total / (families * (averageFamilies ? terms.averagedSpread : terms.summedSpread) +
                          static_cast<double>(unrelated) * terms.unrelatedSpread);
}

void CTest::cal_ss() {
  const double t = ssStatistic(snpBatch.terms[0]);
  appendStatistic(t, 1 - statistic.chi2cdf(t, 1), false);
}

// Pools covariances: each data set is centred on its own means; the variance
// comes from the unrelated sums of squares and the spread of family sums.
double CTest::ssStatistic(const SnpTerms& terms) const {
  const size_t family = testedFamilyCount;
  const size_t n = terms.entries;
  const size_t unrelated = n - family;
  const double total = terms.ownTotal;

  const double d = terms.ownDeviation;

  const double u = static_cast<double>(unrelated);
  const double unrelatedVariance = traitTerms.unrelatedSquares * terms.genotypeSquares / u;
  if (unrelated > 0 && terms.pedigrees > 0) return total * total / (unrelatedVariance + d);
  if (unrelated > 0) return total * total / unrelatedVariance;
  return total * total / d;
}
