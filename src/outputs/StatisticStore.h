// The values of one statistic over the SNPs of a run, kept for their
// median (the genomic inflation factor): in memory up to a bound, beyond it
// in an unnamed temporary file, so that a run of any number of SNPs holds
// under a megabyte. The median is exact either way; where no temporary file
// can be made, every value stays in memory.
#ifndef OMBRA_OUTPUTS_STATISTICSTORE_H
#define OMBRA_OUTPUTS_STATISTICSTORE_H

#include <cstdint>
#include <cstdio>
#include <vector>

namespace ombra {

class StatisticStore {
 public:
  explicit StatisticStore(size_t heldValues = size_t{1} << 16);
  ~StatisticStore();
  StatisticStore(const StatisticStore&) = delete;
  StatisticStore& operator=(const StatisticStore&) = delete;

  void add(double value);
  // Values added, finite or not.
  size_t size() const { return added; }
  // genomicInflation (outputs/ResultTable.h) of the values added.
  double inflation() const;

 private:
  void spill();
  // The k-th smallest finite value (0-based).
  double select(uint64_t k) const;
  // Calls visit(value) for every finite value, those in the file first.
  template <typename Visit>
  void visitAll(Visit visit) const;

  size_t limit;
  size_t added = 0;
  uint64_t finite = 0;
  std::vector<double> held;  // finite values not in the file
  std::FILE* file = nullptr;
};

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_STATISTICSTORE_H
