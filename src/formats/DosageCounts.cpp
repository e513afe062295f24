#include "formats/DosageCounts.h"

#include <algorithm>
#include <array>

#include "core/Records.h"
#include "core/SharedWork.h"

namespace ombra {

namespace {

// Each byte of a row holds four codes; these tables spread them over the
// four 8-bit lanes of a word (slot k in lane k), so that one addition per
// byte counts four SNPs. A lane gains at most 2 per row.
struct LaneTables {
  std::array<uint32_t, 256> copies{};
  std::array<uint32_t, 256> called{};
  LaneTables() {
    for (unsigned byte = 0; byte < 256; ++byte) {
      for (unsigned slot = 0; slot < 4; ++slot) {
        const unsigned code = (byte >> (2 * (3 - slot))) & 3;
        if (code == 3) continue;
        copies[byte] |= code << (8 * slot);
        called[byte] |= 1u << (8 * slot);
      }
    }
  }
};

const LaneTables kLanes;

// Rows per pass before the 8-bit lanes are emptied into the totals.
constexpr size_t kRowsPerPass = 127;

void emptyLanes(std::vector<uint32_t>& lanes, size_t markerCount, std::vector<uint64_t>& totals) {
  for (size_t b = 0; b < lanes.size(); ++b) {
    for (size_t slot = 0; slot < 4 && 4 * b + slot < markerCount; ++slot) {
      totals[4 * b + slot] += (lanes[b] >> (8 * slot)) & 0xffu;
    }
  }
  std::fill(lanes.begin(), lanes.end(), 0u);
}

}  // namespace

void addDosageCounts(const unsigned char* const* rows, size_t rowCount, size_t markerCount, DosageCounts& counts) {
  counts.copies.resize(markerCount, 0);
  counts.called.resize(markerCount, 0);
  counts.units.resize(markerCount, 0);
  const size_t bytes = (markerCount + 3) / 4;
  std::vector<uint32_t> copyLanes(bytes, 0u);
  std::vector<uint32_t> calledLanes(bytes, 0u);
  for (size_t first = 0; first < rowCount; first += kRowsPerPass) {
    const size_t last = std::min(rowCount, first + kRowsPerPass);
    for (size_t r = first; r < last; ++r) {
      const unsigned char* row = rows[r];
      for (size_t b = 0; b < bytes; ++b) {
        copyLanes[b] += kLanes.copies[row[b]];
        calledLanes[b] += kLanes.called[row[b]];
      }
    }
    emptyLanes(copyLanes, markerCount, counts.copies);
    emptyLanes(calledLanes, markerCount, counts.called);
  }
}

void addDosageUnits(const uint16_t* const* rows, size_t rowCount, size_t markerCount, DosageCounts& counts) {
  counts.copies.resize(markerCount, 0);
  counts.called.resize(markerCount, 0);
  counts.units.resize(markerCount, 0);
  // 32-bit sums, twice as many to a vector register, emptied before a
  // pass of rows could overflow them (a called dosage is at most 2^15 units).
  static_assert(2 * kDosageOne <= 32768, "a pass's units fit in 32 bits");
  constexpr size_t kUnitRowsPerPass = 65536;
  std::vector<uint32_t> units(markerCount);
  std::vector<uint32_t> called(markerCount);
  for (size_t first = 0; first < rowCount; first += kUnitRowsPerPass) {
    std::fill(units.begin(), units.end(), 0u);
    std::fill(called.begin(), called.end(), 0u);
    for (size_t r = first; r < std::min(rowCount, first + kUnitRowsPerPass); ++r) {
      const uint16_t* row = rows[r];
      for (size_t s = 0; s < markerCount; ++s) {
        const uint32_t isCalled = row[s] != kMissingDosage;
        units[s] += row[s] & (0u - isCalled);
        called[s] += isCalled;
      }
    }
    for (size_t s = 0; s < markerCount; ++s) {
      counts.units[s] += units[s];
      counts.called[s] += called[s];
    }
  }
}

DosageCounts cohortDosageCounts(const Cohort& cohort, size_t markerCount, size_t threads) {
  std::vector<const unsigned char*> calls;
  std::vector<const uint16_t*> dosages;
  for (const DataSet* set : {&cohort.family, &cohort.unrelated}) {
    for (const GenotypeRow& row : set->rows) {
      if (row.dosages != nullptr) {
        dosages.push_back(row.dosages);
      } else {
        calls.push_back(row.codes);
      }
    }
  }
  // Each thread counts a share of the SNPs (whole bytes of codes) over every row.
  const size_t share = 4 * ((markerCount + 4 * threads - 1) / (4 * std::max<size_t>(1, threads)));
  const size_t parts = share == 0 ? 0 : (markerCount + share - 1) / share;
  std::vector<DosageCounts> partCounts(std::max<size_t>(1, parts));
  shareWork(parts, threads, [&](size_t part, size_t) {
    const size_t first = part * share;
    const size_t count = std::min(share, markerCount - first);
    std::vector<const unsigned char*> partCalls(calls);
    for (const unsigned char*& row : partCalls) row += first / 4;
    std::vector<const uint16_t*> partDosages(dosages);
    for (const uint16_t*& row : partDosages) row += first;
    addDosageCounts(partCalls.data(), partCalls.size(), count, partCounts[part]);
    addDosageUnits(partDosages.data(), partDosages.size(), count, partCounts[part]);
  });
  DosageCounts counts = std::move(partCounts[0]);
  for (size_t part = 1; part < parts; ++part) {
    const DosageCounts& more = partCounts[part];
    counts.copies.insert(counts.copies.end(), more.copies.begin(), more.copies.end());
    counts.called.insert(counts.called.end(), more.called.begin(), more.called.end());
    counts.units.insert(counts.units.end(), more.units.begin(), more.units.end());
  }
  return counts;
}

bool holdsDosages(const Cohort& cohort) {
  for (const DataSet* set : {&cohort.family, &cohort.unrelated}) {
    for (const GenotypeRow& row : set->rows) {
      if (row.dosages != nullptr) return true;
    }
  }
  return false;
}

// Units are whole multiples of 1/kDosageOne, so that hard calls read as
// dosages add up to exactly the copies their codes count.
void meanDosages(const DosageCounts& counts, std::vector<double>& fill) {
  fill.resize(counts.copies.size());
  for (size_t s = 0; s < fill.size(); ++s) {
    const uint64_t called = counts.called[s];
    const double units = s < counts.units.size() ? static_cast<double>(counts.units[s]) / kDosageOne : 0.0;
    fill[s] = called == 0 ? 0.0 : (static_cast<double>(counts.copies[s]) + units) / static_cast<double>(called);
  }
}

}  // namespace ombra
