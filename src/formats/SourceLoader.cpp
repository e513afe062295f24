#include "formats/SourceLoader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string>

#include "core/ResourceLimits.h"
#include "core/RunEnd.h"
#include "core/Memory.h"
#include "core/Text.h"

namespace ombra {

namespace {

// Byte k of spread[c] is the code in slot k of the packed byte c (slot 0 in
// the top bits). Four such words, shifted by 6, 4, 2 and 0 bits and or-ed,
// transpose a 4 x 4 tile of codes: byte k of the result packs slot k of the
// four inputs. The same tile turns four column bytes into four row bytes
// and four row bytes into four column bytes.
struct Tables {
  std::array<uint32_t, 256> spread{};
  std::array<unsigned char, 256> copies{};
  Tables() {
    for (unsigned c = 0; c < 256; ++c) {
      uint32_t word = 0;
      unsigned count = 0;
      for (unsigned k = 0; k < 4; ++k) {
        const unsigned code = (c >> (2 * (3 - k))) & 3;
        word |= static_cast<uint32_t>(code) << (8 * k);
        if (code != 3) count += code;
      }
      spread[c] = word;
      copies[c] = static_cast<unsigned char>(count);
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline uint32_t transposeTile(const std::array<uint32_t, 256>& spread, unsigned char a, unsigned char b,
                              unsigned char c, unsigned char d) {
  return (spread[a] << 6) | (spread[b] << 4) | (spread[c] << 2) | spread[d];
}


}  // namespace

void columnsToRows(const unsigned char* block, size_t groups, size_t samples, std::vector<GenotypeRow>& rows,
                   size_t firstByte, SampleSpan span) {
  const std::array<uint32_t, 256>& spread = tables().spread;
  const size_t stride = columnBytes(samples);
  const size_t end = columnBytes(std::min(span.to, samples));
  for (size_t b = span.from / 4; b < end; ++b) {
    const size_t members = std::min<size_t>(4, samples - 4 * b);
    unsigned char* dest[4] = {nullptr, nullptr, nullptr, nullptr};
    for (size_t k = 0; k < members; ++k) dest[k] = rows[4 * b + k].codes + firstByte;
    const unsigned char* column = block + b;
    for (size_t g = 0; g < groups; ++g, column += 4 * stride) {
      const uint32_t word = transposeTile(spread, column[0], column[stride], column[2 * stride], column[3 * stride]);
      for (size_t k = 0; k < members; ++k) dest[k][g] = static_cast<unsigned char>(word >> (8 * k));
    }
  }
}

size_t snpsPerBlock(size_t samples) {
  const size_t bytes = std::max<size_t>(1, columnBytes(samples));
  const size_t fit = (size_t{4} << 20) / bytes;
  return std::max<size_t>(4, std::min<size_t>(2048, fit) / 4 * 4);
}

uint64_t allele2Copies(const unsigned char* codes, size_t bytes) {
  const std::array<unsigned char, 256>& copies = tables().copies;
  uint64_t total = 0;
  for (size_t b = 0; b < bytes; ++b) total += copies[codes[b]];
  return total;
}

namespace {

// A row of `snps` 16-bit slots from `tracker` for individual `i`.
uint16_t* slotRow(MemoryClass<char>& tracker, size_t snps, size_t i) {
  char* row = nullptr;
  tracker.Vector(row, static_cast<int>(2 * std::max<size_t>(snps, 1)));
  if (row == nullptr) {
    stopRun("Out of memory while storing the genotypes of individual " + std::to_string(i + 1) + ".\n");
  }
  return reinterpret_cast<uint16_t*>(row);
}

// Gives every row a variance row of `snps` slots, its first `filled` ones
// (SNPs of certain calls) 0.
void holdVarianceRows(MemoryClass<char>& tracker, size_t snps, size_t filled, std::vector<GenotypeRow>& rows) {
  requireMemory(2.0 * static_cast<double>(rows.size()) * static_cast<double>(snps),
                "The genotype probabilities' variances of " + std::to_string(rows.size()) + " individuals and " +
                    std::to_string(snps) + " snps",
                moreMemoryAdvice() + ", or fewer snps or individuals, or the fixed layout without --minfo.");
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].variances = slotRow(tracker, snps, i);
    std::fill(rows[i].variances, rows[i].variances + filled, 0);
  }
}

// Places `count` SNP columns of variances into the rows from slot `first`
// on. Certain calls need no variances: the rows get them at the first that
// is not 0, so that hard calls cost no more memory.
void placeVariances(const uint16_t* block, size_t count, size_t snps, size_t first, MemoryClass<char>& tracker,
                    std::vector<GenotypeRow>& rows) {
  const size_t values = count * rows.size();
  if (rows[0].variances == nullptr && std::any_of(block, block + values, [](uint16_t v) { return v != 0; })) {
    holdVarianceRows(tracker, snps, first, rows);
  }
  if (rows[0].variances == nullptr) return;
  dosageColumnsToRows(block, count, rows.size(), rows, first, SampleSpan{}, &GenotypeRow::variances);
}

}  // namespace

void loadRows(GenotypeSource& source, MemoryClass<char>& tracker, std::vector<GenotypeRow>& rows) {
  const size_t samples = source.sampleCount();
  const size_t snps = source.markers().size();
  const size_t length = (snps + 3) / 4;
  if (length > static_cast<size_t>(INT_MAX) || samples > static_cast<size_t>(INT_MAX)) {
    stopRun("The data set has more individuals or snps than this program can hold.\n");
  }
  const bool dosages = source.hasDosages();
  const bool variances = dosages && source.givesVariances();
  requireMemory(static_cast<double>(samples) * (static_cast<double>(length) + (dosages ? 2.0 * snps : 0.0)),
                "The genotypes of " + std::to_string(samples) + " individuals and " + std::to_string(snps) + " snps",
                moreMemoryAdvice() + ", or fewer snps or individuals.");
  rows.clear();
  rows.reserve(samples);
  for (size_t i = 0; i < samples; ++i) {
    char* row = nullptr;
    tracker.Vector(row, static_cast<int>(length));
    if (row == nullptr) stopRun("Out of memory while storing the genotypes of individual " + std::to_string(i + 1) + ".\n");
    rows.push_back(GenotypeRow{static_cast<int>(i), reinterpret_cast<unsigned char*>(row), static_cast<int>(i)});
    if (dosages) rows.back().dosages = slotRow(tracker, snps, i);
  }
  if (samples == 0) return;
  const size_t perBlock = snpsPerBlock(samples);
  const size_t stride = columnBytes(samples);
  std::vector<unsigned char> block(perBlock * stride);
  std::vector<uint16_t> dosageBlock(dosages ? perBlock * samples : 0);
  std::vector<uint16_t> varianceBlock(variances ? perBlock * samples : 0);
  for (size_t first = 0; first < snps; first += perBlock) {
    const size_t count = std::min(perBlock, snps - first);
    if (dosages) {
      source.readDosages(first, count, block.data(), dosageBlock.data(), variances ? varianceBlock.data() : nullptr);
      dosageColumnsToRows(dosageBlock.data(), count, samples, rows, first);
      if (variances) placeVariances(varianceBlock.data(), count, snps, first, tracker, rows);
    } else {
      source.readSnps(first, count, block.data());
    }
    const size_t groups = (count + 3) / 4;
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(count * stride),
              block.begin() + static_cast<std::ptrdiff_t>(groups * 4 * stride), 0);
    columnsToRows(block.data(), groups, samples, rows, first / 4);
  }
}

void dosageColumnsToRows(const uint16_t* block, size_t count, size_t samples, std::vector<GenotypeRow>& rows,
                         size_t firstSlot, SampleSpan span, uint16_t* GenotypeRow::*slots) {
  // Sixteen individuals at a time: each SNP's cache line of their dosages
  // is read once, and sixteen rows are written side by side.
  constexpr size_t kTile = 16;
  const size_t end = std::min(span.to, samples);
  for (size_t first = span.from; first < end; first += kTile) {
    const size_t members = std::min(kTile, end - first);
    uint16_t* row[kTile];
    for (size_t k = 0; k < members; ++k) row[k] = rows[first + k].*slots + firstSlot;
    for (size_t j = 0; j < count; ++j) {
      const uint16_t* column = block + j * samples + first;
      for (size_t k = 0; k < members; ++k) row[k][j] = column[k];
    }
  }
}

void rowsToColumns(const std::vector<const unsigned char*>& rows, size_t first, size_t count, unsigned char* out) {
  const std::array<uint32_t, 256>& spread = tables().spread;
  const size_t samples = rows.size();
  const size_t stride = columnBytes(samples);
  const size_t firstByte = first / 4;
  const size_t fullGroups = count / 4;
  const size_t tail = count % 4;
  for (size_t b = 0; b < stride; ++b) {
    const size_t members = std::min<size_t>(4, samples - 4 * b);
    static const unsigned char kZero[1] = {0};
    const unsigned char* source[4] = {kZero, kZero, kZero, kZero};
    size_t step[4] = {0, 0, 0, 0};
    for (size_t k = 0; k < members; ++k) {
      source[k] = rows[4 * b + k] + firstByte;
      step[k] = 1;
    }
    unsigned char* column = out + b;
    for (size_t g = 0; g < fullGroups; ++g, column += 4 * stride) {
      const uint32_t word = transposeTile(spread, source[0][g * step[0]], source[1][g * step[1]],
                                          source[2][g * step[2]], source[3][g * step[3]]);
      for (size_t j = 0; j < 4; ++j) column[j * stride] = static_cast<unsigned char>(word >> (8 * j));
    }
    if (tail == 0) continue;
    const size_t g = fullGroups;
    const uint32_t word = transposeTile(spread, source[0][g * step[0]], source[1][g * step[1]],
                                        source[2][g * step[2]], source[3][g * step[3]]);
    for (size_t j = 0; j < tail; ++j) column[j * stride] = static_cast<unsigned char>(word >> (8 * j));
  }
}

}  // namespace ombra
