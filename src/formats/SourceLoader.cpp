#include "formats/SourceLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ombra {

namespace {

// SNPs per block: a multiple of 4, so that every block fills whole bytes of
// the rows, and about 8 MB of codes whatever the sample count.
size_t blockSnps(size_t samples) {
  const size_t bytes = std::max<size_t>(columnBytes(samples), 1);
  const size_t snps = (size_t{8} << 20) / bytes;
  return std::max<size_t>(4, snps / 4 * 4);
}

// The four codes of a column byte (individuals t = 0..3) moved to the top
// bits of byte 3 - t of a word: shifted right by 2k, the codes of SNP k of a
// group take their place in each individual's row byte.
const struct SpreadTable {
  uint32_t word[256];
  SpreadTable() : word() {
    for (unsigned b = 0; b < 256; ++b) {
      for (unsigned t = 0; t < 4; ++t) word[b] |= ((b >> (6 - 2 * t)) & 3u) << (8 * (3 - t) + 6);
    }
  }
} kSpread;

// Moves the codes of SNPs first .. first + count - 1 (a SNP-major block,
// first a multiple of 4) into the individual-major rows, a tile of four
// SNPs by four individuals at a time.
void transposeBlock(const unsigned char* block, size_t samples, size_t first, size_t count, std::vector<Index>& rows) {
  const size_t column = columnBytes(samples);
  const std::vector<unsigned char> absent(column, 0);  // SNPs past the block's end
  for (size_t j = 0; j < count; j += 4) {
    const unsigned char* columns[4];
    for (size_t k = 0; k < 4; ++k) columns[k] = j + k < count ? block + (j + k) * column : absent.data();
    const size_t byte = (first + j) / 4;
    for (size_t q = 0; q < column; ++q) {
      const uint32_t word = kSpread.word[columns[0][q]] | kSpread.word[columns[1][q]] >> 2 |
                            kSpread.word[columns[2][q]] >> 4 | kSpread.word[columns[3][q]] >> 6;
      const size_t individuals = std::min<size_t>(4, samples - 4 * q);
      for (size_t t = 0; t < individuals; ++t) rows[4 * q + t].geno[byte] = static_cast<unsigned char>(word >> (8 * (3 - t)));
    }
  }
}

}  // namespace

void loadRows(GenotypeSource& source, MemoryClass<char>& tracker, std::vector<Index>& rows) {
  const size_t samples = source.sampleCount();
  const size_t snps = source.markers().size();
  const int length = rowBytes(static_cast<long>(snps));
  requireMemory(static_cast<double>(samples) * length,
                "The genotypes of " + std::to_string(samples) + " individuals and " + std::to_string(snps) + " snps",
                "Please use a machine with more memory, or fewer snps or individuals.");
  rows.clear();
  rows.reserve(samples);
  for (size_t i = 0; i < samples; ++i) {
    char* block = nullptr;
    tracker.Vector(block, length);
    if (block == nullptr) stopRun("Out of memory while storing the genotypes of individual " + std::to_string(i + 1) + ".\n");
    std::memset(block, 0, static_cast<size_t>(length));
    rows.push_back(Index{static_cast<int>(i), reinterpret_cast<unsigned char*>(block)});
  }
  const size_t step = blockSnps(samples);
  // Never empty, so that a source is always handed a real buffer.
  std::vector<unsigned char> codes(std::max<size_t>(1, std::min(step, snps) * columnBytes(samples)));
  for (size_t first = 0; first < snps; first += step) {
    const size_t count = std::min(step, snps - first);
    source.readSnps(first, count, codes.data());
    transposeBlock(codes.data(), samples, first, count, rows);
  }
}

}  // namespace ombra
