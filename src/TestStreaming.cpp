// Streaming the genotypes of SNP-major files (PLINK 1 filesets, VCF/BCF):
// the data sets keep one row per individual, but a row holds only the SNPs
// being worked on, read from the files when they are needed: first the
// components' SNPs, then one window of the test's SNPs after another. The
// numbers are those of a run that loads every genotype: the same codes,
// mean dosages counted over the same individuals, the same blocks.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <numeric>

#include "Test.h"
#include "formats/GenotypeStream.h"
#include "formats/MarkerStream.h"
#include "formats/PlinkBed.h"

namespace {

// The rows of a window stay within this many bytes in all.
constexpr double kWindowBytes = 256.0 * 1024 * 1024;
constexpr size_t kWindowBlocksPerThread = 8;

}  // namespace

// The test on blocks is the streamed route's; recodings and the filters
// that count every SNP before the test need every genotype at hand.
bool CTest::canStream(bool familyStreams, bool unrelatedStreams) const {
  if (!familyStreams || !unrelatedStreams || !canTestInBlocks()) return false;
  if (recodeAdditive || ombra::FilterThresholds(selectionOptions).any()) return false;
  return true;
}

size_t CTest::markerCount() const {
  if (!streaming) return markers.size();
  return markerStream ? markerStream->size() : 0;
}

void CTest::forEachMarker(const std::function<void(size_t, const Marker&)>& visit) {
  if (streaming) {
    if (markerStream) markerStream->forEach(visit);
    return;
  }
  for (size_t s = 0; s < markers.size(); ++s) visit(s, markers[s]);
}

void CTest::startStream(std::unique_ptr<ombra::GenotypeSource> source, bool unrelated, std::vector<bool> swapped) {
  const size_t samples = source->sampleCount();
  std::vector<Index>& rows = unrelated ? unrelatedRows : familyRows;
  rows.clear();
  for (size_t i = 0; i < samples; ++i) rows.push_back(Index{static_cast<int>(i), nullptr, static_cast<int>(i)});
  auto stream = std::make_shared<ombra::GenotypeStream>(std::move(source));
  stream->swapAlleles(std::move(swapped));
  (unrelated ? unrelatedStream : familyStream) = std::move(stream);
}

std::vector<bool> CTest::streamMarkers(std::unique_ptr<ombra::MarkerReader> reader, bool shared,
                                       const std::string& name) {
  if (!shared) {
    markerStream = std::make_shared<ombra::MarkerStream>(std::move(reader));
    snpCount = static_cast<int>(markerStream->fileCount());
    std::cout << "Total " << snpCount << " snps are read. \n\n";
    return {};
  }
  if (!markerStream->join(std::move(reader), codesCountFirstAllele)) {
    ombra::stopRun("The snps of " + name + " are not the snps of the family dataset, in the same order.\n");
  }
  return markerStream->swaps();
}

// As loadPlinkSet, without loading: the .bim is read one line at a time
// whenever the markers are needed, and the .bed as the run goes.
void CTest::openPlinkStream(const std::string& prefix, bool unrelated, bool shared) {
  const std::string bimPath = prefix + ".bim";
  const std::string famPath = prefix + ".fam";
  const std::string bedPath = prefix + ".bed";
  auto reader = std::make_unique<ombra::BimReader>(bimPath);
  const size_t own = ombra::countMarkers(*reader);
  std::vector<bool> swapped;
  if (!shared) swapped = streamMarkers(std::move(reader), false, bimPath);
  std::vector<Pedigree>& peds = unrelated ? unrelatedPeds : familyPeds;
  std::vector<Index>& rows = unrelated ? unrelatedRows : familyRows;
  readPedigree(famPath, peds, rows, true, unrelated, TraitCodes::kPlink);
  (unrelated ? unrelatedMarkerCount : familyMarkerCount) = static_cast<long>(own);
  const size_t size = static_cast<size_t>(unrelated ? unrelatedSize : familySize);
  auto source = std::make_unique<ombra::PlinkBedSource>(bedPath, bimPath, famPath, own, size);
  std::cout << "Reading PLINK 1 binary genotype: " << bedPath << " ...\n";
  std::cout << "Genotype have been loaded.\n";
  if (shared) swapped = streamMarkers(std::move(reader), true, bimPath);
  startStream(std::move(source), unrelated, std::move(swapped));
}

void CTest::holdStreamedRows(size_t snps) {
  if (snps <= rowCapacity) return;
  const int bytes = rowBytes(static_cast<long>(snps));
  ombra::requireMemory(static_cast<double>(familyRows.size() + unrelatedRows.size()) * bytes,
                       "The genotypes of " + std::to_string(familyRows.size() + unrelatedRows.size()) +
                           " individuals and " + std::to_string(snps) + " snps",
                       "Please use a machine with more memory, or fewer snps or individuals.");
  releaseRows();
  const auto attach = [&](std::vector<Index>& rows, ombra::GenotypeStream* stream) {
    if (stream == nullptr) return;
    std::vector<unsigned char*> rowOfIndividual;
    for (Index& row : rows) {
      char* block = nullptr;
      charTracker.Vector(block, bytes);
      if (block == nullptr) ombra::stopRun("Out of memory while storing the genotypes.\n");
      row.geno = reinterpret_cast<unsigned char*>(block);
      const size_t at = static_cast<size_t>(row.fileSeq);
      if (rowOfIndividual.size() <= at) rowOfIndividual.resize(at + 1, nullptr);
      rowOfIndividual[at] = row.geno;
    }
    stream->attachRows(rowOfIndividual);
  };
  attach(familyRows, familyStream.get());
  attach(unrelatedRows, unrelatedStream.get());
  rowCapacity = snps;
}

void CTest::fillRows(const size_t* snps, size_t count, size_t firstSnp) {
  for (const auto& stream : {familyStream, unrelatedStream}) {
    if (stream) stream->fill(snps, count);
  }
  rowFirstSnp = firstSnp;
  computeMeanDosages(count);
}

size_t CTest::streamWindowSnps() const {
  const double people = std::max<double>(1, static_cast<double>(familyRows.size() + unrelatedRows.size()));
  const size_t threads = static_cast<size_t>(std::max(1, Matrix::svdThreads()));
  size_t blocks = std::min(threads * kWindowBlocksPerThread, static_cast<size_t>(kWindowBytes * 4 / people) / kWidestBlock);
  // Tests make windows of a few blocks to cross their boundaries.
  if (const char* forced = std::getenv("OMBRA_STREAM_BLOCKS")) blocks = static_cast<size_t>(std::atol(forced));
  return kWidestBlock * std::max<size_t>(1, blocks);
}

// The components read only their SNPs, which take slots 0, 1, ... of the
// rows in map order, as they would be taken from rows of every SNP.
void CTest::streamComponents() {
  if (loadPCA) {
    ReadingPCA();
    return;
  }
  choosePcaSnps();
  std::vector<size_t> snps(pcaSnpIndices.begin(), pcaSnpIndices.end());
  holdStreamedRows(std::max<size_t>(snps.size(), 1));
  fillRows(snps.data(), snps.size(), 0);
  std::iota(pcaSnpIndices.begin(), pcaSnpIndices.end(), 0);
  cal_prin();
  if (savePCA) {
    writePcaFile();
    ombra::endRun(0);
  }
}

void CTest::fillWindow(size_t firstSnp, size_t count) {
  windowSnps.resize(count);
  std::iota(windowSnps.begin(), windowSnps.end(), firstSnp);
  fillRows(windowSnps.data(), count, firstSnp);
  markerStream->read(firstSnp, count, markers);
}
