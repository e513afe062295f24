#include "association/StatisticTerms.h"

#include <cmath>

#include "association/Model.h"
#include "numerics/VectorClones.h"
#include "stats/upperTail.h"

namespace ombra {

namespace {

double meanOf(const std::vector<double>& values, size_t from, size_t to) {
  double sum = 0;
  for (size_t h = from; h < to; ++h) sum += values[h];
  return sum / static_cast<double>(to - from);
}

}  // namespace

StatisticTerms::StatisticTerms(const std::vector<double>& y, size_t family, std::vector<size_t> familyEnds)
    : familyEntries(family), familyEntryEnd(std::move(familyEnds)) {
  const size_t n = y.size();
  const double yBar = meanOf(y, 0, n);
  const double yBarFamily = family > 0 ? meanOf(y, 0, family) : 0.0;
  const double yBarUnrelated = n > family ? meanOf(y, family, n) : 0.0;
  centred.resize(n);
  ownCentred.resize(n);
  for (size_t h = 0; h < n; ++h) {
    centred[h] = y[h] - yBar;
    ownCentred[h] = y[h] - (h < family ? yBarFamily : yBarUnrelated);
    if (h >= family) unrelatedSquares += ownCentred[h] * ownCentred[h];
  }
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) pedigreeShares.push_back(1.0 / static_cast<double>(end - begin));
    begin = end;
  }
}

const SnpTerms& StatisticTerms::snpTerms(const std::vector<double>& g, TermsBatch& batch) const {
  // The SNP in the first lane, zeros in the others.
  const size_t n = g.size();
  batch.lanes.assign(n * kTermsBatch, 0.0);
  for (size_t h = 0; h < n; ++h) batch.lanes[h * kTermsBatch] = g[h];
  const bool wanted[kTermsBatch] = {true};
  snpTerms(batch.lanes.data(), kTermsBatch, wanted, batch);
  return batch.terms[0];
}

namespace {

constexpr size_t kLanes = kTermsBatch;

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
using Lanes = DoubleLanes;
// The helpers below take and give lanes by value; they are inlined into the
// vector clones, so no call passes lanes across a calling convention.
#pragma GCC diagnostic ignored "-Wpsabi"
static_assert(kLanes == kDoubleLanes, "a batch fills the lanes");

#define OMBRA_LANES_AT(pointer) (*reinterpret_cast<const Lanes*>(pointer))

// The means of kLanes SNPs' residuals (entry h of SNP k at
// g[h * stride + k]) over all entries and over each data set's own; the sum
// over all entries passes through the family entries' sum.
struct GenotypeMeans {
  Lanes all, family, unrelated;
};

__attribute__((always_inline)) inline GenotypeMeans genotypeMeans(const TermsContext& c, const double* g,
                                                                  size_t stride) {
  const size_t n = c.n;
  const size_t family = c.family;
  Lanes sumFamily = {};
  for (size_t h = 0; h < family; ++h) sumFamily += OMBRA_LANES_AT(g + h * stride);
  Lanes sumAll = sumFamily, sumUnrelated = {};
  for (size_t h = family; h < n; ++h) {
    sumAll += OMBRA_LANES_AT(g + h * stride);
    sumUnrelated += OMBRA_LANES_AT(g + h * stride);
  }
  return GenotypeMeans{sumAll / static_cast<double>(n),
                       family > 0 ? sumFamily / static_cast<double>(family) : Lanes{},
                       n > family ? sumUnrelated / static_cast<double>(n - family) : Lanes{}};
}

// Each entry's genotypes centred on all entries and on its own data set,
// worked out as the terms of one trait use them, which writes nothing back
// to memory (several traits read them stored by genotypeTermsOf).
struct LiveCentred {
  const double* g;
  size_t stride;
  size_t family;
  GenotypeMeans means;
  Lanes value(size_t h) const { return OMBRA_LANES_AT(g + h * stride); }
  Lanes all(size_t h) const { return value(h) - means.all; }
  Lanes own(size_t h) const { return value(h) - (h < family ? means.family : means.unrelated); }
};

// What the terms of kLanes SNPs take from their residuals alone, whatever
// the trait: the centred genotypes and the unrelated genotypes' squares.
// Computed once per batch for every trait over the same entries.
OMBRA_VECTOR_CLONES
void genotypeTermsOf(const TermsContext& c, const double* g, size_t stride, TermsBatch& batch) {
  const LiveCentred live{g, stride, c.family, genotypeMeans(c, g, stride)};
  Lanes* centredAll = reinterpret_cast<Lanes*>(batch.centredAll.data());
  Lanes* centredOwn = reinterpret_cast<Lanes*>(batch.centredOwn.data());
  Lanes squares = {};
  for (size_t h = c.family; h < c.n; ++h) {
    centredAll[h] = live.all(h);
    centredOwn[h] = live.own(h);
    squares += centredOwn[h] * centredOwn[h];
  }
  for (size_t h = 0; h < c.family; ++h) {
    centredAll[h] = live.all(h);
    centredOwn[h] = live.own(h);
  }
  for (size_t k = 0; k < kLanes; ++k) batch.genotypeSquares[k] = squares[k];
}

// The terms of kLanes SNPs at once from their centred genotypes and the
// trait, into the terms of the lanes that have them. Every sum of a SNP adds
// its terms in the order the statistics define it; the SNPs are the lanes of
// vector registers, so that their sums advance together, each with the
// operations it would have alone. The batch's scratch holds the
// cross-products and the pedigrees' sums.
template <typename Centred>
__attribute__((always_inline)) inline void termsFrom(const TermsContext& c, const Centred& centred,
                                                     const double* genotypeSquares, TermsBatch& batch,
                                                     SnpTerms* const* terms) {
  const size_t n = c.n;
  const size_t family = c.family;
  Lanes* crossAt = reinterpret_cast<Lanes*>(batch.cross.data());
  Lanes* ownAt = reinterpret_cast<Lanes*>(batch.own.data());
  Lanes* pedigreeSums = reinterpret_cast<Lanes*>(batch.pedigreeSums.data());
  Lanes* pedigreeOwn = reinterpret_cast<Lanes*>(batch.pedigreeOwn.data());
  // Unrelated entries: their cross-products, and the first parts of the
  // pooled total and of the cross-products' spread.
  Lanes ownTotal = {}, crossSum = {};
  for (size_t h = family; h < n; ++h) {
    crossAt[h] = c.yc[h] * centred.all(h);
    ownTotal += c.yo[h] * centred.own(h);
    crossSum += crossAt[h];
  }
  // Family entries: the sums of each counted pedigree (one with a tested
  // member), and the rest of the pooled total.
  size_t begin = 0, counted = 0;
  for (size_t end : c.familyEnds) {
    if (end > begin) {
      Lanes sum = {}, ownSum = {};
      for (size_t h = begin; h < end; ++h) {
        crossAt[h] = c.yc[h] * centred.all(h);
        ownAt[h] = c.yo[h] * centred.own(h);
        sum += crossAt[h];
        ownSum += ownAt[h];
      }
      pedigreeSums[counted] = sum;
      pedigreeOwn[counted++] = ownSum;
    }
    begin = end;
  }
  for (size_t h = 0; h < family; ++h) ownTotal += ownAt[h];
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
    SnpTerms& t = *terms[k];
    t.entries = n;
    t.pedigrees = counted;
    t.genotypeSquares = genotypeSquares[k];
    t.ownTotal = ownTotal[k];
    t.averagedTotal = averagedTotal[k];
    t.summedTotal = summedTotal[k];
    t.averagedSpread = counted == 0 ? 0.0 : averagedSquares[k] / (static_cast<double>(counted) - 1);
    t.summedSpread = counted == 0 ? 0.0 : summedSquares[k] / (static_cast<double>(counted) - 1);
    t.ownDeviation = ownDeviation[k];
    t.unrelatedSpread = unrelated == 0 ? 0.0 : spreadSquares[k] / (static_cast<double>(unrelated) - 1);
  }
}


// Traits whose terms go through the entries together: their sums are
// independent chains, so that each vector addition need not wait for the
// one before it as a single trait's must, and the centred genotypes are read
// once for the group. Four traits' accumulators fit the 32 registers of the
// widest clone.
constexpr size_t kTraitGroup = 4;

// The terms of G traits over the same entries from the stored centred
// genotypes (genotypeTermsOf), traits t's of the kLanes SNPs into
// terms[t * kLanes + k] where not null. Each trait's sums take exactly the
// operations, in the order, of termsFrom: its own-centred total over the
// unrelated entries goes on over the family entries in entry order, which
// is the pedigrees' order (their entries are consecutive from the first
// family entry), so that the family cross-products need not be stored;
// nothing of one trait is added to another's. Nothing per entry or pedigree
// is stored either: the unrelated cross-products and the pedigrees' sums
// are worked out again (the same products and additions, so the same bits)
// for the passes that need their means first. Stored, four traits' eight
// SNPs' sums of some 600 pedigrees were 300 KB written and read back per
// batch, and the stores cost more than doing the arithmetic twice.
template <size_t G>
__attribute__((always_inline)) inline void groupTermsFrom(const TermsContext& shape, const double* const* ycs,
                                                          const double* const* yos, TermsBatch& batch,
                                                          SnpTerms* const* terms) {
  const size_t n = shape.n;
  const size_t family = shape.family;
  const Lanes* __restrict centredAll = reinterpret_cast<const Lanes*>(batch.centredAll.data());
  const Lanes* __restrict centredOwn = reinterpret_cast<const Lanes*>(batch.centredOwn.data());
  const double* pedigreeShares = shape.pedigreeShares.data();
  // Local copies, so that the stores through the lanes (which may alias
  // anything) do not make the compiler load them again.
  const double* yc[G];
  const double* yo[G];
  for (size_t t = 0; t < G; ++t) {
    yc[t] = ycs[t];
    yo[t] = yos[t];
  }
  Lanes ownTotal[G] = {}, crossSum[G] = {};
  for (size_t h = family; h < n; ++h) {
    const Lanes all = centredAll[h], own = centredOwn[h];
#pragma GCC unroll 4
    for (size_t t = 0; t < G; ++t) {
      const Lanes x = yc[t][h] * all;
      ownTotal[t] += yo[t][h] * own;
      crossSum[t] += x;
    }
  }
  // The pedigrees' sums, and as each is complete (in pedigree order, as
  // termsFrom adds them afterwards) the family scores' totals.
  Lanes averagedSum[G] = {}, summedSum[G] = {}, ownPedigreeSum[G] = {};
  size_t begin = 0, counted = 0;
  for (size_t end : shape.familyEnds) {
    if (end > begin) {
      Lanes sum[G] = {}, ownSum[G] = {};
      for (size_t h = begin; h < end; ++h) {
        const Lanes all = centredAll[h], own = centredOwn[h];
#pragma GCC unroll 4
        for (size_t t = 0; t < G; ++t) {
          const Lanes o = yo[t][h] * own;
          sum[t] += yc[t][h] * all;
          ownSum[t] += o;
          ownTotal[t] += o;
        }
      }
      const double share = pedigreeShares[counted];
#pragma GCC unroll 4
      for (size_t t = 0; t < G; ++t) {
        averagedSum[t] += share * sum[t];
        summedSum[t] += sum[t];
        ownPedigreeSum[t] += ownSum[t];
      }
      ++counted;
    }
    begin = end;
  }
  const size_t pedigrees = shape.familyEnds.size();
  Lanes averagedMean[G], summedMean[G], ownMean[G];
  for (size_t t = 0; t < G; ++t) {
    averagedMean[t] = averagedSum[t] / static_cast<double>(counted);
    summedMean[t] = summedSum[t] / static_cast<double>(counted);
    ownMean[t] = pedigrees > 0 ? ownPedigreeSum[t] / static_cast<double>(pedigrees) : Lanes{};
  }
  Lanes averagedSquares[G] = {}, summedSquares[G] = {}, ownDeviation[G] = {};
  {
    size_t f = 0;
    begin = 0;
    for (size_t end : shape.familyEnds) {
      if (end > begin) {
        Lanes sum[G] = {}, ownSum[G] = {};
        for (size_t h = begin; h < end; ++h) {
          const Lanes all = centredAll[h], own = centredOwn[h];
#pragma GCC unroll 4
          for (size_t t = 0; t < G; ++t) {
            sum[t] += yc[t][h] * all;
            ownSum[t] += yo[t][h] * own;
          }
        }
        const double share = pedigreeShares[f];
#pragma GCC unroll 4
        for (size_t t = 0; t < G; ++t) {
          const Lanes averaged = share * sum[t];
          averagedSquares[t] += (averaged - averagedMean[t]) * (averaged - averagedMean[t]);
          summedSquares[t] += (sum[t] - summedMean[t]) * (sum[t] - summedMean[t]);
          ownDeviation[t] += (ownSum[t] - ownMean[t]) * (ownSum[t] - ownMean[t]);
        }
        ++f;
      }
      begin = end;
    }
  }
  const size_t unrelated = n - family;
  Lanes crossMean[G], averagedTotal[G], summedTotal[G], spreadSquares[G] = {};
  for (size_t t = 0; t < G; ++t) {
    crossMean[t] = crossSum[t] / static_cast<double>(unrelated);
    averagedTotal[t] = averagedSum[t];
    summedTotal[t] = summedSum[t];
  }
  // The unrelated cross-products again, worked out afresh (the same
  // product, so the same bits) rather than stored: storing them cost more
  // than the multiplications.
  for (size_t h = family; h < n; ++h) {
    const Lanes all = centredAll[h];
#pragma GCC unroll 4
    for (size_t t = 0; t < G; ++t) {
      const Lanes x = yc[t][h] * all;
      averagedTotal[t] += x;
      summedTotal[t] += x;
      spreadSquares[t] += (x - crossMean[t]) * (x - crossMean[t]);
    }
  }
  for (size_t t = 0; t < G; ++t) {
    for (size_t k = 0; k < kLanes; ++k) {
      if (!terms[t * kLanes + k]) continue;
      SnpTerms& out = *terms[t * kLanes + k];
      out.entries = n;
      out.pedigrees = counted;
      out.genotypeSquares = batch.genotypeSquares[k];
      out.ownTotal = ownTotal[t][k];
      out.averagedTotal = averagedTotal[t][k];
      out.summedTotal = summedTotal[t][k];
      out.averagedSpread = counted == 0 ? 0.0 : averagedSquares[t][k] / (static_cast<double>(counted) - 1);
      out.summedSpread = counted == 0 ? 0.0 : summedSquares[t][k] / (static_cast<double>(counted) - 1);
      out.ownDeviation = ownDeviation[t][k];
      out.unrelatedSpread = unrelated == 0 ? 0.0 : spreadSquares[t][k] / (static_cast<double>(unrelated) - 1);
    }
  }
}

// The group kernel at each width a count of traits is cut into.
OMBRA_VECTOR_CLONES
void groupTermsOf4(const TermsContext& shape, const double* const* yc, const double* const* yo, TermsBatch& batch,
                   SnpTerms* const* terms) {
  groupTermsFrom<4>(shape, yc, yo, batch, terms);
}

OMBRA_VECTOR_CLONES
void groupTermsOf2(const TermsContext& shape, const double* const* yc, const double* const* yo, TermsBatch& batch,
                   SnpTerms* const* terms) {
  groupTermsFrom<2>(shape, yc, yo, batch, terms);
}

OMBRA_VECTOR_CLONES
void groupTermsOf1(const TermsContext& shape, const double* const* yc, const double* const* yo, TermsBatch& batch,
                   SnpTerms* const* terms) {
  groupTermsFrom<1>(shape, yc, yo, batch, terms);
}

// One trait's terms in one pass over the residuals, the same numbers.
OMBRA_VECTOR_CLONES
void fusedTermsOf(const TermsContext& c, const double* g, size_t stride, TermsBatch& batch, SnpTerms* const* terms) {
  const LiveCentred live{g, stride, c.family, genotypeMeans(c, g, stride)};
  Lanes squares = {};
  for (size_t h = c.family; h < c.n; ++h) squares += live.own(h) * live.own(h);
  double genotypeSquares[kLanes];
  for (size_t k = 0; k < kLanes; ++k) genotypeSquares[k] = squares[k];
  termsFrom(c, live, genotypeSquares, batch, terms);
}

#undef OMBRA_LANES_AT

}  // namespace

void StatisticTerms::snpTerms(const double* g, size_t stride, const bool* wanted, TermsBatch& batch) const {
  const size_t n = centred.size();
  batch.cross.resize(n * kLanes);
  batch.own.resize(n * kLanes);
  batch.pedigreeSums.resize(familyEntryEnd.size() * kLanes);
  batch.pedigreeOwn.resize(familyEntryEnd.size() * kLanes);
  SnpTerms* terms[kLanes];
  for (size_t k = 0; k < kLanes; ++k) terms[k] = wanted[k] ? &batch.terms[k] : nullptr;
  fusedTermsOf(TermsContext{centred.data(), ownCentred.data(), n, familyEntries, familyEntryEnd, pedigreeShares}, g,
               stride, batch, terms);
}

void StatisticTerms::genotypeTerms(const double* g, size_t stride, TermsBatch& batch) const {
  const size_t n = centred.size();
  batch.centredAll.resize(n * kLanes);
  batch.centredOwn.resize(n * kLanes);
  genotypeTermsOf(TermsContext{centred.data(), ownCentred.data(), n, familyEntries, familyEntryEnd, pedigreeShares}, g,
                  stride, batch);
}

void StatisticTerms::traitsTerms(const StatisticTerms* const* traits, size_t count, const bool* wanted,
                                 TermsBatch& batch) {
  if (count == 0) return;
  const StatisticTerms& first = *traits[0];
  const size_t n = first.centred.size();
  batch.traitTerms.resize(count * kLanes);
  const TermsContext shape{nullptr, nullptr, n, first.familyEntries, first.familyEntryEnd, first.pedigreeShares};
  for (size_t from = 0; from < count;) {
    const size_t left = count - from;
    const size_t group = left >= kTraitGroup ? kTraitGroup : left >= 2 ? 2 : 1;
    const double* yc[kTraitGroup];
    const double* yo[kTraitGroup];
    SnpTerms* terms[kTraitGroup * kLanes];
    for (size_t t = 0; t < group; ++t) {
      yc[t] = traits[from + t]->centred.data();
      yo[t] = traits[from + t]->ownCentred.data();
      for (size_t k = 0; k < kLanes; ++k) {
        terms[t * kLanes + k] = wanted[k] ? &batch.traitTerms[(from + t) * kLanes + k] : nullptr;
      }
    }
    if (group == kTraitGroup) {
      groupTermsOf4(shape, yc, yo, batch, terms);
    } else if (group == 2) {
      groupTermsOf2(shape, yc, yo, batch, terms);
    } else {
      groupTermsOf1(shape, yc, yo, batch, terms);
    }
    from += group;
  }
}

// Each family contributes one score (the mean or the sum of its members'
// centred cross-products), each unrelated individual its own; the squared
// total is compared with the scores' spread.
double StatisticTerms::familyStatistic(const SnpTerms& terms, bool averageFamilies) const {
  const double total = averageFamilies ? terms.averagedTotal : terms.summedTotal;
  const size_t unrelated = terms.entries - familyEntries;
  const double families = static_cast<double>(terms.pedigrees);
  return total * total / (families * (averageFamilies ? terms.averagedSpread : terms.summedSpread) +
                          static_cast<double>(unrelated) * terms.unrelatedSpread);
}

// Pools covariances: each data set is centred on its own means; the variance
// comes from the unrelated sums of squares and the spread of family sums.
double StatisticTerms::ssStatistic(const SnpTerms& terms) const {
  const size_t n = terms.entries;
  const size_t unrelated = n - familyEntries;
  const double total = terms.ownTotal;
  const double d = terms.ownDeviation;
  const double u = static_cast<double>(unrelated);
  const double unrelatedVariance = unrelatedSquares * terms.genotypeSquares / u;
  if (unrelated > 0 && terms.pedigrees > 0) return total * total / (unrelatedVariance + d);
  if (unrelated > 0) return total * total / unrelatedVariance;
  // One pedigree alone has no spread of family sums to weigh it by.
  if (terms.pedigrees < 2) return std::nan("");
  return total * total / d;
}

void StatisticTerms::statistics(const SnpTerms& terms, StatisticTool& tool, SnpResult& result) const {
  const double statistic[base::kStatistics] = {ssStatistic(terms), familyStatistic(terms, true),
                                               familyStatistic(terms, false)};
  double* values = result.values.data();
  for (size_t k = 0; k < base::kStatistics; ++k) {
    const double x = statistic[k];
    const double p = chiSquareUpperTail(x, 1);
    values[base::statistic(k)] = x;
    values[base::p(k)] = p;
    values[base::log10p(k)] = chiSquareLog10Tail(x, 1);
    // The fixed layout keeps the p-values it has always written, 1 - cdf,
    // but where that left nothing of the tail (0, or the one step of 2^-53
    // below 1) it takes the tail itself.
    const double complement = 1 - tool.chi2cdf(x, 1);
    values[base::fixedP(k)] = complement < 0x1p-52 ? p : complement;
  }
}

}  // namespace ombra
