#include "formats/GenotypeBlock.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "formats/CodeDecoding.h"
#include "formats/ImputationInfo.h"

namespace ombra {

namespace {

void addSquares(double* __restrict sums, const double* __restrict row, size_t width) {
  for (size_t j = 0; j < width; ++j) sums[j] += row[j] * row[j];
}

// The part of a called dosage below a whole copy (0 for a missing one).
inline unsigned fractionOf(uint16_t dosage) {
  static_assert((kDosageOne & (kDosageOne - 1)) == 0, "a whole copy is a power of two units");
  return dosage != kMissingDosage ? dosage & (kDosageOne - 1u) : 0u;
}

// Where one entry's dosages go: its values, and the per-SNP counts and
// sums it joins.
struct DosageTargets {
  double* __restrict out;
  size_t* __restrict missing;
  unsigned* __restrict fractions;  // gathers the bits of the called dosages' fractions
  double* __restrict sums;
  double* __restrict squares;
};

// One entry's dosages of `count` SNPs as copies, a missing one at its SNP's
// fill value and counted, added to the sums and squares in one pass (each
// SNP's sums in entry order, as for rows of codes); whole copies come out
// exactly as their codes do.
void decodeDosages(const uint16_t* __restrict dosages, size_t count, const double* __restrict fill,
                   const DosageTargets& to) {
  for (size_t j = 0; j < count; ++j) {
    const bool absent = dosages[j] == kMissingDosage;
    const double value = absent ? fill[j] : dosageCopies(dosages[j]);
    to.out[j] = value;
    to.sums[j] += value;
    to.squares[j] += value * value;
    to.missing[j] += absent;
    to.fractions[j] |= fractionOf(dosages[j]);
  }
}

// Counts the missing codes (3: both bits set) of one byte's four SNPs.
void countMissingByte(unsigned code, size_t* missing) {
  if ((code & (code >> 1) & 0x55u) == 0) return;
  for (unsigned k = 0; k < 4; ++k) missing[k] += ((code >> (6 - 2 * k)) & 3u) == 3u;
}

// Counts the missing codes of one entry's bytes; eight bytes without one,
// nearly every eight, cost one test.
void countMissingCodes(const unsigned char* row, size_t bytes, size_t* missing) {
  constexpr uint64_t kLowBits = 0x5555555555555555ull;
  size_t b = 0;
  for (; b + 8 <= bytes; b += 8) {
    uint64_t word;
    std::memcpy(&word, row + b, 8);
    if ((word & (word >> 1) & kLowBits) == 0) continue;
    for (size_t k = b; k < b + 8; ++k) countMissingByte(row[k], missing + 4 * k);
  }
  for (; b < bytes; ++b) countMissingByte(row[b], missing + 4 * b);
}

// Fetches the cache lines of a row's `count` dosages ahead of their use:
// each row lies apart from the others, out of the hardware's sight.
void prefetchDosages(const uint16_t* dosages, size_t count) {
  constexpr size_t kLine = 64 / sizeof(uint16_t);
  for (size_t j = 0; j < count; j += kLine) __builtin_prefetch(dosages + j);
  if (count > 0) __builtin_prefetch(dosages + count - 1);
}

const GenotypeRow& rowOf(const Cohort& cohort, const GenotypeEntry& entry) {
  return cohort.set(entry.set).rows[static_cast<size_t>(entry.seq)];
}

// The sums are taken over the squares too where any entry has dosages (the
// imputation quality needs them).
bool anyDosages(const Cohort& cohort, const std::vector<GenotypeEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const GenotypeEntry& entry) { return rowOf(cohort, entry).dosages != nullptr; });
}

// Whether the entry's variance is known: calls, or dosages of probabilities.
bool knownVariance(const Cohort& cohort, const GenotypeEntry& entry) {
  return rowOf(cohort, entry).dosages == nullptr || cohort.set(entry.set).probabilities;
}

// Whether every entry's is.
bool allVariances(const Cohort& cohort, const std::vector<GenotypeEntry>& entries) {
  return std::all_of(entries.begin(), entries.end(),
                     [&](const GenotypeEntry& entry) { return knownVariance(cohort, entry); });
}

// Adds the variances of one entry's called dosages of `count` SNPs.
void addVariances(const uint16_t* dosages, const uint16_t* variances, size_t count, double* sums) {
  for (size_t j = 0; j < count; ++j) {
    if (dosages[j] != kMissingDosage) sums[j] += varianceOf(variances[j]);
  }
}

// The block's storage for `entries` x `width` values and its sums, zeroed.
void shapeBlock(size_t entries, size_t width, bool dosages, bool probabilities, GenotypeBlock& block) {
  block.entries = entries;
  block.width = width;
  block.dosages = dosages;
  block.probabilities = dosages && probabilities;
  if (block.probabilities) block.variances.assign(width, 0.0);
  block.values.resize(block.entries * width);
  block.sums.assign(width, 0.0);
  block.missing.assign(width, 0);
  if (block.dosages) block.squares.assign(width, 0.0);
  block.wholeCalls.assign(width, 1);
}

// The marker of a SNP of the run: a streamed run's is read from the files,
// as its rows' markers are those of the window.
Marker markerOf(GenotypeStore& store, size_t snp) {
  if (!store.streaming()) return store.markers[snp];
  std::vector<Marker> one;
  store.markerStream()->read(snp, 1, one);
  return one.front();
}

}  // namespace

void readBlock(const GenotypeStore& store, const Cohort& cohort, const std::vector<GenotypeEntry>& entries,
               size_t firstSnp, size_t count, size_t width, GenotypeBlock& block) {
  const size_t n = entries.size();
  const size_t bytes = (count + 3) / 4;
  // The entries' rows, looked up once for the call; kept per thread so that
  // no block allocates them.
  thread_local std::vector<const GenotypeRow*> rows;
  rows.resize(n);
  bool dosages = false, variances = true;
  for (size_t i = 0; i < n; ++i) {
    rows[i] = &rowOf(cohort, entries[i]);
    dosages = dosages || rows[i]->dosages != nullptr;
    variances = variances && knownVariance(cohort, entries[i]);
  }
  shapeBlock(n, width, dosages, variances, block);
  block.snps.resize(count);
  std::iota(block.snps.begin(), block.snps.end(), firstSnp);
  const size_t firstSlot = firstSnp - store.firstRowSnp();
  block.fill.resize(count);
  block.markers.resize(count);
  for (size_t j = 0; j < count; ++j) {
    block.fill[j] = store.missingValue(firstSnp + j);
    block.markers[j] = store.markers[firstSlot + j];
  }
  const size_t firstByte = firstSlot / 4;
  constexpr size_t kAhead = 8;  // rows whose bytes are fetched ahead
  unsigned fractions[kWidestBlock] = {};
  for (size_t i = 0; i < n; ++i) {
    double* out = block.values.data() + i * width;
    if (rows[i]->dosages != nullptr) {
      if (i + kAhead < n && rows[i + kAhead]->dosages != nullptr) {
        prefetchDosages(rows[i + kAhead]->dosages + firstSlot, count);
      }
      // The zero columns past `count` add nothing to their sums.
      decodeDosages(rows[i]->dosages + firstSlot, count, block.fill.data(),
                    {out, block.missing.data(), fractions, block.sums.data(), block.squares.data()});
      if (block.probabilities && rows[i]->variances != nullptr) {
        addVariances(rows[i]->dosages + firstSlot, rows[i]->variances + firstSlot, count, block.variances.data());
      }
      std::fill(out + count, out + width, 0.0);
      continue;
    }
    if (i + kAhead < n) __builtin_prefetch(rows[i + kAhead]->codes + firstByte);
    const unsigned char* row = rows[i]->codes + firstByte;
    decodeCodes(row, count, block.fill.data(), out, block.sums.data());
    if (block.countMissing || block.probabilities) countMissingCodes(row, bytes, block.missing.data());
    std::fill(out + count, out + width, 0.0);
    if (dosages) addSquares(block.squares.data(), out, width);
  }
  for (size_t j = 0; j < count; ++j) block.wholeCalls[j] = fractions[j] == 0;
}

void readSnps(GenotypeStore& store, Cohort& cohort, const std::vector<GenotypeEntry>& entries,
              const std::vector<size_t>& snps, GenotypeBlock& block) {
  const size_t count = snps.size();
  shapeBlock(entries.size(), count, anyDosages(cohort, entries), allVariances(cohort, entries), block);
  block.snps = snps;
  block.fill.resize(count);
  block.markers.resize(count);
  // Column by column, each in entry order: the sums come out as a block's.
  for (size_t k = 0; k < count; ++k) {
    size_t slot = snps[k];
    if (store.streaming()) {
      store.holdStreamedRows(cohort, 1);
      store.fillRows(cohort, &snps[k], 1, snps[k]);
      slot = 0;
    }
    block.fill[k] = store.missingValue(snps[k]);
    block.markers[k] = markerOf(store, snps[k]);
    for (size_t i = 0; i < entries.size(); ++i) {
      const GenotypeRow& own = rowOf(cohort, entries[i]);
      double value = 0;
      bool absent = false;
      if (own.dosages != nullptr) {
        absent = own.dosages[slot] == kMissingDosage;
        value = absent ? block.fill[k] : dosageCopies(own.dosages[slot]);
        if (fractionOf(own.dosages[slot]) != 0) block.wholeCalls[k] = 0;
        if (block.probabilities && own.variances != nullptr && !absent) {
          block.variances[k] += varianceOf(own.variances[slot]);
        }
      } else {
        const int code = genotypeCode(own.codes, slot);
        absent = code == 3;
        value = absent ? block.fill[k] : code;
      }
      block.missing[k] += absent;
      block.values[i * count + k] = value;
      block.sums[k] += value;
      if (block.dosages) block.squares[k] += value * value;
    }
  }
}

double GenotypeBlock::imputationInfo(size_t j) const {
  const double n = static_cast<double>(entries);
  if (probabilities) return probabilityInfo(sums[j], variances[j], static_cast<double>(missing[j]), n);
  return machInfo(sums[j], squares[j], n);
}

GenotypeBlock residentBlock(GenotypeStore& store, Cohort& cohort, const std::vector<GenotypeEntry>& entries,
                            const std::vector<size_t>& snps) {
  GenotypeBlock block;
  readSnps(store, cohort, entries, snps, block);
  return block;
}

}  // namespace ombra
