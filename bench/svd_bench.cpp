// Times the plain row-pointer SVD against Matrix::svdcmp on random centred
// 0/1/2 genotype matrices and checks that U, w and V agree bit for bit.
//   svd_bench                  two default sizes that finish in seconds
//   svd_bench m n [m n ...]    the given sizes (rows = markers, columns = people)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Matrix.h"
// The bench is linked against the library only, so the oracle comes in as source.
#include "SvdReference.cpp"

namespace {

struct OneBased {
  OneBased(int rows, int cols) : store((rows + 1) * static_cast<size_t>(cols + 1)), ptrs(rows + 1) {
    for (int r = 0; r <= rows; ++r) ptrs[r] = store.data() + r * static_cast<size_t>(cols + 1);
  }
  std::vector<double> store;
  std::vector<double*> ptrs;
};

void fillGenotypes(OneBased& a, int m, int n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> dose(0, 2);
  for (int r = 1; r <= m; ++r) {
    double sum = 0.0;
    for (int c = 1; c <= n; ++c) sum += a.ptrs[r][c] = dose(rng);
    for (int c = 1; c <= n; ++c) a.ptrs[r][c] -= sum / n;
  }
}

bool sameBits(const std::vector<double>& x, const std::vector<double>& y) {
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::isnan(x[i]) && std::isnan(y[i])) continue;
    if (std::memcmp(&x[i], &y[i], sizeof(double)) != 0) return false;
  }
  return true;
}

using Routine = void (*)(double**, int, int, double*, double**);

// Runs one decomposition on a copy of the input; returns seconds.
double timeRun(Routine routine, const OneBased& input, int m, int n, OneBased& u,
               std::vector<double>& w, OneBased& v) {
  u.store = input.store;
  auto start = std::chrono::steady_clock::now();
  routine(u.ptrs.data(), m, n, w.data(), v.ptrs.data());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void fast(double** a, int m, int n, double* w, double** v) { Matrix().svdcmp(a, m, n, w, v); }

bool benchOne(int m, int n) {
  OneBased input(m, n), u1(m, n), u2(m, n), v1(n, n), v2(n, n);
  std::vector<double> w1(n + 1), w2(n + 1);
  fillGenotypes(input, m, n, 2024u);
  double plain = timeRun(svdref::svdcmpReference, input, m, n, u1, w1, v1);
  double quick = timeRun(fast, input, m, n, u2, w2, v2);
  bool same = sameBits(u1.store, u2.store) && sameBits(w1, w2) && sameBits(v1.store, v2.store);
  std::printf("%7d x %-6d plain %9.3f s   fast %8.3f s   ratio %6.1f   U,w,V %s\n", m, n, plain,
              quick, plain / quick, same ? "bit-identical" : "DIFFER");
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {4000, 200, 1500, 400};
  if (argc > 1) {
    sizes.clear();
    for (int i = 1; i + 1 < argc; i += 2) {
      sizes.push_back(std::atoi(argv[i]));
      sizes.push_back(std::atoi(argv[i + 1]));
    }
  }
  bool allSame = true;
  for (size_t i = 0; i + 1 < sizes.size(); i += 2) allSame = benchOne(sizes[i], sizes[i + 1]) && allSame;
  return allSame ? 0 : 1;
}
