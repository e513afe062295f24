#include "formats/BgenSource.h"

#include <climits>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "core/RunEnd.h"
#include "formats/OxfordSample.h"

namespace ombra {

namespace {

Marker markerOf(const BgenVariant& variant) {
  Marker marker;
  marker.setChromosome(variant.chr);
  marker.position = static_cast<int>(variant.position);
  // PLINK 2 writes the missing allele of a monomorphic site as ".", which
  // the markers hold as unknown (as a .bim's "0").
  marker.allele1 = variant.allele1 == "." ? "" : variant.allele1;
  marker.allele2 = variant.allele2 == "." ? "" : variant.allele2;
  if (!variant.rsid.empty() && variant.rsid != ".") {
    marker.snpId = variant.rsid;
  } else if (!variant.id.empty() && variant.id != ".") {
    marker.snpId = variant.id;
  } else {
    marker.snpId = marker.chr + ":" + std::to_string(variant.position) + ":" + marker.allele1 + ":" + marker.allele2;
  }
  return marker;
}


}  // namespace

BgenSource::BgenSource(const std::string& bgenPath, const std::string& samplePath,
                       const std::vector<SampleName>& individuals, const std::string& famPath,
                       const BgenRegion* region)
    : file(bgenPath, region), individualCount(individuals.size()) {
  nameSamples(samplePath, individuals, famPath);
  sites.reserve(file.variants().size());
  for (const BgenVariant& variant : file.variants()) {
    if (variant.position > static_cast<uint32_t>(INT_MAX)) {
      stopRun("The " + file.where(sites.size()) + " has a position beyond " + std::to_string(INT_MAX) +
              ", which this program cannot hold.\n");
    }
    sites.push_back(markerOf(variant));
  }
  file.releaseVariants();
}

void BgenSource::nameSamples(const std::string& samplePath, const std::vector<SampleName>& individuals,
                             const std::string& famPath) {
  const std::string& bgenPath = file.path();
  std::vector<OxfordSampleId> listed;
  if (!samplePath.empty()) {
    listed = readOxfordSample(samplePath);
    if (listed.size() != file.sampleCount()) {
      stopRun("The sample file " + samplePath + " lists " + std::to_string(listed.size()) + " samples, but the BGEN " +
              "file " + bgenPath + " holds " + std::to_string(file.sampleCount()) + ".\n");
    }
  }
  std::vector<std::string> names;
  std::vector<std::string> otherNames;
  std::string namedBy = bgenPath;
  if (!file.sampleIds().empty() || file.sampleCount() == 0) {
    names = file.sampleIds();
  } else if (!samplePath.empty()) {
    namedBy = samplePath;
    names.reserve(listed.size());
    otherNames.reserve(listed.size());
    for (const OxfordSampleId& sample : listed) {
      names.push_back(sample.id2);
      otherNames.push_back(sample.id1 + "_" + sample.id2);
    }
  } else {
    stopRun("The BGEN file " + bgenPath + " does not name its samples; give its .sample file.\n");
  }
  // A name twice would match one individual twice, or leave it to chance
  // which of two samples an individual gets.
  std::unordered_set<std::string> seen;
  for (size_t s = 0; s < names.size(); ++s) {
    const std::string name = otherNames.empty() ? names[s] : listed[s].id1 + "\t" + listed[s].id2;
    if (!seen.insert(name).second) {
      stopRun("The sample " + (otherNames.empty() ? name : listed[s].id1 + " " + listed[s].id2) + " appears twice in " +
              namedBy + ".\n");
    }
  }
  SampleMatch match = matchSamples(names, otherNames, individuals, namedBy, famPath);
  seqOfSample = std::move(match.seqOfSample);
  inFileOrder = match.inFileOrder;
  ignored = match.ignored;
}

void BgenSource::decode(size_t snp, unsigned char* column, uint16_t* dosages, uint16_t* variances,
                        ReaderBuffers& buffers) {
  if (snp >= sites.size()) stopRun("A snp beyond the last one of " + file.path() + " was asked for.\n");
  if (dosages == nullptr) {
    buffers.ownDosages.resize(individualCount);
    dosages = buffers.ownDosages.data();
  }
  std::vector<uint16_t>& fileDosages = buffers.fileDosages;
  if (inFileOrder && file.sampleCount() == individualCount) {
    // The individuals are the samples in order: decode in place.
    file.readDosages(snp, dosages, variances, buffers.block);
  } else {
    fileDosages.resize(file.sampleCount());
    if (variances != nullptr) buffers.fileVariances.resize(file.sampleCount());
    uint16_t* fileVariances = variances != nullptr ? buffers.fileVariances.data() : nullptr;
    file.readDosages(snp, fileDosages.data(), fileVariances, buffers.block);
    if (inFileOrder) {
      std::memcpy(dosages, fileDosages.data(), individualCount * sizeof(uint16_t));
      if (variances != nullptr) std::memcpy(variances, fileVariances, individualCount * sizeof(uint16_t));
    } else {
      for (size_t s = 0; s < seqOfSample.size(); ++s) {
        if (seqOfSample[s] < 0) continue;
        dosages[seqOfSample[s]] = fileDosages[s];
        if (variances != nullptr) variances[seqOfSample[s]] = fileVariances[s];
      }
    }
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < individualCount; ++i) sum += dosages[i] == kMissingDosage ? 0 : dosages[i];
  // Four codes a byte, the first in the top bits; the last byte's unused
  // slots stay 0.
  const size_t whole = individualCount / 4;
  for (size_t b = 0; b < whole; ++b) {
    const uint16_t* four = dosages + 4 * b;
    column[b] = static_cast<unsigned char>(nearestCode(four[0]) << 6 | nearestCode(four[1]) << 4 |
                                           nearestCode(four[2]) << 2 | nearestCode(four[3]));
  }
  for (size_t i = 4 * whole; i < individualCount; ++i) {
    column[i >> 2] |= static_cast<unsigned char>(nearestCode(dosages[i]) << (6 - 2 * (i & 3)));
  }
  sites[snp].allele2Count = static_cast<double>(sum) / kDosageOne;
}

void BgenSource::readBy(ReaderBuffers& buffers, size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                        uint16_t* variances) {
  const size_t column = columnBytes(individualCount);
  std::memset(codes, 0, count * column);
  for (size_t j = 0; j < count; ++j) {
    decode(first + j, codes + j * column, dosages == nullptr ? nullptr : dosages + j * individualCount,
           variances == nullptr ? nullptr : variances + j * individualCount, buffers);
  }
}

void BgenSource::readSnps(size_t first, size_t count, unsigned char* out) {
  readBy(ownBuffers, first, count, out, nullptr, nullptr);
}

void BgenSource::readDosages(size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                             uint16_t* variances) {
  readBy(ownBuffers, first, count, codes, dosages, variances);
}

void BgenSource::prepareReaders(size_t count) {
  while (readers.size() < count) readers.push_back(std::make_unique<ReaderBuffers>());
}

void BgenSource::readDosagesBy(size_t reader, size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                               uint16_t* variances) {
  readBy(*readers.at(reader), first, count, codes, dosages, variances);
}

}  // namespace ombra
