// The mixed model with the pedigrees' kinship: its Wald test against
// generalised least squares computed densely here (ordinary least squares
// at h2 = 0), its restricted likelihood against the dense formula, the
// allele swap, and the plain regression's BETA SE.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cmath>
#include <memory>
#include <random>

#include "HeldRows.h"
#include "TestSupport.h"
#include "association/BlockTest.h"
#include "association/LmmModel.h"
#include "association/MixedModel.h"
#include "association/Projection.h"
#include "association/StatisticTerms.h"
#include "core/ResourceLimits.h"
#include "design/Kinship.h"
#include "numerics/OpenBlas.h"
#include "numerics/ResidualKernels.h"

namespace {

using Dense = std::vector<std::vector<long double>>;

// A tested sample of family pedigrees (nuclear families, a three-generation
// pedigree with an inbred child, a half-sibship) and unrelated individuals,
// with random genotypes, a familial trait and a design of a constant, two
// scores and a covariate.
// A pedigree of `members` (at least 8): four founding couples, then each
// member the child of an earlier father and an earlier mother.
std::vector<std::array<const char*, 3>> largePedigree(size_t members, std::mt19937& random) {
  static std::vector<std::string> names;
  names.clear();
  names.reserve(members + 1);
  for (size_t i = 0; i < members; ++i) names.push_back("L" + std::to_string(i));
  names.push_back("0");
  std::vector<std::array<const char*, 3>> people;
  for (size_t i = 0; i < members; ++i) {
    size_t father = members, mother = members;  // unknown
    if (i >= 8) {
      do father = random() % i; while (father % 2 != 0);
      do mother = random() % i; while (mother % 2 != 1);
    }
    people.push_back({names[i].c_str(), names[father].c_str(), names[mother].c_str()});
  }
  return people;
}

struct Fixture {
  static constexpr size_t kSnps = 24;
  Cohort cohort;
  ombra::TestedSample sample;
  ombra::DesignMatrix design;
  std::vector<std::vector<unsigned char>> packed;
  std::vector<double> fill = std::vector<double>(kSnps);
  std::vector<Marker> markers = std::vector<Marker>(kSnps);
  std::vector<std::vector<double>> relationships;
  std::unique_ptr<testing_support::HeldRows> rows;

  // With `large`, a pedigree of that many members joins the families (a
  // family of 32 or more takes the matrix products).
  explicit Fixture(unsigned seed, bool swapAlleles = false, size_t large = 0) {
    std::mt19937 random(seed);
    auto add = [&](const std::string& fam, std::vector<std::array<const char*, 3>> people) {
      Pedigree pedigree;
      pedigree.famId = fam;
      for (const auto& p : people) {
        Individual person;
        person.indId = p[0];
        person.fatherId = p[1];
        person.motherId = p[2];
        pedigree.members.push_back(person);
      }
      cohort.family.pedigrees.push_back(pedigree);
    };
    for (int f = 0; f < 8; ++f) add("N" + std::to_string(f), {{"f", "0", "0"}, {"m", "0", "0"}, {"a", "f", "m"},
                                                             {"b", "f", "m"}, {"c", "f", "m"}});
    add("G", {{"g1", "0", "0"}, {"g2", "0", "0"}, {"p1", "g1", "g2"}, {"p2", "g1", "g2"}, {"s1", "0", "0"},
              {"s2", "0", "0"}, {"c1", "p1", "s1"}, {"c2", "s2", "p2"}, {"x", "c1", "c2"}});
    // S lies between two families: the product with the design's share
    // runs through its row, whose weights are zero.
    add("S", {{"alone", "0", "0"}});
    add("H", {{"a", "d", "m1"}, {"b", "d", "m2"}, {"c", "d", "m2"}});
    if (large > 0) add("L", largePedigree(large, random));
    std::normal_distribution<double> normal;
    std::vector<double> familyEffect;
    for (const Pedigree& pedigree : cohort.family.pedigrees) {
      const double shared = normal(random);
      for (const Individual& person : pedigree.members) {
        sample.people.push_back(&person);
        familyEffect.push_back(shared);
      }
      sample.familyEntryEnd.push_back(sample.people.size());
    }
    sample.familyEntries = sample.people.size();
    for (int u = 0; u < 30; ++u) familyEffect.push_back(0);
    const size_t n = familyEffect.size();
    packed.assign(n, std::vector<unsigned char>((kSnps + 3) / 4, 0));
    for (size_t i = 0; i < n; ++i) {
      for (size_t s = 0; s < kSnps; ++s) {
        unsigned code = random() % 25 == 0 ? 3 : random() % 3;
        if (s == 0) code = 2;  // monomorphic, swapped or not
        if (swapAlleles && code != 3) code = 2 - code;
        packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
      }
      sample.entries.push_back(ombra::GenotypeEntry{SetKind::kUnrelated, static_cast<int>(i)});
    }
    for (size_t s = 0; s < kSnps; ++s) {
      double sum = 0, called = 0;
      for (size_t i = 0; i < n; ++i) {
        const int code = genotypeCode(packed[i].data(), s);
        if (code != 3) sum += code, called += 1;
      }
      fill[s] = sum / called;
    }
    design.entries = n;
    design.columns = 4;
    design.values.resize(4 * n);
    for (size_t i = 0; i < n; ++i) {
      design.values[i] = 1;
      design.values[n + i] = normal(random);
      design.values[2 * n + i] = std::sin(static_cast<double>(i));
      design.values[3 * n + i] = static_cast<double>(random() % 50);
      int code = genotypeCode(packed[i].data(), 5);
      if (swapAlleles && code != 3) code = 2 - code;  // the same trait for both codings
      sample.traits.push_back(0.3 * design.values[n + i] + familyEffect[i] + normal(random) +
                              0.4 * (code == 3 ? 1 : code));
    }
    relationships = ombra::testedRelationships(cohort, sample);
    rows = std::make_unique<testing_support::HeldRows>(packed, fill, markers);
  }
  size_t size() const { return sample.size(); }
  double genotype(size_t i, size_t s) const {
    const int code = genotypeCode(packed[i].data(), s);
    return code == 3 ? fill[s] : code;
  }
  // h2 K + (1 - h2) I over every entry.
  Dense covariance(double h2) const {
    const size_t n = size();
    Dense v(n, std::vector<long double>(n, 0.0L));
    size_t begin = 0;
    for (size_t f = 0; f < sample.familyEntryEnd.size(); ++f) {
      const size_t m = sample.familyEntryEnd[f] - begin;
      for (size_t a = 0; a < m; ++a) {
        for (size_t b = 0; b < m; ++b) v[begin + a][begin + b] = h2 * relationships[f][a * m + b];
      }
      begin += m;
    }
    for (size_t i = begin; i < n; ++i) v[i][i] = h2;
    for (size_t i = 0; i < n; ++i) v[i][i] += 1 - h2;
    return v;
  }
};

// The lower Cholesky factor of a dense positive-definite matrix.
Dense choleskyOf(Dense a) {
  const size_t n = a.size();
  for (size_t j = 0; j < n; ++j) {
    for (size_t k = 0; k < j; ++k) a[j][j] -= a[j][k] * a[j][k];
    a[j][j] = std::sqrt(a[j][j]);
    for (size_t i = j + 1; i < n; ++i) {
      for (size_t k = 0; k < j; ++k) a[i][j] -= a[i][k] * a[j][k];
      a[i][j] /= a[j][j];
    }
    for (size_t k = j + 1; k < n; ++k) a[j][k] = 0;
  }
  return a;
}

// L^-1 x.
std::vector<long double> whiten(const Dense& l, const std::vector<long double>& x) {
  std::vector<long double> z(x);
  for (size_t i = 0; i < z.size(); ++i) {
    for (size_t k = 0; k < i; ++k) z[i] -= l[i][k] * z[k];
    z[i] /= l[i][i];
  }
  return z;
}

// Solves a x = b by Gaussian elimination with partial pivoting; also gives
// the inverse's diagonal entry `wanted` and log |det a|.
std::vector<long double> solve(Dense a, std::vector<long double> b, size_t wanted, long double& inverseEntry,
                               long double& logDeterminant) {
  const size_t n = a.size();
  Dense inverse(n, std::vector<long double>(n, 0.0L));
  for (size_t i = 0; i < n; ++i) inverse[i][i] = 1;
  logDeterminant = 0;
  for (size_t c = 0; c < n; ++c) {
    size_t pivot = c;
    for (size_t r = c + 1; r < n; ++r) {
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    }
    std::swap(a[c], a[pivot]);
    std::swap(b[c], b[pivot]);
    std::swap(inverse[c], inverse[pivot]);
    logDeterminant += std::log(std::fabs(a[c][c]));
    for (size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const long double factor = a[r][c] / a[c][c];
      for (size_t k = 0; k < n; ++k) {
        a[r][k] -= factor * a[c][k];
        inverse[r][k] -= factor * inverse[c][k];
      }
      b[r] -= factor * b[c];
    }
  }
  for (size_t r = 0; r < n; ++r) {
    b[r] /= a[r][r];
    for (size_t k = 0; k < n; ++k) inverse[r][k] /= a[r][r];
  }
  inverseEntry = inverse[wanted][wanted];
  return b;
}

struct Expected {
  double beta, se, statistic;
};

// Generalised least squares of the trait on [design, SNP s] under
// h2 K + (1 - h2) I, densely: the columns whitened by the covariance's
// Cholesky factor, then the normal equations.
Expected denseWald(const Fixture& fixture, size_t s, double h2) {
  const size_t n = fixture.size(), p = fixture.design.columns;
  const Dense l = choleskyOf(fixture.covariance(h2));
  std::vector<std::vector<long double>> columns;
  for (size_t k = 0; k < p; ++k) {
    columns.push_back(whiten(l, std::vector<long double>(fixture.design.column(k), fixture.design.column(k) + n)));
  }
  std::vector<long double> g(n), y(n);
  for (size_t i = 0; i < n; ++i) {
    g[i] = fixture.genotype(i, s);
    y[i] = fixture.sample.traits[i];
  }
  columns.push_back(whiten(l, g));
  const std::vector<long double> wy = whiten(l, y);
  Dense normal(p + 1, std::vector<long double>(p + 1, 0.0L));
  std::vector<long double> right(p + 1, 0.0L);
  for (size_t a = 0; a <= p; ++a) {
    for (size_t i = 0; i < n; ++i) right[a] += columns[a][i] * wy[i];
    for (size_t b = 0; b <= p; ++b) {
      for (size_t i = 0; i < n; ++i) normal[a][b] += columns[a][i] * columns[b][i];
    }
  }
  long double entry = 0, logDeterminant = 0;
  const std::vector<long double> coefficients = solve(normal, right, p, entry, logDeterminant);
  long double squares = 0;
  for (size_t i = 0; i < n; ++i) {
    long double r = wy[i];
    for (size_t a = 0; a <= p; ++a) r -= coefficients[a] * columns[a][i];
    squares += r * r;
  }
  const long double variance = squares / static_cast<long double>(n - p - 1);
  const long double se = std::sqrt(variance * entry);
  return {static_cast<double>(coefficients[p]), static_cast<double>(se),
          static_cast<double>(coefficients[p] * coefficients[p] / (se * se))};
}

// The columns of a tested SNP: the mixed model's (BETA_LMM SE_LMM STAT_LMM
// P_LMM, after the base columns) and the plain regression's.
double lmmBeta(const ombra::SnpResult& r) { return r.values[ombra::base::kColumns]; }
double lmmSe(const ombra::SnpResult& r) { return r.values[ombra::base::kColumns + 1]; }
double lmmStatistic(const ombra::SnpResult& r) { return r.values[ombra::base::kColumns + 2]; }
double lmmP(const ombra::SnpResult& r) { return r.values[ombra::base::kColumns + 3]; }
double plainBeta(const ombra::SnpResult& r) { return r.values[ombra::base::kBeta]; }
double plainSe(const ombra::SnpResult& r) { return r.values[ombra::base::kSe]; }

// The tsv layout of a run with `models`.
ombra::ResultLayout tsvLayout(const std::vector<const ombra::Model*>& models) {
  return ombra::ResultLayout(ombra::ResultFormat::kTsv, ombra::resultColumns(models));
}

// Every SNP of the fixture through the block route with the plain
// regression and the mixed model.
std::vector<ombra::SnpResult> testedBlocks(const Fixture& fixture, const ombra::MixedModel& model) {
  const ombra::Projection projection(fixture.design);
  std::vector<double> trait = fixture.sample.traits;
  projection.residualise(trait);
  const ombra::TraitFit plain = ombra::traitFit(trait, fixture.design.columns);
  const ombra::StatisticTerms terms(trait, fixture.sample.familyEntries, fixture.sample.familyEntryEnd);
  const ombra::LmmModel lmm(model);
  const ombra::BlockTest blocks(fixture.sample, projection, terms, tsvLayout({&lmm}),
                                ombra::TraitModels{&plain, {&lmm}});
  ombra::BlockTest::Scratch scratch;
  ombra::BlockTest::Output out;
  ombra::GenotypeBlock block = fixture.rows->block(0, 16, 16);
  blocks.testBlock(block, scratch, out);
  block = fixture.rows->block(16, Fixture::kSnps - 16, 16);
  blocks.testBlock(block, scratch, out);
  return out.results;
}

void expectClose(double actual, double expected, double tolerance, const std::string& what) {
  EXPECT_NEAR(actual, expected, tolerance * (1 + std::fabs(expected))) << what;
}

TEST(MixedModel, WaldTestIsGeneralisedLeastSquares) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  const Fixture fixture(11);
  for (double h2 : {0.0, 0.35, 0.8}) {
    const ombra::MixedModel model(fixture.sample, fixture.relationships, fixture.design, h2);
    const std::vector<ombra::SnpResult> results = testedBlocks(fixture, model);
    ASSERT_EQ(results.size(), Fixture::kSnps);
    EXPECT_TRUE(results[0].monomorphic);
    EXPECT_TRUE(std::isnan(lmmBeta(results[0])) && std::isnan(plainBeta(results[0])));
    for (size_t s = 1; s < Fixture::kSnps; ++s) {
      const std::string what = "h2 " + std::to_string(h2) + " snp " + std::to_string(s);
      const Expected gls = denseWald(fixture, s, h2);
      expectClose(lmmBeta(results[s]), gls.beta, 1e-9, what + " beta");
      expectClose(lmmSe(results[s]), gls.se, 1e-9, what + " se");
      expectClose(lmmStatistic(results[s]), gls.statistic, 1e-9, what + " statistic");
      EXPECT_NEAR(lmmP(results[s]), std::erfc(std::sqrt(gls.statistic / 2)), 1e-12) << what;
      // The plain regression's BETA SE: ordinary least squares, whatever h2.
      const Expected ols = denseWald(fixture, s, 0);
      expectClose(plainBeta(results[s]), ols.beta, 1e-9, what + " plain beta");
      expectClose(plainSe(results[s]), ols.se, 1e-9, what + " plain se");
      if (h2 == 0) expectClose(lmmStatistic(results[s]), ols.statistic, 1e-9, what + " against least squares");
    }
  }
}

// A family large enough for the matrix products (its decomposition by
// divide and conquer, its V^-1 - I kept as eigenvectors, each block rotated
// by one product) gives the same test as the dense computation; the block
// route's columns come out the same whichever block holds them, at the
// run's width.
TEST(MixedModel, LargeFamilyTakesTheProducts) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  const Fixture fixture(5, false, 60);
  for (double h2 : {0.35, 0.8}) {
    const ombra::MixedModel model(fixture.sample, fixture.relationships, fixture.design, h2);
    const std::vector<ombra::SnpResult> results = testedBlocks(fixture, model);
    for (size_t s = 1; s < Fixture::kSnps; ++s) {
      const std::string what = "h2 " + std::to_string(h2) + " snp " + std::to_string(s);
      const Expected gls = denseWald(fixture, s, h2);
      expectClose(lmmBeta(results[s]), gls.beta, 1e-9, what + " beta");
      expectClose(lmmSe(results[s]), gls.se, 1e-9, what + " se");
      expectClose(lmmStatistic(results[s]), gls.statistic, 1e-9, what + " statistic");
    }
  }
  const ombra::MixedModel estimated(fixture.sample, fixture.relationships, fixture.design, std::nan(""));
  EXPECT_GT(estimated.fit().h2, 0);
  // One SNP alone (the one-SNP route's product of one column) agrees too.
  const size_t n = fixture.size();
  const ombra::Projection projection(fixture.design);
  std::vector<double> column(n), work;
  for (size_t s = 1; s < Fixture::kSnps; ++s) {
    for (size_t i = 0; i < n; ++i) column[i] = fixture.genotype(i, s);
    projection.residualise(column);
    double cross = 0, squares = 0;
    estimated.snpSums(column.data(), 1, &cross, &squares, work);
    const Expected gls = denseWald(fixture, s, estimated.fit().h2);
    expectClose(cross / squares, gls.beta, 1e-9, "snp " + std::to_string(s) + " alone");
  }
}

TEST(MixedModel, AlleleSwapTurnsTheEffectOnly) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  const Fixture fixture(5), swapped(5, true);
  const ombra::MixedModel model(fixture.sample, fixture.relationships, fixture.design, std::nan(""));
  const ombra::MixedModel swappedModel(swapped.sample, swapped.relationships, swapped.design, std::nan(""));
  EXPECT_EQ(model.fit().h2, swappedModel.fit().h2);  // the null model sees no genotype
  const std::vector<ombra::SnpResult> a = testedBlocks(fixture, model), b = testedBlocks(swapped, swappedModel);
  for (size_t s = 1; s < Fixture::kSnps; ++s) {
    expectClose(lmmStatistic(a[s]), lmmStatistic(b[s]), 1e-9, "snp " + std::to_string(s));
    expectClose(lmmBeta(a[s]), -lmmBeta(b[s]), 1e-9, "snp " + std::to_string(s));
    expectClose(lmmSe(a[s]), lmmSe(b[s]), 1e-9, "snp " + std::to_string(s));
    expectClose(plainBeta(a[s]), -plainBeta(b[s]), 1e-9, "snp " + std::to_string(s));
  }
}

TEST(MixedModel, RestrictedLikelihoodAndItsMaximum) {
  const Fixture fixture(3);
  const ombra::MixedModel model(fixture.sample, fixture.relationships, fixture.design, std::nan(""));
  const size_t n = fixture.size(), p = fixture.design.columns;
  // -1/2 [(n - p) (log(2 pi s2) + 1) + log|V| + log|X' V^-1 X|], s2 = y'Py / (n - p).
  for (double h2 : {0.0, 0.2, 0.55, 0.9}) {
    const Dense l = choleskyOf(fixture.covariance(h2));
    long double logV = 0;
    for (size_t i = 0; i < n; ++i) logV += 2 * std::log(l[i][i]);
    std::vector<std::vector<long double>> x;
    for (size_t k = 0; k < p; ++k) {
      x.push_back(whiten(l, std::vector<long double>(fixture.design.column(k), fixture.design.column(k) + n)));
    }
    const std::vector<long double> y =
        whiten(l, std::vector<long double>(fixture.sample.traits.begin(), fixture.sample.traits.end()));
    Dense xx(p, std::vector<long double>(p, 0.0L));
    std::vector<long double> xy(p, 0.0L);
    long double yy = 0;
    for (size_t i = 0; i < n; ++i) {
      yy += y[i] * y[i];
      for (size_t a = 0; a < p; ++a) {
        xy[a] += x[a][i] * y[i];
        for (size_t b = 0; b < p; ++b) xx[a][b] += x[a][i] * x[b][i];
      }
    }
    long double entry = 0, logXX = 0;
    const std::vector<long double> coefficients = solve(xx, xy, 0, entry, logXX);
    long double yPy = yy;
    for (size_t a = 0; a < p; ++a) yPy -= coefficients[a] * xy[a];
    const long double freedom = static_cast<long double>(n - p);
    const long double expected =
        -0.5L * (freedom * (std::log(2 * 3.14159265358979323846L * yPy / freedom) + 1) + logV + logXX);
    EXPECT_NEAR(model.restrictedLikelihood(h2), static_cast<double>(expected), 1e-8) << "h2 " << h2;
  }
  const ombra::NullModelFit& fit = model.fit();
  EXPECT_FALSE(fit.fixed);
  EXPECT_TRUE(fit.converged);
  EXPECT_GT(fit.h2, 0.05);  // the trait has a family effect
  for (double step : {-0.01, -1e-4, 1e-4, 0.01}) {
    EXPECT_GE(fit.logLikelihood, model.restrictedLikelihood(fit.h2 + step)) << "step " << step;
  }
}

// The block route takes the sums over the rows in stripes of columns, as
// the statistics' pass leaves them in the cache: each column's sums must
// have the same bits however the columns are grouped (eight in lanes, two
// stripes together, the rest one by one), and a trait's numbers with other
// traits beside it (the shared route through the entries) must be those of
// the trait alone.
TEST(MixedModel, SumsDoNotDependOnTheColumnsBesideThem) {
  const Fixture fixture(7);
  const ombra::MixedModel model(fixture.sample, fixture.relationships, fixture.design, 0.45);
  const size_t n = fixture.size(), width = 2 * ombra::MixedModel::kRowGroup * 8 + 13;
  std::mt19937 random(3);
  std::normal_distribution<double> normal;
  std::vector<double> r(n * width);
  for (double& value : r) value = normal(random);
  std::vector<double> cross(width), squares(width);
  model.rowSums(r.data(), width, width, cross.data(), squares.data());
  for (size_t from : {size_t{0}, size_t{8}, size_t{16}, width - 5, width - 1}) {
    for (size_t count : {size_t{1}, size_t{3}, size_t{8}, size_t{16}}) {
      if (from + count > width) continue;
      std::vector<double> partCross(count), partSquares(count);
      model.rowSums(r.data() + from, width, count, partCross.data(), partSquares.data());
      for (size_t j = 0; j < count; ++j) {
        EXPECT_EQ(partCross[j], cross[from + j]) << from << " + " << j << " of " << count;
        EXPECT_EQ(partSquares[j], squares[from + j]) << from << " + " << j << " of " << count;
      }
    }
  }
  // The whole test of one column alone (no vector registers) gives the
  // block's bits (16 and 8 columns to a register stripe, the rest alone), with
  // the design's 4 columns and with 11 (12, 8 and 4 design columns a pass).
  ombra::DesignMatrix wider = fixture.design;
  wider.columns = 11;
  for (size_t k = 4; k < wider.columns; ++k) {
    for (size_t h = 0; h < n; ++h) wider.values.push_back(std::cos(static_cast<double>(h * k)));
  }
  const ombra::MixedModel widerModel(fixture.sample, fixture.relationships, wider, 0.45);
  for (const ombra::MixedModel* each : {&model, &widerModel}) {
    std::vector<double> work, blockCross(width), blockSquares(width);
    each->snpSums(r.data(), width, blockCross.data(), blockSquares.data(), work);
    for (size_t j = 0; j < width; ++j) {
      std::vector<double> column(n);
      for (size_t h = 0; h < n; ++h) column[h] = r[h * width + j];
      double oneCross = 0, oneSquares = 0;
      each->snpSums(column.data(), 1, &oneCross, &oneSquares, work);
      EXPECT_EQ(oneCross, blockCross[j]);
      EXPECT_EQ(oneSquares, blockSquares[j]) << "column " << j;
    }
  }

  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  const ombra::Projection projection(fixture.design);
  std::vector<double> trait = fixture.sample.traits, other(n);
  for (double& value : other) value = normal(random);
  projection.residualise(trait);
  projection.residualise(other);
  const ombra::StatisticTerms terms(trait, fixture.sample.familyEntries, fixture.sample.familyEntryEnd);
  const ombra::StatisticTerms otherTerms(other, fixture.sample.familyEntries, fixture.sample.familyEntryEnd);
  const ombra::LmmModel lmm(model);
  const ombra::ResultLayout layout = tsvLayout({&lmm});
  const ombra::BlockTest alone(fixture.sample, projection, terms, layout, ombra::TraitModels{nullptr, {&lmm}});
  const ombra::BlockTest together(fixture.sample, projection, {&terms, &otherTerms}, {layout, tsvLayout({})},
                                  {ombra::TraitModels{nullptr, {&lmm}}, ombra::TraitModels{}});
  ombra::BlockTest::Scratch scratch;
  ombra::BlockTest::Output one, two[2];
  ombra::GenotypeBlock block = fixture.rows->block(0, Fixture::kSnps, Fixture::kSnps);
  alone.testBlock(block, scratch, one);
  block = fixture.rows->block(0, Fixture::kSnps, Fixture::kSnps);
  together.testBlock(block, scratch, two);
  ASSERT_EQ(two[0].results.size(), Fixture::kSnps);
  EXPECT_EQ(one.lines, two[0].lines);
  for (size_t s = 1; s < Fixture::kSnps; ++s) {
    EXPECT_EQ(lmmStatistic(one.results[s]), lmmStatistic(two[0].results[s])) << s;
    EXPECT_EQ(lmmBeta(one.results[s]), lmmBeta(two[0].results[s])) << s;
    EXPECT_EQ(two[1].results[s].values.size(), ombra::base::kColumns) << s;  // the other trait has no mixed model
  }
}

// The design of the fixture widened to 11 columns.
ombra::DesignMatrix widerDesign(const Fixture& fixture) {
  ombra::DesignMatrix wider = fixture.design;
  wider.columns = 11;
  for (size_t k = 4; k < wider.columns; ++k) {
    for (size_t h = 0; h < fixture.size(); ++h) wider.values.push_back(std::cos(static_cast<double>(h * k)));
  }
  return wider;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A SNP's numbers do not depend on the route (a block, or one SNP) nor on
// the block's width: the residuals of any block take the one-SNP route's
// sums, so that a memory bound that changes the route (or keeps OpenBLAS
// out) changes no byte. The residuals bit for bit, then every column of the
// whole test (the three statistics, the plain regression and the mixed
// model) at two block widths, and the mixed model's BETA from one column.
TEST(SnpRoutes, NumbersDoNotDependOnTheRouteOrTheBlockWidth) {
  const Fixture fixture(13);
  const size_t n = fixture.size();
  const ombra::DesignMatrix wider = widerDesign(fixture);
  for (const ombra::DesignMatrix* design : {&fixture.design, &wider}) {
    const ombra::Projection projection(*design);
    const std::string what = std::to_string(design->columns) + " design columns";
    // Widths of whole vector registers and not (13: the last five alone).
    for (size_t width : {size_t{8}, size_t{24}, size_t{13}}) {
      std::vector<double> values(n * width), coefficients(design->columns * width);
      for (size_t h = 0; h < n; ++h) {
        for (size_t s = 0; s < width; ++s) values[h * width + s] = fixture.genotype(h, s);
      }
      ombra::residualiseColumns(projection.byEntry(), projection.designByEntry(), design->columns, n, values.data(),
                                width, coefficients.data());
      for (size_t s = 0; s < width; ++s) {
        std::vector<double> column(n);
        for (size_t h = 0; h < n; ++h) column[h] = fixture.genotype(h, s);
        projection.residualise(column);
        for (size_t h = 0; h < n; ++h) {
          ASSERT_TRUE(sameBits(values[h * width + s], column[h])) << what << ", width " << width << ", snp " << s;
        }
      }
    }
    const ombra::MixedModel model(fixture.sample, fixture.relationships, *design, 0.45);
    std::vector<double> trait = fixture.sample.traits;
    projection.residualise(trait);
    const ombra::TraitFit plain = ombra::traitFit(trait, design->columns);
    const ombra::StatisticTerms terms(trait, fixture.sample.familyEntries, fixture.sample.familyEntryEnd);
    const ombra::LmmModel lmm(model);
    const ombra::BlockTest blocks(fixture.sample, projection, terms, tsvLayout({&lmm}),
                                  ombra::TraitModels{&plain, {&lmm}});
    std::vector<std::vector<ombra::SnpResult>> byWidth;
    for (size_t width : {size_t{8}, size_t{32}}) {
      ombra::BlockTest::Scratch scratch;
      ombra::BlockTest::Output out;
      for (size_t first = 0; first < Fixture::kSnps; first += width) {
        ombra::GenotypeBlock block = fixture.rows->block(first, std::min(width, Fixture::kSnps - first), width);
        blocks.testBlock(block, scratch, out);
      }
      byWidth.push_back(out.results);
    }
    for (size_t s = 1; s < Fixture::kSnps; ++s) {
      const std::vector<double>& one = byWidth[0][s].values;
      const std::vector<double>& other = byWidth[1][s].values;
      ASSERT_EQ(one.size(), other.size());
      for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_TRUE(sameBits(one[k], other[k]) || (std::isnan(one[k]) && std::isnan(other[k])))
            << what << ", snp " << s << ", column " << k << ": " << one[k] << " against " << other[k];
      }
      std::vector<double> column(n), work;
      for (size_t h = 0; h < n; ++h) column[h] = fixture.genotype(h, s);
      projection.residualise(column);
      double cross = 0, squares = 0;
      model.snpSums(column.data(), 1, &cross, &squares, work);
      const double floor = ombra::squaresFloor(model.floorPerVariance(), byWidth[0][s].f);
      EXPECT_TRUE(sameBits(ombra::waldTest(cross, squares, floor, model.trait()).beta, lmmBeta(byWidth[0][s])))
          << what << ", snp " << s;
    }
  }
}

// A large family's decomposition asks for its memory (four m x m matrices)
// before it starts; small families take no such step.
TEST(MixedModel, ALargeFamilyAsksForItsMemoryFirst) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: no family takes the products";
  const Fixture large(5, false, 60), small(5);
  ombra::setMemoryOption(ombra::readMemory().resident / 1048576.0 + 0.05);
  const testing_support::StopShown stop =
      testing_support::stopOf([&] { ombra::MixedModel(large.sample, large.relationships, large.design, 0.5); });
  const testing_support::StopShown smallStop =
      testing_support::stopOf([&] { ombra::MixedModel(small.sample, small.relationships, small.design, 0.5); });
  ombra::setMemoryOption(0);
  EXPECT_EQ(stop.status, 1);
  EXPECT_NE(stop.out.find("decomposition of a family of 60 tested members"), std::string::npos) << stop.out;
  EXPECT_EQ(smallStop.status, -1) << smallStop.out;
}

TEST(MixedModel, NoFreedomStopsTheRun) {
  Fixture fixture(2);
  fixture.design.columns = fixture.size() - 1;
  fixture.design.values.assign(fixture.design.columns * fixture.size(), 1.0);
  const testing_support::StopShown stop = testing_support::stopOf(
      [&] { ombra::MixedModel(fixture.sample, fixture.relationships, fixture.design, 0.5); });
  EXPECT_EQ(stop.status, 1);
  EXPECT_NE(stop.out.find("no degree of freedom"), std::string::npos);
}

}  // namespace
