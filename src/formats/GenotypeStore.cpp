#include "formats/GenotypeStore.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <numeric>

#include "core/ResourceLimits.h"
#include "core/Memory.h"
#include "core/RunEnd.h"
#include "formats/AlleleTable.h"
#include "formats/DosageCounts.h"

namespace ombra {

namespace {

// The rows of a window stay within this many bytes in all.
constexpr double kWindowBytes = 256.0 * 1024 * 1024;
constexpr size_t kWindowBlocksPerThread = 8;

}  // namespace

size_t GenotypeStore::markerCount() const {
  if (!streamed) return markers.size();
  return markersRead ? markersRead->size() : 0;
}

void GenotypeStore::forEachMarker(const std::function<void(size_t, const Marker&)>& visit) {
  if (streamed) {
    if (markersRead) markersRead->forEach(visit);
    return;
  }
  for (size_t s = 0; s < markers.size(); ++s) visit(s, markers[s]);
}

double GenotypeStore::missingValue(size_t snp) const {
  if (adjustment == Adjustment::kIntercept) return meanDosage[snp - rowFirstSnp];
  return markers[snp].allele2Count / static_cast<double>(2 * alleleCountBase);
}

double GenotypeStore::value(const DataSet& set, int seq, size_t snp) const {
  if (seq < 0 || seq >= set.size) stopRun("The index of given individual is not correct");
  const GenotypeRow& row = set.rows[static_cast<size_t>(seq)];
  if (row.dosages != nullptr) {
    const uint16_t dosage = row.dosages[snp];
    return dosage != kMissingDosage ? dosageCopies(dosage) : missingValue(snp);
  }
  const int code = genotypeCode(row.codes, snp);
  return code != 3 ? code : missingValue(snp);
}

void GenotypeStore::computeMeanDosages(const Cohort& cohort, size_t snps, size_t threads) {
  meanDosages(cohortDosageCounts(cohort, snps, threads), meanDosage);
}

uint16_t* GenotypeStore::newDosageRow(size_t snps) {
  if (2 * snps > static_cast<size_t>(INT_MAX)) return nullptr;
  return reinterpret_cast<uint16_t*>(newRow(static_cast<int>(2 * std::max<size_t>(snps, 1))));
}

unsigned char* GenotypeStore::newRow(int bytes) {
  char* block = nullptr;
  rows.Vector(block, bytes);
  return reinterpret_cast<unsigned char*>(block);
}

void GenotypeStore::freeRow(unsigned char* row) { rows.FreeVector(reinterpret_cast<char*>(row)); }

void GenotypeStore::releaseRows(Cohort& cohort) {
  for (DataSet* set : {&cohort.family, &cohort.unrelated}) {
    for (GenotypeRow& row : set->rows) {
      freeRow(row.codes);
      row.codes = nullptr;
      if (row.dosages != nullptr) freeRow(reinterpret_cast<unsigned char*>(row.dosages));
      row.dosages = nullptr;
      if (row.variances != nullptr) freeRow(reinterpret_cast<unsigned char*>(row.variances));
      row.variances = nullptr;
    }
  }
}

void GenotypeStore::streamMarkers(std::unique_ptr<MarkerReader> reader) {
  markersRead = std::make_shared<MarkerStream>(std::move(reader));
  std::cout << "Total " << markersRead->fileCount() << " snps are read. \n\n";
}

bool GenotypeStore::joinMarkers(std::unique_ptr<MarkerReader>& reader, const MarkerStream::Same& same,
                                std::vector<bool>& swapped) {
  if (!markersRead->join(reader, codesCountFirstAllele, same)) return false;
  swapped = markersRead->swaps();
  return true;
}

std::vector<Marker> GenotypeStore::streamedMarkers() {
  std::vector<Marker> list;
  markersRead->forEach([&list](size_t, const Marker& marker) { list.push_back(marker); });
  return list;
}

void GenotypeStore::matchStreamedMarkers(std::vector<Marker> shared, std::vector<size_t> familySnps) {
  markersRead = std::make_shared<MarkerStream>(std::make_unique<MarkerList>(std::move(shared)));
  if (streams[0]) streams[0]->matchSnps(std::move(familySnps));
}

void GenotypeStore::startStream(DataSet& set, std::unique_ptr<GenotypeSource> source, std::vector<bool> swapped) {
  const size_t samples = source->sampleCount();
  set.rows.clear();
  for (size_t i = 0; i < samples; ++i) {
    set.rows.push_back(GenotypeRow{static_cast<int>(i), nullptr, static_cast<int>(i)});
  }
  auto stream = std::make_shared<GenotypeStream>(std::move(source));
  stream->swapAlleles(std::move(swapped));
  streams[set.unrelated() ? 1 : 0] = std::move(stream);
}

void GenotypeStore::holdStreamedRows(Cohort& cohort, size_t snps) {
  if (snps <= rowCapacity) return;
  const int bytes = rowBytes(static_cast<long>(snps));
  const size_t people = cohort.family.rows.size() + cohort.unrelated.rows.size();
  requireMemory(static_cast<double>(people) * (bytes + (holdsDosages() ? 2.0 * snps : 0.0)),
                "The genotypes of " + std::to_string(people) + " individuals and " + std::to_string(snps) + " snps",
                moreMemoryAdvice() + ", or fewer snps or individuals.");
  releaseRows(cohort);
  for (DataSet* set : {&cohort.family, &cohort.unrelated}) {
    GenotypeStream* source = stream(set->kind);
    if (source == nullptr) continue;
    std::vector<GenotypeRow> rowOfIndividual;
    for (GenotypeRow& row : set->rows) {
      row.codes = newRow(bytes);
      if (source->hasDosages()) row.dosages = newDosageRow(snps);
      if (row.codes == nullptr || (source->hasDosages() && row.dosages == nullptr)) {
        stopRun("Out of memory while storing the genotypes.\n");
      }
      const size_t at = static_cast<size_t>(row.fileSeq);
      if (rowOfIndividual.size() <= at) rowOfIndividual.resize(at + 1);
      rowOfIndividual[at] = row;
    }
    source->attachRows(rowOfIndividual);
    source->whenUncertain([this, set] { holdVariances(*set); });
  }
  rowCapacity = snps;
}

void GenotypeStore::holdVariances(DataSet& set) {
  const size_t people = set.rows.size();
  requireMemory(2.0 * static_cast<double>(people) * static_cast<double>(rowCapacity),
                "The genotype probabilities' variances of " + std::to_string(people) + " individuals and " +
                    std::to_string(rowCapacity) + " snps",
                moreMemoryAdvice() + ", or fewer snps or individuals, or the fixed layout without --minfo.");
  std::vector<GenotypeRow> rowOfIndividual;
  for (GenotypeRow& row : set.rows) {
    row.variances = newDosageRow(rowCapacity);
    if (row.variances == nullptr) stopRun("Out of memory while storing the genotypes.\n");
    std::fill(row.variances, row.variances + rowCapacity, 0);
    const size_t at = static_cast<size_t>(row.fileSeq);
    if (rowOfIndividual.size() <= at) rowOfIndividual.resize(at + 1);
    rowOfIndividual[at] = row;
  }
  stream(set.kind)->attachVariances(rowOfIndividual);
}

bool GenotypeStore::holdsDosages() const {
  for (const auto& source : streams) {
    if (source && source->hasDosages()) return true;
  }
  return false;
}

void GenotypeStore::fillRows(Cohort& cohort, const size_t* snps, size_t count, size_t firstSnp, size_t threads) {
  for (const auto& source : streams) {
    if (source) source->fill(snps, count, std::max<size_t>(1, threads));
  }
  rowFirstSnp = firstSnp;
  computeMeanDosages(cohort, count, threads);
}

size_t GenotypeStore::windowSnps(const Cohort& cohort, size_t widestBlock, size_t threads) const {
  const double people =
      std::max<double>(1, static_cast<double>(cohort.family.rows.size() + cohort.unrelated.rows.size()));
  size_t blocks = std::min(threads * kWindowBlocksPerThread, static_cast<size_t>(kWindowBytes * 4 / people) / widestBlock);
  // Tests make windows of a few blocks to cross their boundaries.
  if (const char* forced = std::getenv("OMBRA_STREAM_BLOCKS")) blocks = static_cast<size_t>(std::atol(forced));
  return widestBlock * std::max<size_t>(1, blocks);
}

void GenotypeStore::fillWindow(Cohort& cohort, size_t firstSnp, size_t count, size_t threads) {
  window.resize(count);
  std::iota(window.begin(), window.end(), firstSnp);
  fillRows(cohort, window.data(), count, firstSnp, threads);
  markersRead->read(firstSnp, count, markers);
  if (windowWatcher) windowWatcher(cohort, count);
}

}  // namespace ombra
