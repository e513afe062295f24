#include "formats/GenotypeStream.h"

#include <algorithm>

#include "formats/SourceLoader.h"

namespace ombra {

GenotypeStream::GenotypeStream(std::unique_ptr<GenotypeSource> genotypes) : source(std::move(genotypes)) {}

void GenotypeStream::keepSnps(SnpRuns kept) {
  keptSnps = std::move(kept);
  selected = true;
}

void GenotypeStream::swapAlleles(std::vector<bool> swapped) { swapsAlleles = std::move(swapped); }

void GenotypeStream::attachRows(const std::vector<GenotypeRow>& rowOfIndividual) {
  const size_t samples = source->sampleCount();
  targets.assign(samples, GenotypeRow{});
  leftOut.assign(samples, 1);
  for (size_t i = 0; i < samples && i < rowOfIndividual.size(); ++i) {
    targets[i] = rowOfIndividual[i];
    targets[i].seq = static_cast<int>(i);
    leftOut[i] = rowOfIndividual[i].codes == nullptr;
  }
  spare.clear();
  spareDosages.clear();
  spareVariances.clear();
  variancesAttached = false;
}

void GenotypeStream::attachVariances(const std::vector<GenotypeRow>& rowOfIndividual) {
  for (size_t i = 0; i < targets.size() && i < rowOfIndividual.size(); ++i) {
    if (!leftOut[i]) targets[i].variances = rowOfIndividual[i].variances;
  }
  variancesAttached = true;
}

void GenotypeStream::prepareSpare(size_t snps) {
  if (spare.size() >= columnBytes(snps) && (!hasDosages() || spareDosages.size() >= snps) &&
      (!hasVariances() || spareVariances.size() >= snps)) {
    return;
  }
  spare.resize(columnBytes(snps));
  if (hasDosages()) spareDosages.resize(snps);
  if (hasVariances()) spareVariances.resize(snps);
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!leftOut[i]) continue;
    targets[i].codes = spare.data();
    if (hasDosages()) targets[i].dosages = spareDosages.data();
    if (hasVariances()) targets[i].variances = spareVariances.data();
  }
}

void GenotypeStream::fill(const size_t* snps, size_t count) {
  const size_t samples = source->sampleCount();
  if (samples == 0 || count == 0) return;
  prepareSpare(count);
  const size_t stride = columnBytes(samples);
  const size_t perBlock = snpsPerBlock(samples);
  staged.resize(perBlock * stride);
  if (hasDosages()) stagedDosages.resize(perBlock * samples);
  if (hasVariances()) stagedVariances.resize(perBlock * samples);
  const auto fileSnp = [&](size_t k) {
    const size_t snp = selected ? keptSnps.fileSnp(snps[k]) : snps[k];
    return matched.empty() ? snp : matched[snp];
  };
  for (size_t done = 0; done < count; done += perBlock) {
    const size_t chunk = std::min(perBlock, count - done);
    if (!matched.empty()) {
      chunkSnps.resize(chunk);
      for (size_t j = 0; j < chunk; ++j) chunkSnps[j] = fileSnp(done + j);
      stageMatched(chunkSnps);
      place(chunk, done);
      continue;
    }
    // Consecutive SNPs of the file come in one read.
    for (size_t j = 0; j < chunk;) {
      const size_t first = fileSnp(done + j);
      size_t length = 1;
      while (j + length < chunk && fileSnp(done + j + length) == first + length) ++length;
      readRun(first, length, j);
      j += length;
    }
    place(chunk, done);
  }
}

// Another data set's order may run backwards through this file, which a
// source that streams its file reads again from the start: each chunk is
// read in the file's order instead.
void GenotypeStream::stageMatched(const std::vector<size_t>& fileSnps) {
  order.clear();
  for (size_t j = 0; j < fileSnps.size(); ++j) order.emplace_back(fileSnps[j], j);
  std::sort(order.begin(), order.end());
  for (size_t k = 0; k < order.size();) {
    size_t length = 1;
    while (k + length < order.size() && order[k + length].first == order[k].first + length &&
           order[k + length].second == order[k].second + length) {
      ++length;
    }
    readRun(order[k].first, length, order[k].second);
    k += length;
  }
}

void GenotypeStream::readRun(size_t first, size_t length, size_t slot) {
  const size_t samples = source->sampleCount();
  const size_t stride = columnBytes(samples);
  if (hasDosages()) {
    source->readDosages(first, length, staged.data() + slot * stride, stagedDosages.data() + slot * samples,
                        hasVariances() ? stagedVariances.data() + slot * samples : nullptr);
  } else {
    source->readSnps(first, length, staged.data() + slot * stride);
  }
  for (size_t k = 0; k < length && !swapsAlleles.empty(); ++k) {
    if (first + k >= swapsAlleles.size() || !swapsAlleles[first + k]) continue;
    swapColumn(staged.data() + (slot + k) * stride);
    if (hasDosages()) swapDosages(stagedDosages.data() + (slot + k) * samples);
  }
}

void GenotypeStream::place(size_t count, size_t firstSlot) {
  const size_t stride = columnBytes(source->sampleCount());
  const size_t groups = (count + 3) / 4;
  std::fill(staged.begin() + static_cast<std::ptrdiff_t>(count * stride),
            staged.begin() + static_cast<std::ptrdiff_t>(groups * 4 * stride), 0);
  columnsToRows(staged.data(), groups, source->sampleCount(), targets, firstSlot / 4);
  if (hasDosages()) dosageColumnsToRows(stagedDosages.data(), count, source->sampleCount(), targets, firstSlot);
  if (hasVariances()) placeVariances(count, firstSlot);
}

void GenotypeStream::placeVariances(size_t count, size_t firstSlot) {
  const size_t values = count * source->sampleCount();
  if (!variancesAttached && giveVariances &&
      std::any_of(stagedVariances.begin(), stagedVariances.begin() + static_cast<std::ptrdiff_t>(values),
                  [](uint16_t variance) { return variance != 0; })) {
    giveVariances();
  }
  if (variancesAttached) {
    dosageColumnsToRows(stagedVariances.data(), count, source->sampleCount(), targets, firstSlot,
                        &GenotypeRow::variances);
  }
}

void GenotypeStream::swapDosages(uint16_t* column) const {
  for (size_t i = 0; i < source->sampleCount(); ++i) column[i] = otherAlleleDosage(column[i]);
}

// Codes 0 and 2 have a low bit of 0 and swap by flipping their high bit;
// 1 and 3 stay. The padding slots of the last byte stay 0.
void GenotypeStream::swapColumn(unsigned char* column) const {
  const size_t samples = source->sampleCount();
  const size_t bytes = columnBytes(samples);
  for (size_t b = 0; b < bytes; ++b) column[b] ^= static_cast<unsigned char>((~column[b] & 0x55) << 1);
  if (samples % 4 != 0) column[bytes - 1] &= static_cast<unsigned char>(0xFF << (2 * (4 - samples % 4)));
}

}  // namespace ombra
