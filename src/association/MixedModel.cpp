#include "association/MixedModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "core/Memory.h"
#include "core/RunEnd.h"
#include "association/Projection.h"
#include "association/TestChecks.h"
#include "numerics/Matrix.h"
#include "numerics/OpenBlas.h"
#include "numerics/MetricKernels.h"

namespace ombra {

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
// Cells of the likelihood's first look over [0, 1].
constexpr int kGridCells = 100;
// The search stops when its interval is this narrow.
constexpr double kTolerance = 1e-7;
// A family this large is rotated by a matrix product.
constexpr size_t kProductFamily = 32;

// Whether a family of m tested entries goes through the matrix products:
// its decomposition by divide and conquer, V^-1 - I kept as its
// eigenvectors, each SNP rotated by them. Smaller families keep the loops
// (and their numbers).
bool largeFamily(size_t m) { return m >= kProductFamily && openBlas().loaded(); }

// LAPACK's decomposition of the symmetric m x m `vectors` in place
// (dsyevd for a large family, dsyev for a small one); false when it failed.
bool lapackDecompose(size_t m, std::vector<double>& values, std::vector<double>& vectors) {
  const OpenBlas& blas = openBlas();
  const int size = static_cast<int>(m);
  int info = 0, query = -1, bestInts = 0;
  double best = 0;
  if (!largeFamily(m)) {
    blas.dsyev("V", "L", &size, vectors.data(), &size, values.data(), &best, &query, &info);
    std::vector<double> work(static_cast<size_t>(std::max(1.0, best)));
    const int length = static_cast<int>(work.size());
    blas.dsyev("V", "L", &size, vectors.data(), &size, values.data(), work.data(), &length, &info);
    return info == 0;
  }
  blas.dsyevd("V", "L", &size, vectors.data(), &size, values.data(), &best, &query, &bestInts, &query, &info);
  if (info != 0) return false;
  std::vector<double> work(static_cast<size_t>(std::max(1.0, best)));
  std::vector<int> ints(static_cast<size_t>(std::max(1, bestInts)));
  const int length = static_cast<int>(work.size()), intLength = static_cast<int>(ints.size());
  blas.dsyevd("V", "L", &size, vectors.data(), &size, values.data(), work.data(), &length, ints.data(), &intLength,
              &info);
  return info == 0;
}

// The eigenvalues and eigenvectors of the symmetric m x m matrix `a`
// (row-major); vectors[i * m + k] is component k of eigenvector i.
void eigenDecompose(const std::vector<double>& a, size_t m, std::vector<double>& values, std::vector<double>& vectors) {
  values.assign(m, 0.0);
  vectors = a;
  requireOpenBlas("The mixed model's decompositions of the families' kinship", "");
  if (openBlas().loaded()) {
    // Column-major and row-major agree on a symmetric matrix; LAPACK leaves
    // eigenvector i in column i, that is at [i * m + k].
    if (lapackDecompose(m, values, vectors)) return;
    vectors = a;
  }
  // K is positive semi-definite, so its singular value decomposition is its
  // eigendecomposition: A = V W V'.
  std::vector<double> u = a, v(m * m);
  std::vector<double*> uRows(m), vRows(m);
  for (size_t r = 0; r < m; ++r) {
    uRows[r] = u.data() + r * m;
    vRows[r] = v.data() + r * m;
  }
  Matrix().SVDcmp(uRows.data(), static_cast<int>(m), static_cast<int>(m), values.data(), vRows.data());
  for (size_t i = 0; i < m; ++i) {
    for (size_t k = 0; k < m; ++k) vectors[i * m + k] = v[k * m + i];
  }
}

// The Cholesky factor of the p x p matrix `a` (row-major, lower triangle
// used) in place; false when it is not positive definite.
bool cholesky(std::vector<double>& a, size_t p) {
  for (size_t j = 0; j < p; ++j) {
    double diagonal = a[j * p + j];
    for (size_t k = 0; k < j; ++k) diagonal -= a[j * p + k] * a[j * p + k];
    if (!(diagonal > 0)) return false;
    const double root = std::sqrt(diagonal);
    a[j * p + j] = root;
    for (size_t i = j + 1; i < p; ++i) {
      double sum = a[i * p + j];
      for (size_t k = 0; k < j; ++k) sum -= a[i * p + k] * a[j * p + k];
      a[i * p + j] = sum / root;
    }
  }
  return true;
}

// The inverse of a matrix from its Cholesky factor L (row-major, lower
// triangle): (L L')^-1, p x p.
std::vector<double> choleskyInverse(const std::vector<double>& l, size_t p) {
  std::vector<double> inverse(p * p, 0.0), column(p);
  for (size_t e = 0; e < p; ++e) {
    // L y = unit e, then L' x = y.
    for (size_t r = 0; r < p; ++r) {
      double sum = r == e ? 1.0 : 0.0;
      for (size_t k = 0; k < r; ++k) sum -= l[r * p + k] * column[k];
      column[r] = sum / l[r * p + r];
    }
    for (size_t r = p; r-- > 0;) {
      double sum = column[r];
      for (size_t k = r + 1; k < p; ++k) sum -= l[k * p + r] * column[k];
      column[r] = sum / l[r * p + r];
    }
    for (size_t r = 0; r < p; ++r) inverse[r * p + e] = column[r];
  }
  return inverse;
}

// h2 l + 1 - h2, written so that an entry with l = 1 (an unrelated
// individual) has exactly 1.
double varianceShare(double h2, double l) { return 1 + h2 * (l - 1); }

std::string number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

FamilyRotation::FamilyRotation(const TestedSample& sample, const std::vector<std::vector<double>>& relationships)
    : lambda(sample.size(), 1.0), entries(sample.size()) {
  // One OpenBLAS thread for blocks this small: how many threads it had
  // (set by OPENBLAS_NUM_THREADS, as Snakemake does for each job) changed
  // the eigenvectors' last bits, and through the likelihood's search the
  // last digits of h2, so a chunk of a workflow differed from one run.
  setBlasThreads(1);
  size_t begin = 0;
  for (size_t f = 0; f < sample.familyEntryEnd.size() && f < relationships.size(); ++f) {
    const size_t end = sample.familyEntryEnd[f];
    const size_t m = end - begin;
    if (m == 1) {
      lambda[begin] = relationships[f][0];  // 1 + the individual's inbreeding
    } else if (m > 1) {
      Block block;
      block.begin = begin;
      block.size = m;
      std::vector<double> values;
      if (largeFamily(m)) {
        // Its eigenvectors, dsyevd's workspace (twice as much) and later
        // the factor of its V, each m x m.
        requireMemory(4 * 8.0 * static_cast<double>(m) * static_cast<double>(m),
                      "The mixed model's decomposition of a family of " + std::to_string(m) + " tested members",
                      "Please give the run more memory (--memory) or split the pedigree.");
      }
      eigenDecompose(relationships[f], m, values, block.vectors);
      // Rounding can leave a zero eigenvalue a hair below zero.
      for (size_t i = 0; i < m; ++i) lambda[begin + i] = std::max(0.0, values[i]);
      blocks.push_back(std::move(block));
    }
    begin = end;
  }
}

void FamilyRotation::rotate(const double* in, size_t width, const double* scale, double* out) const {
  size_t next = 0;  // the first entry not yet written
  auto copyScaled = [&](size_t from, size_t to) {
    for (size_t h = from; h < to; ++h) {
      const double s = scale[h];
      const double* row = in + h * width;
      double* target = out + h * width;
      for (size_t j = 0; j < width; ++j) target[j] = s * row[j];
    }
  };
  const OpenBlas& blas = openBlas();
  for (const Block& block : blocks) {
    copyScaled(next, block.begin);
    const size_t m = block.size;
    const double* source = in + block.begin * width;
    double* target = out + block.begin * width;
    if (m >= kProductFamily && blas.loaded()) {
      // Column-major, the block's values are width x m (ld width):
      // target = source V.
      const int w = static_cast<int>(width), size = static_cast<int>(m);
      blas.dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, w, size, size, 1.0, source, w, block.vectors.data(), size,
                 0.0, target, w);
    } else {
      for (size_t i = 0; i < m; ++i) {
        double* row = target + i * width;
        std::fill(row, row + width, 0.0);
        const double* vector = block.vectors.data() + i * m;
        for (size_t k = 0; k < m; ++k) {
          const double c = vector[k];
          const double* from = source + k * width;
          for (size_t j = 0; j < width; ++j) row[j] += c * from[j];
        }
      }
    }
    for (size_t i = 0; i < m; ++i) {
      const double s = scale[block.begin + i];
      double* row = target + i * width;
      for (size_t j = 0; j < width; ++j) row[j] *= s;
    }
    next = block.begin + m;
  }
  copyScaled(next, entries);
}

MixedModel::MixedModel(const TestedSample& sample, const std::vector<std::vector<double>>& relationships,
                       const DesignMatrix& design, double fixedH2)
    : rotation(sample, relationships), n(sample.size()), p(design.columns) {
  if (!leavesFreedom(n, p)) {
    stopRun("The mixed model has no degree of freedom left: " + std::to_string(n) + " tested individuals for " +
            std::to_string(p) + " columns of the design and the snp. Please use fewer components (--p) or "
            "covariates.\n");
  }
  // Rotated once, unscaled: the likelihood weighs each rotated entry itself.
  const std::vector<double> ones(n, 1.0);
  std::vector<double> entryMajor(n * p);
  for (size_t k = 0; k < p; ++k) {
    for (size_t h = 0; h < n; ++h) entryMajor[h * p + k] = design.values[k * n + h];
  }
  std::vector<double> rotated(n * p);
  rotation.rotate(entryMajor.data(), p, ones.data(), rotated.data());
  rotatedX.resize(n * p);
  for (size_t k = 0; k < p; ++k) {
    for (size_t h = 0; h < n; ++h) rotatedX[k * n + h] = rotated[h * p + k];
  }
  rotatedY.resize(n);
  rotation.rotate(sample.traits.data(), 1, ones.data(), rotatedY.data());
  groupEqualWeights();

  if (std::isnan(fixedH2)) {
    estimate();
  } else {
    nullFit.fixed = true;
    nullFit.h2 = fixedH2;
    nullFit.evaluations = 1;
    nullFit.logLikelihood = restrictedLikelihood(fixedH2);
    if (!std::isfinite(nullFit.logLikelihood)) {
      stopRun("The mixed model's likelihood is not defined at h2 = " + number("%g", fixedH2) +
              " (--lmm-h2): the relationship matrix has a zero eigenvalue there (identical individuals, such as "
              "duplicates or twins) or the trait is fitted exactly. Please give a smaller h2.\n");
    }
  }

  // The test's data. In the rotated, scaled coordinates the model's
  // covariance is sigma2 I: the design there gives A = X'V^-1 X, the trait's
  // residual there gives e'V^-1 e, and rotated back, z = V^-1 e.
  const std::vector<double>& lambda = rotation.eigenvalues();
  const double h2 = nullFit.h2;
  std::vector<double> scale(n), weight(n);
  double largest = 0;
  for (size_t h = 0; h < n; ++h) {
    const double d = varianceShare(h2, lambda[h]);
    scale[h] = 1 / std::sqrt(d);
    weight[h] = 1 / d;
    largest = std::max(largest, d);
  }
  floor = 1e-9 * static_cast<double>(n) / largest;
  DesignMatrix scaled;
  scaled.columns = p;
  scaled.entries = n;
  scaled.values.resize(n * p);
  for (size_t k = 0; k < p; ++k) {
    for (size_t h = 0; h < n; ++h) scaled.values[k * n + h] = rotatedX[k * n + h] * scale[h];
  }
  std::vector<double> a(p * p, 0.0);
  for (size_t r = 0; r < p; ++r) {
    for (size_t c = 0; c <= r; ++c) {
      double sum = 0;
      for (size_t h = 0; h < n; ++h) sum += scaled.values[r * n + h] * scaled.values[c * n + h];
      a[r * p + c] = sum;
    }
  }
  if (!cholesky(a, p)) {
    stopRun("The design's columns are not independent among the tested individuals under the mixed model.\n");
  }
  inverse = choleskyInverse(a, p);
  const Projection projection(scaled);
  std::vector<double> residual(n);
  for (size_t h = 0; h < n; ++h) residual[h] = rotatedY[h] * scale[h];
  projection.residualise(residual);
  // z = U S (residual), family by family; an entry outside the families
  // has z = residual / sqrt(d).
  weighted.resize(n);
  for (size_t h = 0; h < n; ++h) weighted[h] = residual[h] * scale[h];
  for (const FamilyRotation::Block& block : rotation.familyBlocks()) {
    const size_t m = block.size;
    for (size_t k = 0; k < m; ++k) {
      double sum = 0;
      for (size_t i = 0; i < m; ++i) sum += block.vectors[i * m + k] * scale[block.begin + i] * residual[block.begin + i];
      weighted[block.begin + k] = sum;
    }
  }
  // V^-1 - I = U (W - I) U' over each family; a lone entry with d != 1 (an
  // inbred individual alone in its family) is a block of one.
  size_t next = 0;
  auto lone = [&](size_t from, size_t to) {
    for (size_t h = from; h < to; ++h) {
      if (weight[h] != 1) excess.push_back(Excess{h, 1, {weight[h] - 1}});
    }
  };
  for (const FamilyRotation::Block& block : rotation.familyBlocks()) {
    lone(next, block.begin);
    const size_t m = block.size;
    if (largeFamily(m)) {
      // Kept as its eigenvectors and shifts, never as an m x m matrix.
      RotatedBlock rotated{block.begin, m, block.vectors.data(), std::vector<double>(m)};
      for (size_t i = 0; i < m; ++i) rotated.shifts[i] = weight[block.begin + i] - 1;
      rotatedFamilies.push_back(std::move(rotated));
      excess.push_back(Excess{block.begin, m, {}});
      next = block.begin + m;
      continue;
    }
    Excess part{block.begin, m, std::vector<double>(m * m, 0.0)};
    for (size_t r = 0; r < m; ++r) {
      for (size_t c = 0; c < m; ++c) {
        double sum = 0;
        for (size_t i = 0; i < m; ++i) {
          sum += block.vectors[i * m + r] * (weight[block.begin + i] - 1) * block.vectors[i * m + c];
        }
        part.values[r * m + c] = sum;
      }
    }
    excess.push_back(std::move(part));
    next = block.begin + m;
  }
  lone(next, n);
  excessEnd = excess.empty() ? 0 : excess.back().begin + excess.back().size;
  // X'(V^-1 - I), p rows over the entries before excessEnd (zero between
  // the families' rows).
  for (const Excess& part : excess) excessRows.emplace_back(part.begin, part.begin + part.size);
  const size_t columns = (p + 3) / 4 * 4;
  excessDesign.assign(columns * excessEnd, 0.0);
  auto rotatedFamily = rotatedFamilies.begin();
  for (const Excess& part : excess) {
    if (part.values.empty() && part.size > 1) {
      std::vector<double> product;
      rotatedProduct(*rotatedFamily++, design.values.data(), n, p, product);
      for (size_t c = 0; c < part.size; ++c) {
        std::copy_n(product.data() + c * p, p, excessDesign.data() + (part.begin + c) * columns);
      }
      continue;
    }
    for (size_t k = 0; k < p; ++k) {
      const double* x = design.values.data() + k * n + part.begin;
      for (size_t c = 0; c < part.size; ++c) {
        double sum = 0;
        for (size_t r = 0; r < part.size; ++r) sum += x[r] * part.values[r * part.size + c];
        excessDesign[(part.begin + c) * columns + k] = sum;
      }
    }
  }
  // The large families' rows take V^-1 - I through their eigenvectors per
  // SNP (familySquares).
  excess.erase(std::remove_if(excess.begin(), excess.end(), [](const Excess& part) { return part.values.empty(); }),
               excess.end());
  factorFamilies(sample, relationships);
  rotatedTrait = traitFit(std::move(residual), p);
  nullFit.sigma2 = rotatedTrait.squares / static_cast<double>(n - p);
}

void MixedModel::rowSums(const double* r, size_t stride, size_t count, double* cross, double* squares) const {
  metricRowSums(r, stride, count, n, weighted.data(), excess, cross, squares);
}

void MixedModel::familySquares(const double* r, size_t stride, size_t count, double* squares) const {
  for (size_t f = 0; f < rotatedFamilies.size(); ++f) {
    if (familyFactors[f].empty()) {
      addRotatedSquares(rotatedFamilies[f], r, stride, count, squares);
    } else {
      addFactoredSquares(rotatedFamilies[f], familyFactors[f], r, stride, count, squares);
    }
  }
}

void MixedModel::factorFamilies(const TestedSample& sample, const std::vector<std::vector<double>>& relationships) {
  const double h2 = nullFit.h2;
  size_t begin = 0;
  auto family = rotatedFamilies.begin();
  for (size_t f = 0; f < sample.familyEntryEnd.size() && f < relationships.size(); ++f) {
    const size_t end = sample.familyEntryEnd[f], m = end - begin;
    if (family != rotatedFamilies.end() && family->begin == begin && family->size == m) {
      // V = h2 K + (1 - h2) I over the family, its diagonal as varianceShare writes it.
      std::vector<double> v(m * m);
      for (size_t a = 0; a < m; ++a) {
        for (size_t b = 0; b < m; ++b) v[a * m + b] = h2 * relationships[f][a * m + b];
        v[a * m + a] = varianceShare(h2, relationships[f][a * m + a]);
      }
      const int size = static_cast<int>(m);
      int info = 0;
      openBlas().dpotrf("L", &size, v.data(), &size, &info);
      if (info != 0) v.clear();
      familyFactors.push_back(std::move(v));
      ++family;
    }
    begin = end;
  }
  familyFactors.resize(rotatedFamilies.size());
}

void MixedModel::explainedSums(const double* r, size_t stride, size_t count, double* c, size_t cStride) const {
  // c = X'V^-1 r = X'(V^-1 - I) r (X'r is zero: r is a residual on X),
  // p rows of `count`, from the families' rows alone; the padded design
  // columns' rows go to a scratch copy.
  if (excessEnd == 0) {  // no family with V^-1 - I: c is zero
    for (size_t k = 0; k < p; ++k) std::fill(c + k * cStride, c + k * cStride + count, 0.0);
    return;
  }
  const size_t columns = excessDesign.size() / excessEnd;
  std::vector<double> sums(columns * count);
  weightedColumnSums(excessDesign.data(), columns, r, stride, excessRows, count, sums.data(), count);
  for (size_t k = 0; k < p; ++k) std::copy_n(sums.data() + k * count, count, c + k * cStride);
}

// squares -= c' A^-1 c per column (c: p rows of `width`).
void MixedModel::lessExplained(const double* c, size_t width, double* squares) const {
  subtractQuadratic(c, width, inverse.data(), p, squares);
}

void MixedModel::snpSums(const double* r, size_t width, double* cross, double* squares,
                         std::vector<double>& work) const {
  rowSums(r, width, width, cross, squares);
  familySquares(r, width, width, squares);
  work.resize(p * width);
  explainedSums(r, width, width, work.data(), width);
  lessExplained(work.data(), width, squares);
}

void MixedModel::groupEqualWeights() {
  const std::vector<double>& lambda = rotation.eigenvalues();
  std::vector<size_t> order;
  for (size_t h = 0; h < n; ++h) {
    if (std::isfinite(lambda[h])) {
      order.push_back(h);
    } else {
      loneEntries.push_back(h);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lambda[a] < lambda[b]; });
  const size_t fewest = std::max<size_t>(2, p);
  for (size_t first = 0, last = 0; first < order.size(); first = last) {
    while (last < order.size() && lambda[order[last]] == lambda[order[first]]) ++last;
    if (last - first < fewest) {
      loneEntries.insert(loneEntries.end(), order.begin() + first, order.begin() + last);
      continue;
    }
    EqualWeights group{lambda[order[first]], static_cast<double>(last - first), std::vector<double>(p * p, 0.0),
                       std::vector<double>(p, 0.0), 0.0};
    for (size_t i = first; i < last; ++i) {
      const size_t h = order[i];
      const double y = rotatedY[h];
      for (size_t r = 0; r < p; ++r) {
        const double xr = rotatedX[r * n + h];
        group.xy[r] += xr * y;
        for (size_t k = 0; k <= r; ++k) group.xx[r * p + k] += xr * rotatedX[k * n + h];
      }
      group.yy += y * y;
    }
    likelihoodGroups.push_back(std::move(group));
  }
  std::sort(loneEntries.begin(), loneEntries.end());
}

double MixedModel::restrictedLikelihood(double h2) const {
  if (!(h2 >= 0 && h2 <= 1)) return kMinusInfinity;
  const std::vector<double>& lambda = rotation.eigenvalues();
  std::vector<double> a(p * p, 0.0), b(p, 0.0), x(p);
  double c = 0, logDeterminant = 0;
  for (const EqualWeights& group : likelihoodGroups) {
    const double d = varianceShare(h2, group.eigenvalue);
    if (!(d > 0)) return kMinusInfinity;
    const double w = 1 / d;
    logDeterminant += group.count * std::log(d);
    for (size_t i = 0; i < p * p; ++i) a[i] += w * group.xx[i];
    for (size_t r = 0; r < p; ++r) b[r] += w * group.xy[r];
    c += w * group.yy;
  }
  for (size_t h : loneEntries) {
    const double d = varianceShare(h2, lambda[h]);
    if (!(d > 0)) return kMinusInfinity;
    const double w = 1 / d;
    logDeterminant += std::log(d);
    const double y = rotatedY[h];
    for (size_t k = 0; k < p; ++k) x[k] = rotatedX[k * n + h];
    for (size_t r = 0; r < p; ++r) {
      const double wx = w * x[r];
      b[r] += wx * y;
      for (size_t k = 0; k <= r; ++k) a[r * p + k] += wx * x[k];
    }
    c += w * y * y;
  }
  if (!cholesky(a, p)) return kMinusInfinity;
  // y' P y = c - b' A^-1 b, with L z = b.
  double explained = 0, logDeterminantA = 0;
  for (size_t r = 0; r < p; ++r) {
    double z = b[r];
    for (size_t k = 0; k < r; ++k) z -= a[r * p + k] * b[k];
    z /= a[r * p + r];
    b[r] = z;
    explained += z * z;
    logDeterminantA += 2 * std::log(a[r * p + r]);
  }
  const double residual = c - explained;
  const double freedom = static_cast<double>(n - p);
  if (!(residual > 0)) return kMinusInfinity;
  const double sigma2 = residual / freedom;
  constexpr double kTwoPi = 6.283185307179586;
  return -0.5 * (freedom * (std::log(kTwoPi * sigma2) + 1) + logDeterminant + logDeterminantA);
}

void MixedModel::estimate() {
  int evaluations = 0;
  auto likelihood = [&](double h2) {
    ++evaluations;
    return restrictedLikelihood(h2);
  };
  std::vector<double> grid(kGridCells + 1);
  int best = 0;
  for (int k = 0; k <= kGridCells; ++k) {
    grid[static_cast<size_t>(k)] = likelihood(static_cast<double>(k) / kGridCells);
    if (grid[static_cast<size_t>(k)] > grid[static_cast<size_t>(best)]) best = k;
  }
  if (!std::isfinite(grid[static_cast<size_t>(best)])) {
    stopRun("The mixed model's restricted likelihood is not finite at any h2 from 0 to 1: the design's columns "
            "are not independent among the tested individuals or the trait is fitted exactly by them.\n");
  }
  // Golden-section search for the maximum in the cells either side of the
  // best point.
  double lo = std::max(0, best - 1) / static_cast<double>(kGridCells);
  double hi = std::min(kGridCells, best + 1) / static_cast<double>(kGridCells);
  const double ratio = (std::sqrt(5.0) - 1) / 2;
  double x1 = hi - ratio * (hi - lo), x2 = lo + ratio * (hi - lo);
  double f1 = likelihood(x1), f2 = likelihood(x2);
  int steps = 0;
  while (hi - lo > kTolerance && steps < 200) {
    ++steps;
    if (f1 >= f2) {
      hi = x2;
      x2 = x1;
      f2 = f1;
      x1 = hi - ratio * (hi - lo);
      f1 = likelihood(x1);
    } else {
      lo = x1;
      x1 = x2;
      f1 = f2;
      x2 = lo + ratio * (hi - lo);
      f2 = likelihood(x2);
    }
  }
  nullFit.converged = hi - lo <= kTolerance;
  nullFit.interval = hi - lo;
  double h2 = f1 >= f2 ? x1 : x2;
  double top = std::max(f1, f2);
  if (grid[static_cast<size_t>(best)] > top) {
    h2 = static_cast<double>(best) / kGridCells;
    top = grid[static_cast<size_t>(best)];
  }
  // A maximum within the tolerance of a bound is on the bound: the bound's
  // own likelihood is kept when it is at least as high.
  for (int bound : {0, 1}) {
    const double at = grid[static_cast<size_t>(bound * kGridCells)];
    if (std::fabs(h2 - bound) <= 2 * kTolerance && at >= top) {
      h2 = bound;
      top = at;
    }
  }
  nullFit.boundary = h2 == 0 || h2 == 1;
  nullFit.h2 = h2;
  nullFit.logLikelihood = top;
  nullFit.evaluations = evaluations;
}

std::string MixedModel::report() const {
  std::string text = "Mixed model with the pedigrees' kinship: h2 = " + number("%.6f", nullFit.h2);
  if (nullFit.fixed) {
    text += " (fixed by --lmm-h2)";
  } else {
    text += " (restricted maximum likelihood";
    if (nullFit.boundary) text += nullFit.h2 == 0 ? ", on the boundary 0" : ", on the boundary 1";
    text += nullFit.converged ? "; converged" : "; not converged, the best value found is used";
    text += ": interval " + number("%.1e", nullFit.interval) + " after " + std::to_string(nullFit.evaluations) +
            " evaluations)";
  }
  text += ", sigma2 = " + number("%.6g", nullFit.sigma2) +
          ", restricted log-likelihood = " + number("%.6f", nullFit.logLikelihood) + "\n";
  return text;
}

}  // namespace ombra
