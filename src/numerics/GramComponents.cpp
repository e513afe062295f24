#include "numerics/GramComponents.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numerics/OpenBlas.h"

namespace ombra {

int gramBlockRows(int cols) {
  constexpr long kBlockDoubles = long{1} << 22;  // 32 MB
  return static_cast<int>(std::clamp(kBlockDoubles / std::max(cols, 1), 128L, 2048L));
}

namespace {

// Every eigenvalue of the symmetric `gram` (ascending, in `values`) and the
// eigenvectors of the `wanted` largest (column-major C x wanted in
// `vectors`, the largest last). `gram` is overwritten. False on failure.
bool topEigenpairs(std::vector<double>& gram, int n, int wanted, std::vector<double>& values,
                   std::vector<double>& vectors) {
  const OpenBlas& blas = openBlas();
  std::vector<double> d(static_cast<size_t>(n)), e(static_cast<size_t>(n), 0.0), tau(static_cast<size_t>(std::max(n - 1, 1)));
  int info = 0;
  int lwork = -1;
  double size = 0;
  blas.dsytrd("L", &n, gram.data(), &n, d.data(), e.data(), tau.data(), &size, &lwork, &info);
  if (info != 0) return false;
  lwork = std::max(1, static_cast<int>(size));
  std::vector<double> work(static_cast<size_t>(lwork));
  blas.dsytrd("L", &n, gram.data(), &n, d.data(), e.data(), tau.data(), work.data(), &lwork, &info);
  if (info != 0) return false;

  values = d;
  std::vector<double> offDiagonal = e;
  blas.dsterf(&n, values.data(), offDiagonal.data(), &info);
  if (info != 0 || wanted == 0) return info == 0;

  // The wanted eigenvectors of the tridiagonal matrix, then of G.
  const int low = n - wanted + 1;
  const int high = n;
  const double unused = 0;
  int found = 0;
  int tryRelative = 1;
  std::vector<double> w(static_cast<size_t>(n));
  vectors.assign(static_cast<size_t>(n) * static_cast<size_t>(wanted), 0.0);
  std::vector<int> support(static_cast<size_t>(2 * wanted));
  int liwork = -1;
  int iworkSize = 0;
  lwork = -1;
  blas.dstemr("V", "I", &n, d.data(), e.data(), &unused, &unused, &low, &high, &found, w.data(), vectors.data(),
              &n, &wanted, support.data(), &tryRelative, &size, &lwork, &iworkSize, &liwork, &info);
  if (info != 0) return false;
  lwork = std::max(1, static_cast<int>(size));
  liwork = std::max(1, iworkSize);
  work.assign(static_cast<size_t>(lwork), 0.0);
  std::vector<int> iwork(static_cast<size_t>(liwork));
  blas.dstemr("V", "I", &n, d.data(), e.data(), &unused, &unused, &low, &high, &found, w.data(), vectors.data(),
              &n, &wanted, support.data(), &tryRelative, work.data(), &lwork, iwork.data(), &liwork, &info);
  if (info != 0 || found != wanted) return false;

  lwork = -1;
  blas.dormtr("L", "L", "N", &n, &wanted, gram.data(), &n, tau.data(), vectors.data(), &n, &size, &lwork, &info);
  if (info != 0) return false;
  lwork = std::max(1, static_cast<int>(size));
  work.assign(static_cast<size_t>(lwork), 0.0);
  blas.dormtr("L", "L", "N", &n, &wanted, gram.data(), &n, tau.data(), vectors.data(), &n, work.data(), &lwork,
              &info);
  return info == 0;
}

// U = A V / w for the leading components, block by block; V column-major
// C x wanted with the largest component last. A block's centred rows are
// made half a block at a time, so that they and the decoded block together
// take no more than one block of doubles.
void leftVectors(const PackedGenotypes& genotypes, const std::vector<double>& vectors, LeadingComponents& out,
                 const RowsVisited& visited) {
  const int snps = genotypes.rows();
  const int cols = genotypes.cols();
  const int wanted = out.wanted;
  // Largest first: component k is eigenvector wanted - 1 - k.
  std::vector<double> leading(static_cast<size_t>(cols) * static_cast<size_t>(wanted));  // row-major wanted x C
  for (int k = 0; k < wanted; ++k) {
    const double* source = vectors.data() + static_cast<size_t>(wanted - 1 - k) * static_cast<size_t>(cols);
    std::copy(source, source + cols, leading.data() + static_cast<size_t>(k) * static_cast<size_t>(cols));
  }
  out.loadings.assign(static_cast<size_t>(snps) * static_cast<size_t>(wanted), 0.0);
  const int blockRows = gramBlockRows(cols);
  const int halfRows = (blockRows + 1) / 2;
  DecodedRows block;
  std::vector<double> centred(static_cast<size_t>(halfRows) * static_cast<size_t>(cols));
  for (int first = 0; first < snps; first += blockRows) {
    decodeRows(genotypes, first, std::min(blockRows, snps - first), block);
    if (visited) visited(block.count);
    for (int part = 0; part < block.count; part += halfRows) {
      const int count = std::min(halfRows, block.count - part);
      for (int r = 0; r < count; ++r) {
        centredRow(block, part + r, cols, centred.data() + static_cast<size_t>(r) * static_cast<size_t>(cols));
      }
      double* product = out.loadings.data() + static_cast<size_t>(first + part) * static_cast<size_t>(wanted);
      openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, count, wanted, cols, 1.0, centred.data(), cols,
                       leading.data(), cols, 0.0, product, wanted);
      for (int r = 0; r < count; ++r) {
        for (int k = 0; k < wanted; ++k) {
          const double w = out.singularValues[static_cast<size_t>(k)];
          double& u = product[static_cast<size_t>(r) * static_cast<size_t>(wanted) + static_cast<size_t>(k)];
          u = w > 0 ? u / w : 0.0;
        }
      }
    }
  }
}

}  // namespace

// Turns each component so that its first largest |loading| is positive,
// which makes runs reproducible.
void fixLoadingSigns(int snps, LeadingComponents& out) {
  const size_t wanted = static_cast<size_t>(out.wanted);
  const size_t count = static_cast<size_t>(std::max(snps, 0));
  for (size_t k = 0; k < wanted; ++k) {
    size_t largest = 0;
    for (size_t s = 1; s < count; ++s) {
      if (std::fabs(out.loadings[s * wanted + k]) > std::fabs(out.loadings[largest * wanted + k])) largest = s;
    }
    const bool flip = count > 0 && out.loadings[largest * wanted + k] < 0;
    for (size_t s = 0; s < count; ++s) {
      double& loading = out.loadings[s * wanted + k];
      loading = loading == 0 ? 0.0 : (flip ? -loading : loading);
    }
  }
}

double gramComponentsBytes(int snps, int cols, int wanted) {
  const double c = cols;
  return 8.0 * (c * c + (gramBlockRows(cols) + 2.0 * wanted + 8.0) * c + double(snps) * wanted);
}

bool gramComponents(const PackedGenotypes& genotypes, int wanted, int threads, LeadingComponents& out,
                    const RowsVisited& visited) {
  const int snps = genotypes.rows();
  const int cols = genotypes.cols();
  out.wanted = std::clamp(wanted, 0, std::max(cols, 0));
  out.singularValues.assign(static_cast<size_t>(std::max(cols, 0)), 0.0);
  out.loadings.assign(static_cast<size_t>(std::max(snps, 0)) * static_cast<size_t>(out.wanted), 0.0);
  out.means.assign(static_cast<size_t>(std::max(snps, 0)), 0.0);
  if (cols <= 0) return true;
  if (!openBlas().loaded()) return false;
  // OpenBLAS on one thread: its threads split a product or a decomposition
  // where their count falls, and the sums then differ in their last bits
  // between thread counts (the Gram matrix itself is our own threads' work).
  setBlasThreads(1);
  std::vector<double> gram = gramMatrix(genotypes, out.means, threads, visited);
  std::vector<double> values;
  std::vector<double> vectors;
  if (!topEigenpairs(gram, cols, out.wanted, values, vectors)) return false;
  std::vector<double>().swap(gram);

  // Eigenvalues within rounding of zero (A'A carries errors of about
  // C eps times its largest eigenvalue) are zero singular values.
  const double noise = values.back() * cols * std::numeric_limits<double>::epsilon();
  for (int j = 0; j < cols; ++j) {
    const double value = values[static_cast<size_t>(cols - 1 - j)];
    out.singularValues[static_cast<size_t>(j)] = value > noise ? std::sqrt(value) : 0.0;
  }
  if (out.wanted > 0) {
    leftVectors(genotypes, vectors, out, visited);
    fixLoadingSigns(snps, out);
  }
  return true;
}

}  // namespace ombra
