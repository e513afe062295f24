#include "numerics/ApproxComponents.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "numerics/OpenBlas.h"

namespace ombra {

namespace {

// Column-major C x l matrices throughout (column j at data + j * C).
struct Basis {
  int rows = 0;
  int cols = 0;
  std::vector<double> data;
  double* column(int j) { return data.data() + static_cast<size_t>(j) * static_cast<size_t>(rows); }
};

// Standard normal draws from a fixed generator (Box-Muller on the raw
// 64-bit output), the same on every platform.
Basis randomStart(int rows, int cols, unsigned long long seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&random] { return (static_cast<double>(random() >> 11) + 0.5) * 0x1.0p-53; };
  Basis start{rows, cols, std::vector<double>(static_cast<size_t>(rows) * static_cast<size_t>(cols))};
  for (double& value : start.data) {
    value = std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
  }
  return start;
}

// Orthonormalises `block` against the columns of `basis` and within
// itself (modified Gram-Schmidt, twice, which keeps the columns orthogonal
// to working precision), then appends it; a column that vanishes becomes 0.
void appendOrthonormal(Basis& basis, const Basis& block) {
  const size_t n = static_cast<size_t>(basis.rows);
  const int before = basis.cols;
  basis.data.insert(basis.data.end(), block.data.begin(), block.data.end());
  basis.cols += block.cols;
  for (int j = before; j < basis.cols; ++j) {
    double* v = basis.column(j);
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < j; ++i) {
        const double* q = basis.column(i);
        double dot = 0;
        for (size_t r = 0; r < n; ++r) dot += q[r] * v[r];
        for (size_t r = 0; r < n; ++r) v[r] -= dot * q[r];
      }
    }
    double norm = 0;
    for (size_t r = 0; r < n; ++r) norm += v[r] * v[r];
    norm = std::sqrt(norm);
    for (size_t r = 0; r < n; ++r) v[r] = norm > 1e-300 ? v[r] / norm : 0.0;
  }
}

// Orthonormalises the columns of `basis` in place.
void orthonormalise(Basis& basis) {
  Basis out{basis.rows, 0, {}};
  appendOrthonormal(out, basis);
  basis = std::move(out);
}

// W = A'A Q in one pass over the rows of A.
void gramTimes(int snps, int cols, const CentredRows& rows, const Basis& q, Basis& w, std::vector<double>& block,
               std::vector<double>& product) {
  const OpenBlas& blas = openBlas();
  const int l = q.cols;
  std::fill(w.data.begin(), w.data.end(), 0.0);
  const int blockRows = gramBlockRows(cols);
  for (int first = 0; first < snps; first += blockRows) {
    const int count = std::min(blockRows, snps - first);
    rows(first, count, block.data());  // row-major count x C
    // product (count x l, column-major) = block Q; W += block' product.
    blas.dgemm(CblasColMajor, CblasTrans, CblasNoTrans, count, l, cols, 1.0, block.data(), cols, q.data.data(), cols,
               0.0, product.data(), count);
    blas.dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, cols, l, count, 1.0, block.data(), cols, product.data(),
               count, 1.0, w.data.data(), cols);
  }
}

// Eigenvalues (ascending) and, in `matrix`, eigenvectors of a small
// symmetric column-major l x l matrix.
bool smallEigen(std::vector<double>& matrix, int l, std::vector<double>& values) {
  values.assign(static_cast<size_t>(l), 0.0);
  int info = 0;
  int lwork = -1;
  double size = 0;
  openBlas().dsyev("V", "U", &l, matrix.data(), &l, values.data(), &size, &lwork, &info);
  if (info != 0) return false;
  lwork = std::max(1, static_cast<int>(size));
  std::vector<double> work(static_cast<size_t>(lwork));
  openBlas().dsyev("V", "U", &l, matrix.data(), &l, values.data(), work.data(), &lwork, &info);
  return info == 0;
}

// True when every one of the `wanted` largest Ritz values moved by less than
// the tolerance, relative to itself, since the previous call.
bool settled(const std::vector<double>& values, std::vector<double>& previous, int wanted, double tolerance) {
  const size_t l = values.size();
  bool still = previous.size() == l;
  for (size_t k = 0; k < static_cast<size_t>(wanted) && still; ++k) {
    const double value = values[l - 1 - k];
    still = std::fabs(value - previous[l - 1 - k]) <= tolerance * std::fabs(value);
  }
  previous = values;
  return still;
}

// Basis blocks per restart of the block Krylov iteration, beyond the start.
constexpr int kKrylovDepth = 8;

int krylovDepth(int cols, int l) { return std::max(0, std::min(kKrylovDepth, cols / std::max(l, 1) - 1)); }

}  // namespace

double approxComponentsBytes(int snps, int cols, int wanted, const ApproxSettings& settings) {
  const int l = std::min(wanted + settings.oversampling, std::max(cols, 1));
  const double m = double(l) * (krylovDepth(cols, l) + 1);
  return 8.0 * (2.0 * cols * m + 2.0 * m * m + double(gramBlockRows(cols)) * (cols + l) + double(snps) * l +
                double(snps) * wanted);
}


bool approxComponents(int snps, int cols, int wanted, const CentredRows& rows, LeadingComponents& out,
                      const ApproxSettings& settings) {
  out.wanted = std::clamp(std::min(wanted, snps), 0, std::max(cols, 0));
  out.singularValues.assign(static_cast<size_t>(out.wanted), 0.0);
  out.loadings.assign(static_cast<size_t>(std::max(snps, 0)) * static_cast<size_t>(out.wanted), 0.0);
  if (out.wanted == 0) return true;
  if (!openBlas().loaded()) return false;
  const int l = std::min({out.wanted + settings.oversampling, cols, snps});
  const int depth = krylovDepth(cols, l);

  // Block Krylov iteration on G = A'A, restarted from the leading Ritz
  // vectors until the wanted Ritz values settle: each restart builds the
  // basis [Q, GQ, ..., G^depth Q] (orthonormalised), keeps every product
  // with G, and takes the Ritz pairs of G on it.
  Basis q = randomStart(cols, l, settings.seed);
  orthonormalise(q);
  const size_t blockRows = static_cast<size_t>(gramBlockRows(cols));
  std::vector<double> block(blockRows * static_cast<size_t>(cols));
  std::vector<double> product(blockRows * static_cast<size_t>(l));
  std::vector<double> previous;
  Basis image{cols, l, std::vector<double>(q.data.size())};
  int passes = 0;
  while (passes < settings.maxIterations) {
    Basis krylov{cols, 0, {}};
    Basis images{cols, 0, {}};
    appendOrthonormal(krylov, q);
    for (int level = 0; level <= depth; ++level) {
      Basis last{cols, l, std::vector<double>(krylov.data.end() - static_cast<long>(q.data.size()), krylov.data.end())};
      gramTimes(snps, cols, rows, last, image, block, product);
      ++passes;
      images.data.insert(images.data.end(), image.data.begin(), image.data.end());
      images.cols += l;
      if (level < depth) appendOrthonormal(krylov, image);
    }
    const int m = krylov.cols;
    std::vector<double> small(static_cast<size_t>(m) * static_cast<size_t>(m));
    openBlas().dgemm(CblasColMajor, CblasTrans, CblasNoTrans, m, m, cols, 1.0, krylov.data.data(), cols,
                     images.data.data(), cols, 0.0, small.data(), m);
    for (int i = 0; i < m; ++i) {
      for (int j = 0; j < i; ++j) {
        const double mean = 0.5 * (small[static_cast<size_t>(i) * m + j] + small[static_cast<size_t>(j) * m + i]);
        small[static_cast<size_t>(i) * m + j] = small[static_cast<size_t>(j) * m + i] = mean;
      }
    }
    std::vector<double> ritz;
    if (!smallEigen(small, m, ritz)) return false;
    // The next start: the l leading Ritz vectors, K Y.
    openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, cols, l, m, 1.0, krylov.data.data(), cols,
                     small.data() + static_cast<size_t>(m - l) * static_cast<size_t>(m), m, 0.0, q.data.data(),
                     cols);
    orthonormalise(q);
    if (settled(ritz, previous, out.wanted, settings.tolerance)) break;
  }

  // B = A Q (S x l), whose singular values are A's on the subspace; its
  // left vectors through the eigenvectors of B'B.
  std::vector<double> b(static_cast<size_t>(snps) * static_cast<size_t>(l));  // row-major S x l
  for (int first = 0; first < snps; first += static_cast<int>(blockRows)) {
    const int count = std::min(static_cast<int>(blockRows), snps - first);
    rows(first, count, block.data());
    openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, count, l, cols, 1.0, block.data(), cols,
                     q.data.data(), cols, 0.0, b.data() + static_cast<size_t>(first) * static_cast<size_t>(l), l);
  }
  std::vector<double> small(static_cast<size_t>(l) * static_cast<size_t>(l));
  openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasTrans, l, l, snps, 1.0, b.data(), l, b.data(), l, 0.0,
                   small.data(), l);
  std::vector<double> values;
  if (!smallEigen(small, l, values)) return false;
  const double noise = values.back() * cols * std::numeric_limits<double>::epsilon();
  const int k = out.wanted;
  std::vector<double> leading(static_cast<size_t>(l) * static_cast<size_t>(k));  // row-major l x wanted
  for (int j = 0; j < k; ++j) {
    const int source = l - 1 - j;  // largest first
    const double value = values[static_cast<size_t>(source)];
    const double sigma = value > noise ? std::sqrt(value) : 0.0;
    out.singularValues[static_cast<size_t>(j)] = sigma;
    for (int i = 0; i < l; ++i) {
      leading[static_cast<size_t>(i) * k + j] =
          sigma > 0 ? small[static_cast<size_t>(source) * l + static_cast<size_t>(i)] / sigma : 0.0;
    }
  }
  openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, snps, k, l, 1.0, b.data(), l, leading.data(), k, 0.0,
                   out.loadings.data(), k);
  fixLoadingSigns(snps, out);
  return true;
}

}  // namespace ombra
