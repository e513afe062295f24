// Times the plain transcription of the SVD (tests/SvdReference.cpp) against
// Matrix::svdcmp on one thread and on two, on random centred 0/1/2 genotype
// matrices (rows = markers, columns = people), and checks that U, w and V
// agree bit for bit.
//   svd_bench                 20,000 x 1,000 and 100,000 x 2,000
//   svd_bench m n p f ...     the given sizes; the plain version is run with
//                             p columns and the fast one with f columns, each
//                             time scaled to n columns by the m n^2 law when
//                             p or f is smaller than n
// Each timing comes with the one-minute load average and the processor time
// (of all threads), as the machine may be shared with other work; the fast
// version is run twice at each setting and the quicker run is kept.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "numerics/Matrix.h"
#include "numerics/Threads.h"
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
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::isnan(x[i]) && std::isnan(y[i])) continue;
    if (std::memcmp(&x[i], &y[i], sizeof(double)) != 0) return false;
  }
  return true;
}

double loadAverage() {
  double load[1] = {-1.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

struct Result {
  std::vector<double> u, w, v;
  double seconds = 0.0;
  double cpu = 0.0;
  double loadBefore = 0.0;
  double loadAfter = 0.0;
};

using Routine = void (*)(double**, int, int, double*, double**);

// The threads of the fast version for the decompositions that follow.
int fastThreads = 1;

void fast(double** a, int m, int n, double* w, double** v) { Matrix().svdcmp(a, m, n, w, v, fastThreads); }

// Decomposes an m x n genotype matrix (the same one for the same m, n).
Result decompose(Routine routine, int m, int n) {
  OneBased a(m, n), v(n, n);
  fillGenotypes(a, m, n, 2024u);
  Result res;
  res.w.assign(n + 1, 0.0);
  res.loadBefore = loadAverage();
  std::clock_t cpu0 = std::clock();
  auto start = std::chrono::steady_clock::now();
  routine(a.ptrs.data(), m, n, res.w.data(), v.ptrs.data());
  res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  res.cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  res.loadAfter = loadAverage();
  res.u = std::move(a.store);
  res.v = std::move(v.store);
  return res;
}

bool same(const Result& x, const Result& y) {
  return sameBits(x.u, y.u) && sameBits(x.w, y.w) && sameBits(x.v, y.v);
}

// Seconds at m x n from a run at m x measured, by the m n^2 law.
double scaled(double seconds, int n, int measured) {
  double ratio = static_cast<double>(n) / measured;
  return seconds * ratio * ratio;
}

void report(const char* what, const Result& r, int m, int n, int measured) {
  std::string size = std::to_string(m) + " x " + std::to_string(measured);
  if (measured == n) {
    std::printf("  %-22s %9.2f s             measured at %-16s cpu %8.2f s  load %.2f -> %.2f\n", what,
                r.seconds, size.c_str(), r.cpu, r.loadBefore, r.loadAfter);
  } else {
    std::printf("  %-22s %9.2f s (extrap.)   measured at %-16s %8.2f s, cpu %8.2f s  load %.2f -> %.2f\n",
                what, scaled(r.seconds, n, measured), size.c_str(), r.seconds, r.cpu, r.loadBefore,
                r.loadAfter);
  }
}

constexpr int kFastRuns = 2;

bool benchOne(int m, int n, int plainCols, int fastCols) {
  std::printf("%d x %d\n", m, n);
  std::fflush(stdout);
  bool ok = true;
  Result plain = decompose(svdref::svdcmpReference, m, plainCols);
  report("plain transcription", plain, m, n, plainCols);
  std::fflush(stdout);
  // Bits against the oracle at the oracle's size, on one thread and on two.
  if (plainCols != fastCols) {
    for (int threads : {1, 2}) {
      fastThreads = threads;
      bool match = same(decompose(fast, m, plainCols), plain);
      std::printf("  fast, %d thread%s at %d x %d: U, w, V %s the plain version's\n", threads,
                  threads == 1 ? "" : "s", m, plainCols, match ? "bit-identical to" : "DIFFER from");
      ok = ok && match;
    }
  }
  Result byThreads[2];
  for (int threads : {1, 2}) {
    fastThreads = threads;
    Result& r = byThreads[threads - 1];
    r = decompose(fast, m, fastCols);
    for (int again = 1; again < kFastRuns; ++again) {
      Result next = decompose(fast, m, fastCols);
      ok = ok && same(next, r);
      if (next.seconds < r.seconds) r = std::move(next);
    }
    report(threads == 1 ? "fast, 1 thread" : "fast, 2 threads", r, m, n, fastCols);
    std::fflush(stdout);
  }
  bool match = same(byThreads[0], byThreads[1]);
  if (plainCols == fastCols) {
    match = match && same(byThreads[0], plain);
    std::printf("  U, w, V of plain, fast on 1 and on 2 threads: %s\n",
                match ? "bit-identical" : "DIFFER");
  } else {
    std::printf("  U, w, V of fast on 1 and on 2 threads at %d x %d: %s\n", m, fastCols,
                match ? "bit-identical" : "DIFFER");
  }
  ok = ok && match;
  double plainTime = scaled(plain.seconds, n, plainCols);
  double one = scaled(byThreads[0].seconds, n, fastCols);
  double two = scaled(byThreads[1].seconds, n, fastCols);
  std::printf("  speed-up over the plain version: %.1fx on 1 thread, %.1fx on 2 threads (2 threads: %.2fx of 1)\n\n",
              plainTime / one, plainTime / two, one / two);
  std::fflush(stdout);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // m, n, columns run by the plain version, columns run by the fast one. The
  // plain version would take about ten minutes at 20,000 x 1,000 and days at
  // 100,000 x 2,000; the fast one about a quarter of an hour at the latter.
  std::vector<int> sizes = {20000, 1000, 250, 1000, 100000, 2000, 125, 500};
  if (argc > 1) {
    sizes.clear();
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    bool valid = sizes.size() % 4 == 0;
    for (size_t i = 0; valid && i < sizes.size(); i += 4)
      valid = sizes[i] > 0 && sizes[i + 1] > 0 && sizes[i + 2] > 0 && sizes[i + 3] > 0 &&
              sizes[i + 2] <= sizes[i + 1] && sizes[i + 3] <= sizes[i + 1];
    if (!valid) {
      std::fprintf(stderr, "usage: svd_bench [m n plain-columns fast-columns] ...\n");
      return 2;
    }
  }
  std::printf("svdcmp: plain transcription against the fast version; %u processors, %d threads by default\n\n",
              std::thread::hardware_concurrency(), ombra::chooseThreads(0).count);
  bool allSame = true;
  for (size_t i = 0; i + 3 < sizes.size(); i += 4)
    allSame = benchOne(sizes[i], sizes[i + 1], sizes[i + 2], sizes[i + 3]) && allSame;
  return allSame ? 0 : 1;
}
