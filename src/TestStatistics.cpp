// The three statistics of a SNP, computed from the residuals of trait and
// genotype. The terms they share (centred values, cross-products, family
// sums) are computed once per SNP by prepareStatistics, and the trait's once
// per run; every sum keeps the order in which the statistics define it.
#include "Test.h"

namespace {

double meanOf(const std::vector<double>& values, size_t from, size_t to) {
  double sum = 0;
  for (size_t h = from; h < to; ++h) sum += values[h];
  return sum / static_cast<double>(to - from);
}

// Sample variance of `scores` (0 for none; one score divides 0 by 0).
double spread(const double* scores, size_t count) {
  if (count == 0) return 0;
  double sum = 0;
  for (size_t i = 0; i < count; ++i) sum += scores[i];
  const double mean = sum / static_cast<double>(count);
  double squares = 0;
  for (size_t i = 0; i < count; ++i) squares += (scores[i] - mean) * (scores[i] - mean);
  return squares / (static_cast<double>(count) - 1);
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
  traitTerms.ready = true;
}

void CTest::prepareStatistics() {
  if (!traitTerms.ready) prepareTraitTerms();
  prepareSnpTerms(genoResiduals.data(), snpTerms);
}

namespace {

// What the terms of every SNP share: the trait's centred values and where
// the data sets and pedigrees begin and end among the tested entries.
struct TermsContext {
  const double* yc;  // trait centred on all entries
  const double* yo;  // trait centred on its own data set
  size_t n;
  size_t family;
  const std::vector<size_t>& familyEnds;
};

// The terms of K SNPs at once. Every sum of a SNP adds its terms in the
// order the statistics define it; the K SNPs' sums, and sums of one SNP
// that do not depend on each other, share passes over the entries, so that
// their chains of additions overlap instead of following each other.
template <size_t K>
void termsOf(const TermsContext& c, const double* const* g, CTest::SnpTerms* const* terms) {
  const size_t n = c.n;
  const size_t family = c.family;
  // The sum over all entries passes through the family entries' sum.
  double sumFamily[K] = {};
  for (size_t h = 0; h < family; ++h) {
    for (size_t k = 0; k < K; ++k) sumFamily[k] += g[k][h];
  }
  double sumAll[K], sumUnrelated[K] = {};
  for (size_t k = 0; k < K; ++k) sumAll[k] = sumFamily[k];
  for (size_t h = family; h < n; ++h) {
    for (size_t k = 0; k < K; ++k) {
      sumAll[k] += g[k][h];
      sumUnrelated[k] += g[k][h];
    }
  }
  double gBar[K], gBarFamily[K], gBarUnrelated[K];
  double* cross[K];
  for (size_t k = 0; k < K; ++k) {
    gBar[k] = sumAll[k] / static_cast<double>(n);
    gBarFamily[k] = family > 0 ? sumFamily[k] / static_cast<double>(family) : 0.0;
    gBarUnrelated[k] = n > family ? sumUnrelated[k] / static_cast<double>(n - family) : 0.0;
    terms[k]->cross.resize(n);
    cross[k] = terms[k]->cross.data();
  }
  // Unrelated entries: their cross-products, the genotypes' squares, and the
  // first parts of the pooled total and of the cross-products' spread.
  double squares[K] = {}, ownTotal[K] = {}, crossSum[K] = {};
  for (size_t h = family; h < n; ++h) {
    for (size_t k = 0; k < K; ++k) {
      cross[k][h] = c.yc[h] * (g[k][h] - gBar[k]);
      const double own = c.yo[h] * (g[k][h] - gBarUnrelated[k]);
      squares[k] += (g[k][h] - gBarUnrelated[k]) * (g[k][h] - gBarUnrelated[k]);
      ownTotal[k] += own;
      crossSum[k] += cross[k][h];
    }
  }
  // Family entries: the sums of each counted pedigree (one with a tested
  // member), and the rest of the pooled total.
  for (size_t k = 0; k < K; ++k) {
    terms[k]->genotypeSquares = squares[k];
    terms[k]->familySums.clear();
    terms[k]->familyMembers.clear();
    terms[k]->ownFamilySums.clear();
  }
  size_t begin = 0;
  for (size_t end : c.familyEnds) {
    if (end > begin) {
      double sum[K] = {}, ownSum[K] = {};
      for (size_t h = begin; h < end; ++h) {
        for (size_t k = 0; k < K; ++k) {
          cross[k][h] = c.yc[h] * (g[k][h] - gBar[k]);
          const double own = c.yo[h] * (g[k][h] - gBarFamily[k]);
          sum[k] += cross[k][h];
          ownSum[k] += own;
        }
      }
      for (size_t k = 0; k < K; ++k) {
        terms[k]->familySums.push_back(sum[k]);
        terms[k]->familyMembers.push_back(static_cast<double>(end - begin));
        terms[k]->ownFamilySums.push_back(ownSum[k]);
      }
    }
    begin = end;
  }
  for (size_t h = 0; h < family; ++h) {
    for (size_t k = 0; k < K; ++k) ownTotal[k] += c.yo[h] * (g[k][h] - gBarFamily[k]);
  }
  // Family scores (means or sums of the pedigrees' cross-products) and the
  // totals of both family tests, which go on over the unrelated entries.
  double averagedTotal[K] = {}, summedTotal[K] = {}, crossMean[K];
  const size_t unrelated = n - family;
  for (size_t k = 0; k < K; ++k) {
    CTest::SnpTerms& t = *terms[k];
    t.ownTotal = ownTotal[k];
    t.averagedSums.resize(t.familySums.size());
    for (size_t f = 0; f < t.familySums.size(); ++f) {
      t.averagedSums[f] = (1.0 / t.familyMembers[f]) * t.familySums[f];
      averagedTotal[k] += t.averagedSums[f];
      summedTotal[k] += t.familySums[f];
    }
    crossMean[k] = crossSum[k] / static_cast<double>(unrelated);
  }
  double spreadSquares[K] = {};
  for (size_t h = family; h < n; ++h) {
    for (size_t k = 0; k < K; ++k) {
      averagedTotal[k] += cross[k][h];
      summedTotal[k] += cross[k][h];
      spreadSquares[k] += (cross[k][h] - crossMean[k]) * (cross[k][h] - crossMean[k]);
    }
  }
  for (size_t k = 0; k < K; ++k) {
    terms[k]->averagedTotal = averagedTotal[k];
    terms[k]->summedTotal = summedTotal[k];
    // The sample variance of the unrelated cross-products (0 for none; one
    // divides 0 by 0).
    terms[k]->unrelatedSpread = unrelated == 0 ? 0.0 : spreadSquares[k] / (static_cast<double>(unrelated) - 1);
  }
}

}  // namespace

void CTest::prepareSnpTerms(const double* g, SnpTerms& terms) const {
  SnpTerms* one[1] = {&terms};
  termsOf<1>(TermsContext{traitTerms.centred.data(), traitTerms.ownCentred.data(), traitTerms.centred.size(),
                          testedFamilyCount, familyEntryEnd},
             &g, one);
}

void CTest::prepareSnpTermsBatch(const double* const* g, SnpTerms* const* terms) const {
  termsOf<kTermsBatch>(TermsContext{traitTerms.centred.data(), traitTerms.ownCentred.data(), traitTerms.centred.size(),
                          testedFamilyCount, familyEntryEnd},
             g, terms);
}

double CTest::calculate_T() { return appendFamilyTest(true); }

double CTest::calculate_T1() { return appendFamilyTest(false); }

double CTest::appendFamilyTest(bool averageFamilies) {
  const double t = familyStatistic(snpTerms, averageFamilies);
  const double p = 1 - statistic.chi2cdf(t, 1);
  appendStatistic(t, p, false);
  return p;
}

// Each family contributes one score (the mean or the sum of its members'
// centred cross-products), each unrelated individual its own; the squared
// total is compared with the scores' spread.
double CTest::familyStatistic(const SnpTerms& terms, bool averageFamilies) const {
  const std::vector<double>& scores = averageFamilies ? terms.averagedSums : terms.familySums;
  const double total = averageFamilies ? terms.averagedTotal : terms.summedTotal;
  const size_t unrelated = terms.cross.size() - testedFamilyCount;
  const double families = static_cast<double>(scores.size());
  return total * total / (families * spread(scores.data(), scores.size()) +
                          static_cast<double>(unrelated) * terms.unrelatedSpread);
}

void CTest::cal_ss() {
  const double t = ssStatistic(snpTerms);
  appendStatistic(t, 1 - statistic.chi2cdf(t, 1), false);
}

// Pools covariances: each data set is centred on its own means; the variance
// comes from the unrelated sums of squares and the spread of family sums.
double CTest::ssStatistic(const SnpTerms& terms) const {
  const size_t family = testedFamilyCount;
  const size_t n = terms.cross.size();
  const size_t unrelated = n - family;
  const double total = terms.ownTotal;

  const std::vector<double>& sums = terms.ownFamilySums;
  const size_t pedigrees = familyEntryEnd.size();
  double familySum = 0;
  for (double c : sums) familySum += c;
  const double cBar = pedigrees > 0 ? familySum / static_cast<double>(pedigrees) : 0;
  double d = 0;
  for (double c : sums) d += (c - cBar) * (c - cBar);

  const double u = static_cast<double>(unrelated);
  const double unrelatedVariance = traitTerms.unrelatedSquares * terms.genotypeSquares / u;
  if (unrelated > 0 && !sums.empty()) return total * total / (unrelatedVariance + d);
  if (unrelated > 0) return total * total / unrelatedVariance;
  return total * total / d;
}
