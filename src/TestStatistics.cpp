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

// Every sum below adds its terms in the order the statistics define it;
// sums that do not depend on each other share a pass over the entries, so
// that their chains of additions overlap instead of following each other.
void CTest::prepareSnpTerms(const double* g, SnpTerms& terms) const {
  const size_t n = traitTerms.centred.size();
  const size_t family = testedFamilyCount;
  // The sum over all entries passes through the family entries' sum.
  double sumFamily = 0;
  for (size_t h = 0; h < family; ++h) sumFamily += g[h];
  double sumAll = sumFamily;
  double sumUnrelated = 0;
  for (size_t h = family; h < n; ++h) {
    sumAll += g[h];
    sumUnrelated += g[h];
  }
  const double gBar = sumAll / static_cast<double>(n);
  const double gBarFamily = family > 0 ? sumFamily / static_cast<double>(family) : 0.0;
  const double gBarUnrelated = n > family ? sumUnrelated / static_cast<double>(n - family) : 0.0;

  terms.cross.resize(n);
  double* cross = terms.cross.data();
  const double* yc = traitTerms.centred.data();
  const double* yo = traitTerms.ownCentred.data();
  // Unrelated entries: their cross-products, the genotypes' squares, and the
  // first parts of the pooled total and of the cross-products' spread.
  double squares = 0;
  double ownTotal = 0;
  double crossSum = 0;
  for (size_t h = family; h < n; ++h) {
    cross[h] = yc[h] * (g[h] - gBar);
    const double own = yo[h] * (g[h] - gBarUnrelated);
    squares += (g[h] - gBarUnrelated) * (g[h] - gBarUnrelated);
    ownTotal += own;
    crossSum += cross[h];
  }
  terms.genotypeSquares = squares;
  // Family entries: the sums of each counted pedigree (one with a tested
  // member), and the rest of the pooled total.
  terms.familySums.clear();
  terms.familyMembers.clear();
  terms.ownFamilySums.clear();
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) {
      double sum = 0;
      double ownSum = 0;
      for (size_t h = begin; h < end; ++h) {
        cross[h] = yc[h] * (g[h] - gBar);
        const double own = yo[h] * (g[h] - gBarFamily);
        sum += cross[h];
        ownSum += own;
      }
      terms.familySums.push_back(sum);
      terms.familyMembers.push_back(static_cast<double>(end - begin));
      terms.ownFamilySums.push_back(ownSum);
    }
    begin = end;
  }
  for (size_t h = 0; h < family; ++h) ownTotal += yo[h] * (g[h] - gBarFamily);
  terms.ownTotal = ownTotal;

  // Family scores (means or sums of the pedigrees' cross-products) and the
  // totals of both family tests, which go on over the unrelated entries.
  terms.averagedSums.resize(terms.familySums.size());
  double averagedTotal = 0;
  double summedTotal = 0;
  for (size_t k = 0; k < terms.familySums.size(); ++k) {
    terms.averagedSums[k] = (1.0 / terms.familyMembers[k]) * terms.familySums[k];
    averagedTotal += terms.averagedSums[k];
    summedTotal += terms.familySums[k];
  }
  const size_t unrelated = n - family;
  const double crossMean = crossSum / static_cast<double>(unrelated);
  double spreadSquares = 0;
  for (size_t h = family; h < n; ++h) {
    averagedTotal += cross[h];
    summedTotal += cross[h];
    spreadSquares += (cross[h] - crossMean) * (cross[h] - crossMean);
  }
  terms.averagedTotal = averagedTotal;
  terms.summedTotal = summedTotal;
  // The sample variance of the unrelated cross-products (0 for none; one
  // divides 0 by 0).
  terms.unrelatedSpread = unrelated == 0 ? 0.0 : spreadSquares / (static_cast<double>(unrelated) - 1);
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
