#include "formats/GenotypeStream.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>

#include "core/SharedWork.h"
#include "formats/SourceLoader.h"

namespace ombra {

namespace {

// As shareWork, but the failure rethrown is that of the lowest unit that
// failed, the one a single thread meets first: the message of a damaged
// file does not depend on the threads. Units past a failed one are skipped.
template <class Body>
void shareInOrder(size_t units, size_t threads, Body&& body) {
  std::mutex guard;
  size_t firstFailed = SIZE_MAX;
  std::exception_ptr failure;
  std::atomic<size_t> stopAt{SIZE_MAX};
  shareWork(units, threads, [&](size_t unit, size_t worker) {
    if (unit > stopAt.load()) return;
    try {
      body(unit, worker);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(guard);
      if (unit < firstFailed) {
        firstFailed = unit;
        failure = std::current_exception();
        stopAt = unit;
      }
    }
  });
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

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
  spareShare = 0;
  variancesAttached = false;
}

void GenotypeStream::attachVariances(const std::vector<GenotypeRow>& rowOfIndividual) {
  for (size_t i = 0; i < targets.size() && i < rowOfIndividual.size(); ++i) {
    if (!leftOut[i]) targets[i].variances = rowOfIndividual[i].variances;
  }
  variancesAttached = true;
}

size_t GenotypeStream::placeShare(size_t threads) const {
  return 4 * columnBytes((source->sampleCount() + threads - 1) / threads);
}

// One spare row per share of place(), so that no two threads write to one.
void GenotypeStream::prepareSpare(size_t snps, size_t share) {
  const size_t parts = (source->sampleCount() + share - 1) / share;
  const size_t bytes = columnBytes(snps);
  if (share == spareShare && spare.size() >= parts * bytes && (!hasDosages() || spareDosages.size() >= parts * snps) &&
      (!hasVariances() || spareVariances.size() >= parts * snps)) {
    return;
  }
  spare.assign(parts * bytes, 0);
  if (hasDosages()) spareDosages.assign(parts * snps, 0);
  if (hasVariances()) spareVariances.assign(parts * snps, 0);
  spareShare = share;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!leftOut[i]) continue;
    targets[i].codes = spare.data() + (i / share) * bytes;
    if (hasDosages()) targets[i].dosages = spareDosages.data() + (i / share) * snps;
    if (hasVariances()) targets[i].variances = spareVariances.data() + (i / share) * snps;
  }
}

void GenotypeStream::fill(const size_t* snps, size_t count, size_t threads) {
  const size_t samples = source->sampleCount();
  if (samples == 0 || count == 0) return;
  threads = std::max<size_t>(1, threads);
  prepareSpare(count, placeShare(threads));
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
    runs.clear();
    if (!matched.empty()) {
      chunkSnps.resize(chunk);
      for (size_t j = 0; j < chunk; ++j) chunkSnps[j] = fileSnp(done + j);
      planMatched(chunkSnps);
    } else {
      // Consecutive SNPs of the file come in one read.
      for (size_t j = 0; j < chunk;) {
        const size_t first = fileSnp(done + j);
        size_t length = 1;
        while (j + length < chunk && fileSnp(done + j + length) == first + length) ++length;
        runs.push_back(Run{first, length, j});
        j += length;
      }
    }
    readRuns(threads);
    place(chunk, done, threads);
  }
}

// Another data set's order may run backwards through this file, which a
// source that streams its file reads again from the start: each chunk is
// read in the file's order instead.
void GenotypeStream::planMatched(const std::vector<size_t>& fileSnps) {
  order.clear();
  for (size_t j = 0; j < fileSnps.size(); ++j) order.emplace_back(fileSnps[j], j);
  std::sort(order.begin(), order.end());
  for (size_t k = 0; k < order.size();) {
    size_t length = 1;
    while (k + length < order.size() && order[k + length].first == order[k].first + length &&
           order[k + length].second == order[k].second + length) {
      ++length;
    }
    runs.push_back(Run{order[k].first, length, order[k].second});
    k += length;
  }
}

void GenotypeStream::readRuns(size_t threads) {
  const size_t readers = std::min(threads, source->concurrentReaders());
  if (readers <= 1) {
    for (const Run& run : runs) readRun(run, nullptr);
    return;
  }
  // Pieces of a few SNPs, several per thread, so that the threads end
  // together; each SNP is decoded alone, so the pieces change no number.
  size_t total = 0;
  for (const Run& run : runs) total += run.length;
  const size_t most = std::max<size_t>(1, total / (4 * readers));
  std::vector<Run> pieces;
  for (const Run& run : runs) {
    for (size_t at = 0; at < run.length; at += most) {
      pieces.push_back(Run{run.first + at, std::min(most, run.length - at), run.slot + at});
    }
  }
  source->prepareReaders(readers);
  shareInOrder(pieces.size(), readers, [&](size_t piece, size_t worker) { readRun(pieces[piece], &worker); });
}

void GenotypeStream::readRun(const Run& run, const size_t* reader) {
  const size_t samples = source->sampleCount();
  const size_t stride = columnBytes(samples);
  unsigned char* codes = staged.data() + run.slot * stride;
  uint16_t* dosages = hasDosages() ? stagedDosages.data() + run.slot * samples : nullptr;
  uint16_t* variances = hasVariances() ? stagedVariances.data() + run.slot * samples : nullptr;
  if (reader != nullptr) {
    source->readDosagesBy(*reader, run.first, run.length, codes, dosages, variances);
  } else if (hasDosages()) {
    source->readDosages(run.first, run.length, codes, dosages, variances);
  } else {
    source->readSnps(run.first, run.length, codes);
  }
  for (size_t k = 0; k < run.length && !swapsAlleles.empty(); ++k) {
    if (run.first + k >= swapsAlleles.size() || !swapsAlleles[run.first + k]) continue;
    swapColumn(codes + k * stride);
    if (hasDosages()) swapDosages(dosages + k * samples);
  }
}

void GenotypeStream::place(size_t count, size_t firstSlot, size_t threads) {
  const size_t samples = source->sampleCount();
  const size_t stride = columnBytes(samples);
  const size_t groups = (count + 3) / 4;
  std::fill(staged.begin() + static_cast<std::ptrdiff_t>(count * stride),
            staged.begin() + static_cast<std::ptrdiff_t>(groups * 4 * stride), 0);
  const bool variances = hasVariances() && holdVariances(count);
  // Whole bytes of codes per thread: each row is written by one thread.
  const size_t share = placeShare(threads);
  const size_t parts = (samples + share - 1) / share;
  shareInOrder(parts, threads, [&](size_t part, size_t) {
    const SampleSpan span{part * share, std::min(samples, (part + 1) * share)};
    columnsToRows(staged.data(), groups, samples, targets, firstSlot / 4, span);
    if (hasDosages()) dosageColumnsToRows(stagedDosages.data(), count, samples, targets, firstSlot, span);
    if (variances) {
      dosageColumnsToRows(stagedVariances.data(), count, samples, targets, firstSlot, span, &GenotypeRow::variances);
    }
  });
}

bool GenotypeStream::holdVariances(size_t count) {
  const size_t values = count * source->sampleCount();
  if (!variancesAttached && giveVariances &&
      std::any_of(stagedVariances.begin(), stagedVariances.begin() + static_cast<std::ptrdiff_t>(values),
                  [](uint16_t variance) { return variance != 0; })) {
    giveVariances();
  }
  return variancesAttached;
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
