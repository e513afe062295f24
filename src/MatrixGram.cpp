// The singular value decomposition of a tall matrix through its Gram matrix:
// G = A'A (n x n), G = V diag(w^2) V', U = A V / w. It gives the singular
// values and vectors of the Golub-Reinsch SVD up to the sign of each
// component and rounding, at a fraction of the cost when A has many more
// rows than columns; the dense kernels are OpenBLAS's.
#include <cblas.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <vector>

#include "Matrix.h"

extern "C" void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
                        double* work, const int* lwork, int* iwork, const int* liwork, int* info);

namespace {

// The OpenBLAS kernels of the route, loaded at their first use.
struct OpenBlas {
  decltype(&cblas_dsyrk) dsyrk = nullptr;
  decltype(&cblas_dgemm) dgemm = nullptr;
  decltype(&dsyevd_) dsyevd = nullptr;
  bool loaded() const { return dsyrk != nullptr && dgemm != nullptr && dsyevd != nullptr; }
};

OpenBlas loadOpenBlas() {
  // OpenBLAS picks its kernels from the processor model when it is loaded,
  // and gives a model it does not know its slowest kernels (several times
  // slower on recent processors). Unless the user chose, name the kernels
  // from the instruction sets the processor and the system support.
  if (std::getenv("OPENBLAS_CORETYPE") == nullptr) {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
      setenv("OPENBLAS_CORETYPE", "SkylakeX", 0);
    } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
      setenv("OPENBLAS_CORETYPE", "Haswell", 0);
    }
  }
  OpenBlas library;
  void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return library;
  library.dsyrk = reinterpret_cast<decltype(&cblas_dsyrk)>(dlsym(handle, "cblas_dsyrk"));
  library.dgemm = reinterpret_cast<decltype(&cblas_dgemm)>(dlsym(handle, "cblas_dgemm"));
  library.dsyevd = reinterpret_cast<decltype(&dsyevd_)>(dlsym(handle, "dsyevd_"));
  return library;
}

const OpenBlas& openBlas() {
  static const OpenBlas library = loadOpenBlas();
  return library;
}

}  // namespace

namespace {

// Rows of A are packed this many at a time for the matrix kernels.
constexpr int kBlockRows = 2048;

// Copies rows first..first+count-1 (1-based) of a into `block`, row-major.
void packRows(double** a, int first, int count, int n, std::vector<double>& block) {
  for (int r = 0; r < count; ++r) std::copy(a[first + r] + 1, a[first + r] + 1 + n, block.data() + size_t(r) * n);
}

// The upper triangle of A'A, row-major n x n.
std::vector<double> gramMatrix(double** a, int m, int n) {
  std::vector<double> gram(size_t(n) * n, 0.0);
  std::vector<double> block(size_t(kBlockRows) * n);
  for (int first = 1; first <= m; first += kBlockRows) {
    const int count = std::min(kBlockRows, m - first + 1);
    packRows(a, first, count, n, block);
    openBlas().dsyrk(CblasRowMajor, CblasUpper, CblasTrans, n, count, 1.0, block.data(), n, 1.0, gram.data(), n);
  }
  return gram;
}

// Eigenvalues ascending into `values`; `matrix` becomes the eigenvectors,
// vector j in column j of the column-major array. False on failure.
bool symmetricEigen(std::vector<double>& matrix, int n, std::vector<double>& values) {
  values.assign(size_t(n), 0.0);
  int info = 0;
  int lwork = -1;
  int liwork = -1;
  double workSize = 0;
  int iworkSize = 0;
  // The row-major upper triangle is the column-major lower one.
  openBlas().dsyevd("V", "L", &n, matrix.data(), &n, values.data(), &workSize, &lwork, &iworkSize, &liwork, &info);
  if (info != 0) return false;
  lwork = static_cast<int>(workSize);
  liwork = iworkSize;
  std::vector<double> work(size_t(std::max(lwork, 1)));
  std::vector<int> iwork(size_t(std::max(liwork, 1)));
  openBlas().dsyevd("V", "L", &n, matrix.data(), &n, values.data(), work.data(), &lwork, iwork.data(), &liwork, &info);
  return info == 0;
}

}  // namespace

bool Matrix::gramSvd(double** a, int m, int n, double* w, double** v, int wanted) {
  if (n <= 0) return true;
  if (!openBlas().loaded()) {
    std::cout << "OpenBLAS (libopenblas.so.0) could not be loaded; the exact decomposition is used instead.\n";
    return false;
  }
  std::vector<double> vectors = gramMatrix(a, m, n);
  std::vector<double> values;
  if (!symmetricEigen(vectors, n, values)) return false;

  // Eigenvalues within rounding of zero (A'A carries errors of about
  // n eps times its largest eigenvalue) are zero singular values.
  const double noise = values.back() * n * std::numeric_limits<double>::epsilon();
  // Largest first: column j of the result is eigenvector n - 1 - j.
  for (int j = 0; j < n; ++j) {
    const int source = n - 1 - j;
    const double value = values[size_t(source)];
    w[j + 1] = value > noise ? std::sqrt(value) : 0.0;
    for (int i = 0; i < n; ++i) v[i + 1][j + 1] = vectors[size_t(source) * n + i];
  }
  leftVectors(a, m, n, w, v, std::clamp(wanted, 0, n));
  return true;
}

// U = A V / w for the first `wanted` columns (0 for the others, and for a
// zero singular value). Each of those components is turned so that its
// largest loading is positive, which makes runs reproducible.
void Matrix::leftVectors(double** a, int m, int n, double* w, double** v, int wanted) {
  std::vector<double> leading(size_t(n) * std::max(wanted, 1));  // V's first columns, row-major n x wanted
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < wanted; ++j) leading[size_t(i) * wanted + j] = v[i + 1][j + 1];
  }
  std::vector<double> block(size_t(kBlockRows) * n);
  std::vector<double> product(size_t(kBlockRows) * std::max(wanted, 1));
  for (int first = 1; first <= m; first += kBlockRows) {
    const int count = std::min(kBlockRows, m - first + 1);
    packRows(a, first, count, n, block);
    if (wanted > 0) {
      openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, count, wanted, n, 1.0, block.data(), n,
                  leading.data(), wanted, 0.0, product.data(), wanted);
    }
    for (int r = 0; r < count; ++r) {
      double* row = a[first + r];
      std::fill(row + 1, row + 1 + n, 0.0);
      for (int j = 0; j < wanted; ++j) {
        if (w[j + 1] > 0) row[j + 1] = product[size_t(r) * wanted + j] / w[j + 1];
      }
    }
  }
  for (int j = 1; j <= wanted; ++j) {
    int largest = 1;
    for (int i = 2; i <= m; ++i) {
      if (std::fabs(a[i][j]) > std::fabs(a[largest][j])) largest = i;
    }
    if (m == 0 || a[largest][j] >= 0) continue;
    for (int i = 1; i <= m; ++i) a[i][j] = -a[i][j];
    for (int i = 1; i <= n; ++i) v[i][j] = -v[i][j];
  }
}
