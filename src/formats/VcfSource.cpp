#include "formats/VcfSource.h"

#include <climits>
#include <cstring>
#include <utility>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

bool isBases(std::string_view allele) {
  if (allele.empty()) return false;
  for (char c : allele) {
    switch (c) {
      case 'A': case 'C': case 'G': case 'T': case 'N':
      case 'a': case 'c': case 'g': case 't': case 'n':
        break;
      default:
        return false;
    }
  }
  return true;
}

bool sameBases(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  }
  return true;
}

// ALT copies in a byte of four codes, a missing code counting none.
const struct AltCopies {
  unsigned char count[256];
  AltCopies() : count() {
    for (unsigned b = 0; b < 256; ++b) {
      for (unsigned slot = 0; slot < 4; ++slot) {
        const unsigned code = (b >> (2 * slot)) & 3;
        count[b] = static_cast<unsigned char>(count[b] + (code == 3 ? 0 : code));
      }
    }
  }
  unsigned operator[](unsigned b) const { return count[b]; }
} kAltCopies;

}  // namespace

// The ALT allele of a site kept; "" (unknown) for a monomorphic site's ".".
std::string_view altAllele(const VcfSite& site) { return site.altCount == 0 ? std::string_view() : site.alt; }

bool isBiallelicSnpOrIndel(const VcfSite& site) {
  // A monomorphic site (ALT "."), as a .bim's "0" allele or a BGEN "."
  // allele: a SNP of one known allele.
  if (site.altCount == 0) return isBases(site.ref);
  if (site.altCount != 1 || !isBases(site.ref) || !isBases(site.alt) || sameBases(site.ref, site.alt)) return false;
  return (site.ref.size() == 1 && site.alt.size() == 1) || site.ref.size() != site.alt.size();
}

VcfSource::VcfSource(const std::string& filePath, const std::vector<SampleName>& individuals,
                     const std::string& famPath, DosageField dosageField)
    : path(filePath), individualCount(individuals.size()), field(dosageField) {
  reader = VcfRecordReader::open(path);
  SampleMatch match = matchSamples(reader->sampleNames(), {}, individuals, path, famPath);
  seqOfColumn = std::move(match.seqOfSample);
  inFileOrder = match.inFileOrder;
  ignored = match.ignored;
  codes.resize(seqOfColumn.size());
  if (hasDosages()) columnDosages.resize(seqOfColumn.size());
  readSites();
  reader.reset();
}

void VcfSource::readSites() {
  VcfSite site;
  while (reader->next(site)) {
    if (isBiallelicSnpOrIndel(site)) {
      sites.push_back(markerOf(site));
      if (!hasDosages()) continue;
      fromGt.push_back(!reader->hasField(field));
      withoutField += fromGt.back();
      if (!fromGt.back()) callsTaken += reader->callsTaken(field);
    } else {
      ++skipped;
    }
  }
}

Marker VcfSource::markerOf(const VcfSite& site) const {
  if (site.position > INT_MAX) {
    std::string place = reader->where();
    place[0] = 'R';
    stopRun(place + " has a position beyond " + std::to_string(INT_MAX) + ", which this program cannot hold.\n");
  }
  Marker marker;
  marker.setChromosome(site.chrom);
  marker.position = static_cast<int>(site.position);
  marker.allele1 = std::string(site.ref);
  marker.allele2 = std::string(altAllele(site));
  if (site.id == ".") {
    marker.snpId = marker.chr + ":" + std::to_string(site.position) + ":" + marker.allele1 + ":" +
                   (marker.allele2.empty() ? std::string(".") : marker.allele2);
  } else {
    marker.snpId = std::string(site.id);
  }
  return marker;
}

void VcfSource::seek(size_t first) {
  if (reader == nullptr || first < nextSnp) {
    reader = VcfRecordReader::open(path);
    nextSnp = 0;
  }
  while (nextSnp < first) {
    advance();
    ++nextSnp;
  }
}

void VcfSource::readDosages(size_t first, size_t count, unsigned char* out, uint16_t* dosages,
                            uint16_t* variances) {
  if (!hasDosages()) {
    readSnps(first, count, out);
    return;
  }
  seek(first);
  const size_t column = columnBytes(individualCount);
  std::memset(out, 0, count * column);
  for (size_t j = 0; j < count; ++j) {
    advance();
    decodeDosages(out + j * column, dosages + j * individualCount,
                  variances != nullptr ? variances + j * individualCount : nullptr, nextSnp);
    ++nextSnp;
  }
}

void VcfSource::decodeDosages(unsigned char* column, uint16_t* dosages, uint16_t* variances, size_t snp) {
  // Calls are certain: variance 0.
  if (variances != nullptr) columnVariances.assign(columnDosages.size(), 0);
  if (fromGt[snp]) {
    reader->genotypes(codes.data());
    for (size_t c = 0; c < codes.size(); ++c) {
      columnDosages[c] = codes[c] == 3 ? kMissingDosage : static_cast<uint16_t>(codes[c] * kDosageOne);
    }
  } else {
    reader->dosages(field, columnDosages.data(), variances != nullptr ? columnVariances.data() : nullptr);
  }
  uint64_t units = 0;
  for (size_t c = 0; c < columnDosages.size(); ++c) {
    const int seq = seqOfColumn[c];
    if (seq < 0) continue;
    const uint16_t dosage = columnDosages[c];
    dosages[seq] = dosage;
    if (variances != nullptr) variances[seq] = columnVariances[c];
    column[seq >> 2] |= static_cast<unsigned char>(nearestCode(dosage) << (6 - 2 * (seq & 3)));
    units += dosage == kMissingDosage ? 0 : dosage;
  }
  sites[snp].allele2Count = static_cast<double>(units) / kDosageOne;
}

void VcfSource::readSnps(size_t first, size_t count, unsigned char* out) {
  if (hasDosages()) {
    // The calls nearest to the dosages, as the data set holds them.
    std::vector<uint16_t> dosages(count * individualCount);
    readDosages(first, count, out, dosages.data());
    return;
  }
  seek(first);
  const size_t column = columnBytes(individualCount);
  std::memset(out, 0, count * column);
  for (size_t j = 0; j < count; ++j) {
    advance();
    decode(out + j * column, nextSnp);
    ++nextSnp;
  }
}

void VcfSource::advance() {
  if (nextSnp >= sites.size()) stopRun("A snp beyond the last one of " + path + " was asked for.\n");
  VcfSite site;
  bool found = false;
  while (!found && reader->next(site)) found = isBiallelicSnpOrIndel(site);
  const Marker& expected = sites[nextSnp];
  if (!found || site.position != expected.position || site.ref != expected.allele1 ||
      altAllele(site) != expected.allele2) {
    stopRun("The file " + path + " changed while it was read: snp " + expected.snpId + " is no longer where it was.\n");
  }
}

void VcfSource::decode(unsigned char* column, size_t snp) {
  reader->genotypes(codes.data());
  unsigned altCopies = 0;
  size_t done = 0;
  if (inFileOrder) {
    // The individuals are the first sample columns in order: four codes
    // make one byte.
    for (; done + 4 <= individualCount; done += 4) {
      const unsigned char* four = codes.data() + done;
      const unsigned packed = static_cast<unsigned>(four[0] << 6 | four[1] << 4 | four[2] << 2 | four[3]);
      column[done / 4] = static_cast<unsigned char>(packed);
      altCopies += kAltCopies[packed];
    }
  }
  for (size_t c = inFileOrder ? done : 0; c < codes.size(); ++c) {
    const int seq = seqOfColumn[c];
    if (seq < 0) continue;
    const unsigned code = codes[c];
    column[seq >> 2] |= static_cast<unsigned char>(code << (6 - 2 * (seq & 3)));
    altCopies += code != 3 ? code : 0;
  }
  sites[snp].allele2Count = altCopies;
}

}  // namespace ombra
