#include "outputs/StatisticStore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "outputs/ResultTable.h"

namespace ombra {

namespace {

// Unsigned keys in the order of the doubles they stand for.
uint64_t orderKey(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

// Null when none can be made.
std::FILE* unnamedTemporaryFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/ombra-statistics-XXXXXX";
  const int descriptor = mkstemp(name.data());
  if (descriptor < 0) return nullptr;
  unlink(name.c_str());
  std::FILE* file = fdopen(descriptor, "w+b");
  if (file == nullptr) close(descriptor);
  return file;
}

}  // namespace

StatisticStore::StatisticStore(size_t heldValues) : limit(std::max<size_t>(heldValues, 1)) {}

StatisticStore::~StatisticStore() {
  if (file != nullptr) std::fclose(file);
}

void StatisticStore::add(double value) {
  ++added;
  if (!std::isfinite(value)) return;
  ++finite;
  held.push_back(value);
  if (held.size() >= limit) spill();
}

void StatisticStore::spill() {
  if (file == nullptr) file = unnamedTemporaryFile();
  if (file == nullptr) {
    limit = std::numeric_limits<size_t>::max();
    return;
  }
  if (std::fwrite(held.data(), sizeof(double), held.size(), file) != held.size()) {
    stopRun(std::string("Write a temporary file of statistics failed: ") + std::strerror(errno) + "\n");
  }
  held.clear();
}

template <typename Visit>
void StatisticStore::visitAll(Visit visit) const {
  if (file != nullptr) {
    std::rewind(file);
    std::vector<double> chunk(size_t{1} << 16);
    size_t got;
    while ((got = std::fread(chunk.data(), sizeof(double), chunk.size(), file)) > 0) {
      for (size_t i = 0; i < got; ++i) visit(chunk[i]);
    }
    if (std::ferror(file)) stopRun(std::string("Read a temporary file of statistics failed: ") + std::strerror(errno) + "\n");
  }
  for (double value : held) visit(value);
}

// Narrows the keys 16 bits at a time to the bucket that holds the k-th
// value, until the bucket fits in memory, and selects within it.
double StatisticStore::select(uint64_t k) const {
  uint64_t prefix = 0;
  int known = 0;  // leading key bits fixed by `prefix`
  const auto matches = [&](uint64_t key) { return known == 0 || (key >> (64 - known)) == prefix; };
  while (true) {
    std::vector<uint64_t> counts(size_t{1} << 16, 0);
    visitAll([&](double value) {
      const uint64_t key = orderKey(value);
      if (matches(key)) ++counts[(key >> (48 - known)) & 0xFFFF];
    });
    size_t bucket = 0;
    while (k >= counts[bucket]) k -= counts[bucket++];
    prefix = (prefix << 16) | bucket;
    known += 16;
    if (counts[bucket] <= limit || known == 64) break;
  }
  std::vector<double> inBucket;
  visitAll([&](double value) {
    if (matches(orderKey(value))) inBucket.push_back(value);
  });
  std::nth_element(inBucket.begin(), inBucket.begin() + static_cast<long>(k), inBucket.end());
  return inBucket[k];
}

double StatisticStore::inflation() const {
  if (file == nullptr) return genomicInflation(held);
  if (finite == 0) return std::numeric_limits<double>::quiet_NaN();
  const uint64_t half = finite / 2;
  double median = select(half);
  if (finite % 2 == 0) median = (median + select(half - 1)) / 2;
  return median / 0.4549364;
}

}  // namespace ombra
