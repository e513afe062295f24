// Fisher's exact test on 2 x 2 tables and the step-up and Bonferroni
// procedures over sorted p-value lists.
#include <cmath>
#include <cstdio>

#include "stats/statistic.h"
#include "stats/statisticNumbers.h"

using namespace statnum;

void StatisticTool::InitializeFisherIndex(int n) {
  logFactorial.push_back(0.0);
  double sum = 0.0;
  for (int k = 1; k <= n; ++k) {
    sum += std::log(static_cast<double>(k));
    logFactorial.push_back(sum);
  }
  std::printf("Size of Fisher Index : %zu\n", logFactorial.size());
  std::printf(" Finishing Index Initialize ......\n");
}

double StatisticTool::ExactTest(int a, int b, int c, int d) {
  // A negative count would index outside the table.
  if (a < 0 || b < 0 || c < 0 || d < 0) return kNaN;
  int n = a + b + c + d;
  if (logFactorial.size() < static_cast<size_t>(n) + 1) {
    logFactorial.clear();
    InitializeFisherIndex(n);
  }
  const std::vector<double>& L = logFactorial;
  double margins = L[a + b] + L[c + d] + L[a + c] + L[b + d];
  double cells = L[a] + L[b] + L[c] + L[d] + L[n];
  return std::exp(margins - cells);
}

// Probability of the table with first cell x and the observed margins
// (row 1 total r1, column totals c1 and c2); 0 if a cell would be negative.
double StatisticTool::tableProbability(long long x, int r1, int c1, int c2) {
  long long b = r1 - x, c = c1 - x, d = c2 - r1 + x;
  if (x < 0 || b < 0 || c < 0 || d < 0) return 0.0;
  return ExactTest(static_cast<int>(x), static_cast<int>(b), static_cast<int>(c),
                   static_cast<int>(d));
}

double StatisticTool::FisherExactTest(int a, int b, int c, int d, int tail) {
  int r1 = a + b, c1 = a + c, c2 = b + d;
  double sum = 0.0;
  if (tail == 0) {
    if (a > r1) return 0.0;
    for (long long x = a; x <= r1; ++x) sum += tableProbability(x, r1, c1, c2);
    return sum;
  }
  if (tail == 1) {
    if (a < 0) return 0.0;
    for (long long x = 0; x <= a; ++x) sum += tableProbability(x, r1, c1, c2);
    return sum;
  }
  // Tables as likely as the observed one can come out a few units in the
  // last place above it, depending on the order of the sums; they are ties.
  const double kTieTolerance = 1.0 + 1e-7;
  double cutoff = ExactTest(a, b, c, d) * kTieTolerance;
  if (r1 < 0) return 0.0;
  for (long long x = 0; x <= r1; ++x) {
    double p = tableProbability(x, r1, c1, c2);
    if (p <= cutoff) sum += p;
  }
  return sum;
}

int StatisticTool::LinStepUp(int m, const double* p, double q) {
  if (m <= 0) return 0;
  double step = q / m;
  for (int i = m; i >= 1; --i)
    if (p[i - 1] <= i * step) return i;
  return 0;
}

int StatisticTool::ALinStepUp(int m, const double* p, double q) {
  double firstLevel = q / (1.0 + q);
  int k = LinStepUp(m, p, firstLevel);
  if (k == 0) return 0;
  if (k == m) return m;
  return LinStepUp(m, p, m * firstLevel / (m - k));
}

int StatisticTool::Bonferroni(int m, const double* p, double q) {
  if (m <= 0) return 0;
  double threshold = q / m;
  int count = 0;
  while (count < m && p[count] <= threshold) ++count;
  return count;
}
