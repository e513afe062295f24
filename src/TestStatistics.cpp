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
  const std::vector<double>& g = genoResiduals;
  const size_t n = g.size();
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

  snpTerms.cross.resize(n);
  snpTerms.ownCross.resize(n);
  const double* yc = traitTerms.centred.data();
  const double* yo = traitTerms.ownCentred.data();
  for (size_t h = 0; h < family; ++h) {
    snpTerms.cross[h] = yc[h] * (g[h] - gBar);
    snpTerms.ownCross[h] = yo[h] * (g[h] - gBarFamily);
  }
  for (size_t h = family; h < n; ++h) {
    snpTerms.cross[h] = yc[h] * (g[h] - gBar);
    snpTerms.ownCross[h] = yo[h] * (g[h] - gBarUnrelated);
  }
  snpTerms.genotypeSquares = 0;
  for (size_t h = family; h < n; ++h) snpTerms.genotypeSquares += (g[h] - gBarUnrelated) * (g[h] - gBarUnrelated);

  // Sums of the counted pedigrees (those with a tested member).
  snpTerms.familySums.clear();
  snpTerms.familyMembers.clear();
  snpTerms.ownFamilySums.clear();
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) {
      double sum = 0;
      double ownSum = 0;
      for (size_t h = begin; h < end; ++h) {
        sum += snpTerms.cross[h];
        ownSum += snpTerms.ownCross[h];
      }
      snpTerms.familySums.push_back(sum);
      snpTerms.familyMembers.push_back(static_cast<double>(end - begin));
      snpTerms.ownFamilySums.push_back(ownSum);
    }
    begin = end;
  }
  snpTerms.unrelatedSpread = spread(snpTerms.cross.data() + family, n - family);
}

double CTest::calculate_T() { return familyScoreTest(true); }

double CTest::calculate_T1() { return familyScoreTest(false); }

// Each family contributes one score (the mean or the sum of its members'
// centred cross-products), each unrelated individual its own; the squared
// total is compared with the scores' spread.
double CTest::familyScoreTest(bool averageFamilies) {
  std::vector<double>& scores = familyScores;
  scores = snpTerms.familySums;
  if (averageFamilies) {
    for (size_t k = 0; k < scores.size(); ++k) scores[k] = (1.0 / snpTerms.familyMembers[k]) * scores[k];
  }
  const size_t family = testedFamilyCount;
  const size_t unrelated = snpTerms.cross.size() - family;
  double total = 0;
  for (double s : scores) total += s;
  for (size_t h = family; h < snpTerms.cross.size(); ++h) total += snpTerms.cross[h];
  const double families = static_cast<double>(scores.size());
  const double t = total * total / (families * spread(scores.data(), scores.size()) +
                                    static_cast<double>(unrelated) * snpTerms.unrelatedSpread);
  const double p = 1 - statistic.chi2cdf(t, 1);
  appendStatistic(t, p, false);
  return p;
}

// Pools covariances: each data set is centred on its own means; the variance
// comes from the unrelated sums of squares and the spread of family sums.
void CTest::cal_ss() {
  const size_t family = testedFamilyCount;
  const size_t n = snpTerms.ownCross.size();
  const size_t unrelated = n - family;
  double total = 0;
  for (size_t h = family; h < n; ++h) total += snpTerms.ownCross[h];
  for (size_t h = 0; h < family; ++h) total += snpTerms.ownCross[h];

  const std::vector<double>& sums = snpTerms.ownFamilySums;
  const size_t pedigrees = familyEntryEnd.size();
  double familySum = 0;
  for (double c : sums) familySum += c;
  const double cBar = pedigrees > 0 ? familySum / static_cast<double>(pedigrees) : 0;
  double d = 0;
  for (double c : sums) d += (c - cBar) * (c - cBar);

  const double u = static_cast<double>(unrelated);
  const double unrelatedVariance = traitTerms.unrelatedSquares * snpTerms.genotypeSquares / u;
  double t;
  if (unrelated > 0 && !sums.empty()) {
    t = total * total / (unrelatedVariance + d);
  } else if (unrelated > 0) {
    t = total * total / unrelatedVariance;
  } else {
    t = total * total / d;
  }
  appendStatistic(t, 1 - statistic.chi2cdf(t, 1), false);
}
