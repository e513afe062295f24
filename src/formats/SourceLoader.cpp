#include "formats/SourceLoader.h"

#include <algorithm>
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

// Moves the codes of SNPs first .. first + count - 1 (a SNP-major block,
// first a multiple of 4) into the individual-major rows, four SNPs (one
// byte of every row) at a time.
void transposeBlock(const unsigned char* block, size_t samples, size_t first, size_t count, std::vector<Index>& rows) {
  const size_t column = columnBytes(samples);
  for (size_t j = 0; j < count; j += 4) {
    const size_t group = std::min<size_t>(4, count - j);
    const unsigned char* columns[4];
    for (size_t k = 0; k < 4; ++k) columns[k] = block + (j + std::min(k, group - 1)) * column;
    const size_t byte = (first + j) / 4;
    for (size_t i = 0; i < samples; ++i) {
      const unsigned shift = 2 * (3 - static_cast<unsigned>(i % 4));
      unsigned packed = 0;
      for (size_t k = 0; k < 4; ++k) {
        const unsigned code = k < group ? (columns[k][i / 4] >> shift) & 3u : 0u;
        packed = (packed << 2) | code;
      }
      rows[i].geno[byte] = static_cast<unsigned char>(packed);
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
  std::vector<unsigned char> codes(std::min(step, snps) * columnBytes(samples));
  for (size_t first = 0; first < snps; first += step) {
    const size_t count = std::min(step, snps - first);
    source.readSnps(first, count, codes.data());
    transposeBlock(codes.data(), samples, first, count, rows);
  }
}

}  // namespace ombra
