#include "formats/PlinkBed.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <iostream>
#include <string_view>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "formats/SourceLoader.h"

namespace ombra {

namespace {

const FieldSplitter kBimSeparators("\t ");

// Ombra's code of each PLINK 2-bit code, and the reverse.
constexpr unsigned kOmbraOfPlink[4] = {0, 3, 1, 2};
constexpr unsigned kPlinkOfOmbra[4] = {0, 2, 3, 1};

// A PLINK .bed byte (first individual in the low bits) as an Ombra column
// byte (first individual in the top bits), and the reverse.
struct ByteTables {
  std::array<unsigned char, 256> toOmbra{};
  std::array<unsigned char, 256> toPlink{};
  ByteTables() {
    for (unsigned byte = 0; byte < 256; ++byte) {
      unsigned ombra = 0;
      unsigned plink = 0;
      for (unsigned k = 0; k < 4; ++k) {
        ombra |= kOmbraOfPlink[(byte >> (2 * k)) & 3] << (2 * (3 - k));
        plink |= kPlinkOfOmbra[(byte >> (2 * (3 - k))) & 3] << (2 * k);
      }
      toOmbra[byte] = static_cast<unsigned char>(ombra);
      toPlink[byte] = static_cast<unsigned char>(plink);
    }
  }
};

const ByteTables& byteTables() {
  static const ByteTables tables;
  return tables;
}

[[noreturn]] void stopAtLine(const std::string& path, long line, const std::string& what) {
  stopRun("Line " + std::to_string(line) + " of " + path + " " + what + "\n");
}

std::string allele(std::string_view field) { return field == "0" ? std::string() : std::string(field); }

long long fileSize(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// The first bytes of `path` (fewer when it is shorter).
std::string leadingBytes(const std::string& path, size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(in ? count : static_cast<size_t>(in.gcount()));
  return bytes;
}

bool startsWithMagic(const std::string& bytes, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), kPlinkBedMagic.data(), length) == 0;
}

}  // namespace

bool isPlinkFileset(const std::string& prefix, bool quiet) {
  const std::string bimPath = prefix + ".bim";
  const std::string bedPath = prefix + ".bed";
  std::ifstream bim(bimPath, std::ios::binary);
  if (!bim) return false;
  const bool plinkBed = startsWithMagic(leadingBytes(bedPath, 2), 2);
  LineReader reader(bim, size_t{1} << 16);
  std::string_view line;
  std::vector<std::string_view> fields;
  while (reader.next(line)) {
    if (line.empty()) continue;
    kBimSeparators.split(line, fields);
    if (fields.size() != 6) return false;
    if (!plinkBed && !quiet) {
      const char* why = fileSize(bedPath) < 0 ? " does not exist"
                                              : " does not start with the bytes 0x6c 0x1b 0x01 of a PLINK 1 .bed";
      std::cout << bimPath << " has the 6 columns of a PLINK .bim, but " << bedPath << why
                << "; the set is read as this program's own binary set, whose .bim has 7 columns.\n";
    }
    return plinkBed;
  }
  return plinkBed;
}

BimReader::BimReader(const std::string& bimPath) : path(bimPath) {
  if (!fileExists(path)) stopRun("File " + path + " doese not exist!\n");
  openInput(in, path);
  lines = std::make_unique<LineReader>(in, size_t{1} << 20);
}

void BimReader::rewind() {
  in.clear();
  in.seekg(0);
  lines = std::make_unique<LineReader>(in, size_t{1} << 20);
}

bool BimReader::next(Marker& marker) {
  std::string_view line;
  do {
    if (!lines->next(line)) return false;
  } while (line.empty());
  const long number = lines->lineNumber();
  // A carriage return would stay glued to A2 and make it another allele.
  if (line.find('\r') != std::string_view::npos) {
    stopAtLine(path, number, "has a carriage return: the file has Windows line endings. Please convert it to "
                             "Unix line endings (for example with dos2unix).");
  }
  fields.clear();
  kBimSeparators.split(line, fields);
  if (fields.size() != 6) {
    stopAtLine(path, number, "has " + std::to_string(fields.size()) +
                                 " fields, but a PLINK .bim line has 6: chromosome, snp, distance, position, "
                                 "allele 1, allele 2.");
  }
  const long position = leadingLong(fields[3]);
  if (position < INT_MIN || position > INT_MAX) {
    stopAtLine(path, number, "has the position " + std::string(fields[3]) + ", which is out of range.");
  }
  marker.setChromosome(fields[0]);
  marker.snpId.assign(fields[1]);
  marker.position = static_cast<int>(position);
  marker.allele1 = allele(fields[4]);
  marker.allele2 = allele(fields[5]);
  marker.allele2Count = 0;
  return true;
}

std::vector<Marker> readPlinkBim(const std::string& path) {
  BimReader reader(path);
  std::vector<Marker> markers;
  Marker marker;
  while (reader.next(marker)) markers.push_back(marker);
  return markers;
}

PlinkBedSource::PlinkBedSource(const std::string& bedPath, const std::string& bimPath, const std::string& famPath,
                               std::vector<Marker> markers, size_t sampleTotal)
    : path(bedPath), snps(std::move(markers)), snpTotal(snps.size()), samples(sampleTotal) {
  for (Marker& marker : snps) marker.allele2Count = 0;
  open(bimPath, famPath);
}

PlinkBedSource::PlinkBedSource(const std::string& bedPath, const std::string& bimPath, const std::string& famPath,
                               size_t snpCount, size_t sampleTotal)
    : path(bedPath), snpTotal(snpCount), samples(sampleTotal) {
  open(bimPath, famPath);
}

void PlinkBedSource::open(const std::string& bimPath, const std::string& famPath) {
  if (!fileExists(path)) stopRun("File " + path + " doese not exist!\n");
  checkHeaderAndSize(bimPath, famPath);
  openInput(file, path, std::ios_base::binary);
  file.seekg(3);
}

void PlinkBedSource::checkHeaderAndSize(const std::string& bimPath, const std::string& famPath) {
  const std::string header = leadingBytes(path, 3);
  if (header.size() == 3 && startsWithMagic(header, 2) && header[2] == 0) {
    stopRun("The file " + path + " is a PLINK 1 .bed in individual-major mode (its third byte is 0x00), an old "
            "layout that is not read. Please rewrite it in SNP-major mode, for example with plink1.9 --bfile " +
            path.substr(0, path.size() - 4) + " --make-bed --out NEW_PREFIX.\n");
  }
  if (!startsWithMagic(header, 3)) {
    stopRun("The file " + path + " does not start with the bytes 0x6c 0x1b 0x01 of a PLINK 1 .bed, although " +
            bimPath + " has the 6 columns of a PLINK .bim (Ombra's own .bim has 7).\n");
  }
  const unsigned long long expected =
      3 + static_cast<unsigned long long>(snpTotal) * static_cast<unsigned long long>(columnBytes(samples));
  const long long actual = fileSize(path);
  if (actual < 0 || static_cast<unsigned long long>(actual) != expected) {
    stopRun("The file " + path + " has " + std::to_string(actual) + " bytes, but a PLINK 1 .bed of the " +
            std::to_string(snpTotal) + " snps of " + bimPath + " and the " + std::to_string(samples) +
            " individuals of " + famPath + " has 3 + " + std::to_string(snpTotal) + " x " +
            std::to_string(columnBytes(samples)) + " = " + std::to_string(expected) +
            " bytes. The file is truncated, or the three files do not belong together." + endOfGenotypes(actual) +
            "\n");
  }
}

// Where the genotypes of a .bed shorter than its markers end.
std::string PlinkBedSource::endOfGenotypes(long long actual) const {
  const size_t bytes = columnBytes(samples);
  if (actual < 3 || bytes == 0) return "";
  const size_t snp = static_cast<size_t>(actual - 3) / bytes;
  if (snp >= snpTotal) return "";
  const std::string name = snps.empty() ? "" : " (" + snps[snp].snpId + ")";
  return " Its genotypes end within snp " + std::to_string(snp + 1) + name + " of " + std::to_string(snpTotal) + ".";
}

void PlinkBedSource::readSnps(size_t first, size_t count, unsigned char* out) {
  const size_t bytes = columnBytes(samples);
  if (count == 0 || bytes == 0) return;
  if (first + count > snpTotal) stopRun("Snps beyond the end of " + path + " were asked for.\n");
  if (first != nextSnp) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(3 + first * bytes));
  }
  file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count * bytes));
  if (!file || static_cast<size_t>(file.gcount()) != count * bytes) {
    const std::string name = snps.empty() ? "" : snps[first].snpId + " ";
    stopRun("The file " + path + " ended before the genotypes of snp " + name + "(snp " + std::to_string(first + 1) +
            " of " + std::to_string(snpTotal) + ").\n");
  }
  nextSnp = first + count;
  const std::array<unsigned char, 256>& toOmbra = byteTables().toOmbra;
  // Padding slots of a column's last byte may hold anything; the block's
  // contract says 0.
  const unsigned char lastMask = static_cast<unsigned char>(samples % 4 == 0 ? 0xFF : 0xFF << (2 * (4 - samples % 4)));
  for (size_t j = 0; j < count; ++j) {
    unsigned char* column = out + j * bytes;
    for (size_t b = 0; b < bytes; ++b) column[b] = toOmbra[column[b]];
    column[bytes - 1] &= lastMask;
    if (!snps.empty()) snps[first + j].allele2Count += static_cast<double>(allele2Copies(column, bytes));
  }
}

void ombraColumnsToPlink(unsigned char* columns, size_t count, size_t samples) {
  const std::array<unsigned char, 256>& toPlink = byteTables().toPlink;
  const size_t bytes = count * columnBytes(samples);
  for (size_t b = 0; b < bytes; ++b) columns[b] = toPlink[columns[b]];
}

}  // namespace ombra
