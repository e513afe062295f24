// Readers of the data sets: SNP maps, pedigree and sample files with the
// coding of text genotypes, binary genotype files, and the genotype store's
// accessors.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <iostream>
#include <unordered_map>

#include "DosageCounts.h"
#include "Test.h"

namespace {

const ombra::FieldSplitter kMapSeparators("\t ");

const char* const kSeparatorLine = "\n-----------------------------------------------------\n";

[[noreturn]] void stopShortLine(const std::string& path, long line, size_t found, size_t needed) {
  ombra::stopRun("Line " + std::to_string(line) + " of " + path + " has " + std::to_string(found) +
                 " fields, but at least " + std::to_string(needed) + " are needed.\n");
}

void requireFile(BaseClass& base, const std::string& path) {
  if (!base.fileExists(path)) ombra::stopRun("File " + path + " doese not exist!\n");
}

// A position that does not fit the int it is kept in would wrap silently into
// another position.
int positionOf(std::string_view field, const std::string& path, long line) {
  const long position = ombra::leadingLong(field);
  if (position < INT_MIN || position > INT_MAX) {
    ombra::stopRun("Line " + std::to_string(line) + " of " + path + " has the position " + std::string(field) +
                   ", which is out of range.\n");
  }
  return static_cast<int>(position);
}

// A carriage return would stay glued to the last field (the trait of a .fam
// line, the last allele of a .ped line) and silently change what it means.
void rejectCarriageReturn(std::string_view line, const std::string& path, long lineNumber) {
  if (line.find('\r') == std::string_view::npos) return;
  ombra::stopRun("Line " + std::to_string(lineNumber) + " of " + path +
                 " has a carriage return: the file has Windows line endings. Please convert it to Unix line "
                 "endings (for example with dos2unix).\n");
}

[[noreturn]] void stopOutOfMemory(const std::string& what) {
  ombra::stopRun("Out of memory while storing " + what + ".\n");
}

// A .bim allele column of "0" means the allele is unknown.
std::string bimAllele(std::string_view field) { return field == "0" ? std::string() : std::string(field); }

}  // namespace

bool CTest::readMapFile(std::string path, int mapColumns) {
  requireFile(*this, path);
  std::istream& in = textInput.open(*this, inputStream, path);
  std::cout << "Reading snp map: " << path << " ...\n";
  const bool bim = mapColumns == 6;
  readMarkers(in, path, bim, markers);
  // A new marker list starts its allele counts afresh.
  alleleCountBase = 0;
  bimCountPending = bim;
  snpCount = static_cast<int>(markers.size());
  std::cout << "Total " << snpCount << " snps are read. \n\n";
  return true;
}

// Reads the map lines of `in` into `list`.
void CTest::readMarkers(std::istream& in, const std::string& path, bool bim, std::vector<Marker>& list) {
  list.clear();
  const size_t needed = bim ? 7 : 4;
  ombra::LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    lineFields.clear();
    kMapSeparators.split(line, lineFields);
    if (lineFields.size() < needed) stopShortLine(path, reader.lineNumber(), lineFields.size(), needed);
    Marker marker;
    marker.chr = std::string(lineFields[0]);
    marker.snpId = std::string(lineFields[1]);
    marker.position = positionOf(lineFields[3], path, reader.lineNumber());
    if (bim) {
      marker.allele1 = bimAllele(lineFields[4]);
      marker.allele2 = bimAllele(lineFields[5]);
      marker.allele2Count = ombra::leadingDouble(lineFields[6]);
      // The count stands in for missing genotypes; a negative, infinite or
      // not-a-number count would silently spread into every statistic.
      if (!(marker.allele2Count >= 0 && marker.allele2Count <= 1e300)) {
        ombra::stopRun("Line " + std::to_string(reader.lineNumber()) + " of " + path + " has the allele count " +
                       std::string(lineFields[6]) + ", which is not a count.\n");
      }
    }
    list.push_back(std::move(marker));
  }
}

Indi CTest::makeIndividual(int seq) const {
  Indi person;
  person.indId = std::string(lineFields[1]);
  person.fatherId = std::string(lineFields[2]);
  person.motherId = std::string(lineFields[3]);
  person.sex = std::string(lineFields[4]);
  person.trait = std::string(lineFields[5]);
  person.traitValue = ombra::leadingDouble(lineFields[5]);
  person.seq = seq;
  return person;
}

void CTest::tallyTrait(const std::string& trait) {
  if (trait == "1") {
    ++unaffectedCount;
  } else if (trait == "2") {
    ++affectedCount;
  } else if (trait == missingTrait) {
    ++missingTraitCount;
  } else {
    ++otherTraitCount;
  }
}

bool isMinusNine(const std::string& trait) {
  if (trait.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(trait.c_str(), &end);
  return *end == '\0' && value == -9.0;
}

bool CTest::readPedigree(std::string path, std::vector<Pedigree>& peds, std::vector<Index>& rows, bool binary,
                         bool unrelated, TraitCodes codes) {
  requireFile(*this, path);
  std::istream& in = textInput.open(*this, inputStream, path);
  std::cout << "Reading pedigree: " << path << " ...\n";
  rows.clear();
  peds.clear();
  maxFamilySize = affectedCount = unaffectedCount = missingTraitCount = otherTraitCount = 0;

  const size_t expected = 6 + 2 * markers.size();
  std::unordered_map<std::string, size_t> pedigreeOf;  // family ID -> position in peds
  // Family ID and individual ID (a tab cannot occur in either) -> line.
  std::unordered_map<std::string, long> lineOfIndividual;
  // The rows of a text set are allocated line by line; compare their total
  // with the memory the machine has before it is exhausted in the allocator.
  const double rowLength = rowBytes(static_cast<long>(markers.size()));
  double memoryLeft = binary ? 0 : ombra::availableMemoryBytes();
  if (!binary) alleleTable.attach(markers, missingGenotype);
  // The codes of a line whose letters were coded before its checks.
  std::vector<unsigned char> lineCodes(static_cast<size_t>(rowBytes(static_cast<long>(markers.size()))));
  int seq = 0;
  int minusNineCount = 0;  // traits of -9 other than the --mt code
  ombra::LineReader reader(in);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    rejectCarriageReturn(line, path, reader.lineNumber());
    lineFields.clear();
    const size_t headerEnd = pedigreeSeparators().splitFirst(line, 6, lineFields);
    if (lineFields.size() < 6) stopShortLine(path, reader.lineNumber(), lineFields.size(), 6);
    // A text line left out here is never coded, as if it were not in the file.
    if (!binary && sampleSelection.active() && !sampleSelection.admit(lineFields[0], lineFields[1])) continue;
    // Most lines are one letter per allele: coded straight from the text,
    // which also proves their field count; the others are split into
    // fields and coded from those once the line's other checks pass.
    const std::string_view alleles = line.substr(headerEnd);
    const bool coded = !binary && alleleTable.codeLetters(alleles, lineCodes.data());
    if (!coded) pedigreeSeparators().split(alleles, lineFields);
    if (binary && lineFields.size() != 6) {
      std::cout << "Pedigree is not right.\n";
    } else if (!binary && !coded && lineFields.size() != expected) {
      ombra::stopRun("Individual " + std::string(lineFields[0]) + " " + std::string(lineFields[1]) +
                     " does not have same snp as snp map listed.\n");
    }
    if (seq == INT_MAX) ombra::stopRun("The file " + path + " has more individuals than this program can hold.\n");
    // Two individuals with one family ID and individual ID cannot be told
    // apart: parents, the PCA file and the components would all take the first.
    std::string key(lineFields[0]);
    key += '\t';
    key.append(lineFields[1].data(), lineFields[1].size());
    const auto seen = lineOfIndividual.emplace(std::move(key), reader.lineNumber());
    if (!seen.second) {
      ombra::stopRun("Individual " + std::string(lineFields[0]) + " " + std::string(lineFields[1]) + " on line " +
                     std::to_string(reader.lineNumber()) + " of " + path + " was already given on line " +
                     std::to_string(seen.first->second) + ".\n");
    }
    if (!binary) {
      memoryLeft -= rowLength;
      if (memoryLeft < 0) memoryLeft = ombra::availableMemoryBytes() - rowLength;  // measured again
      if (memoryLeft < 0) {
        ombra::stopRun("The genotypes of " + path + " need more memory than the machine has left after " +
                       std::to_string(seq) + " individuals. Please use a machine with more memory, or fewer snps "
                       "or individuals.\n");
      }
    }
    Indi person = makeIndividual(seq);
    // An infinite or not-a-number trait would turn every statistic into
    // not-a-number without a word.
    if (!std::isfinite(person.traitValue) && person.trait != missingTrait) {
      ombra::stopRun("Line " + std::to_string(reader.lineNumber()) + " of " + path + " has the trait " + person.trait +
                     ", which is not a finite number.\n");
    }
    if (person.trait != missingTrait && isMinusNine(person.trait)) {
      ++minusNineCount;
      if (codes == TraitCodes::kPlink) {
        person.trait = missingTrait;
        person.traitValue = ombra::leadingDouble(missingTrait);
      }
    }
    tallyTrait(person.trait);
    std::string famId(lineFields[0]);
    auto found = pedigreeOf.find(famId);
    if (found == pedigreeOf.end()) {
      pedigreeOf.emplace(famId, peds.size());
      peds.push_back(Pedigree{std::move(famId), {std::move(person)}});
    } else {
      peds[found->second].members.push_back(std::move(person));
    }
    // A line whose genotypes cannot be coded would leave its individual
    // without a row; everything after relies on one row per individual.
    if (!binary && !storeGenotypeRow(rows, seq, coded ? lineCodes.data() : nullptr)) ombra::stopRun("");
    ++seq;
  }

  alleleTable.addCounts(markers);
  int total = 0;
  for (const Pedigree& pedigree : peds) {
    const int size = static_cast<int>(pedigree.members.size());
    total += size;
    if (size > maxFamilySize) maxFamilySize = size;
  }
  (unrelated ? unrelatedSize : familySize) = total;
  (unrelated ? unrelatedMarkerCount : familyMarkerCount) = static_cast<long>(markers.size());
  selectedWhileReading[unrelated ? 1 : 0] = !binary;
  if (binary && bimCountPending) {
    alleleCountBase += total;
    bimCountPending = false;
  }
  printSampleSummary(peds, unrelated, total);
  reportMinusNine(path, minusNineCount, codes);
  return true;
}

void CTest::reportMinusNine(const std::string& path, int count, TraitCodes codes) const {
  if (count == 0) return;
  const std::string people = count == 1 ? "1 individual of " + path + " has"
                                        : std::to_string(count) + " individuals of " + path + " have";
  if (codes == TraitCodes::kPlink) {
    std::cout << people << " the trait -9, PLINK's missing code, counted as missing.\n";
  } else {
    std::cout << people << " the trait -9, read as a quantitative value; give --mt -9 to make it missing.\n";
  }
}

void CTest::printSampleSummary(const std::vector<Pedigree>& peds, bool unrelated, int total) {
  std::cout << kSeparatorLine << "The total sample size is: " << total << "\n\n";
  if (unrelated) {
    std::cout << "Case-Control dataset (1 unaffected, 2 affected, " << missingTrait << " missing)\n";
    std::cout << "unafftect: " << unaffectedCount << " , affect: " << affectedCount
              << ", unkown(or missing): " << missingTraitCount << ".\n";
  } else {
    std::cout << "Family dataset (1 unaffected, 2 affected, " << missingTrait << " missing)\n";
    std::cout << "Family number : " << peds.size() << "\nMax family size :" << maxFamilySize << "\n";
    std::cout << "unafftect: " << unaffectedCount << ", affect: " << affectedCount
              << ", unkown(or missing): " << missingTraitCount << ".\n";
  }
  if (otherTraitCount != 0) {
    std::cout << "There are " << otherTraitCount << " with unknown or quantitative trait.\n";
  }
  std::cout << kSeparatorLine;
}

bool CTest::storeGenotypeRow(std::vector<Index>& rows, int seq, const unsigned char* codes) {
  const int length = rowBytes(static_cast<long>(markers.size()));
  char* block = nullptr;
  charTracker.Vector(block, length);
  if (block == nullptr) stopOutOfMemory("the genotypes of individual " + std::to_string(seq + 1));
  unsigned char* row = reinterpret_cast<unsigned char*>(block);
  if (codes != nullptr) {
    std::memcpy(row, codes, static_cast<size_t>(length));
  } else if (!codeAlleleFields(row, seq)) {
    return false;
  }
  rows.push_back(Index{seq, row, seq});
  alleleTable.countRow(row);
  ++alleleCountBase;
  return true;
}

bool CTest::codeAlleleFields(unsigned char* row, int seq) {
  const size_t markerCount = markers.size();
  std::memset(row, 0, static_cast<size_t>(rowBytes(static_cast<long>(markerCount))));
  const std::string_view missing(missingGenotype);
  const size_t pairs = (lineFields.size() - 6) / 2;
  unsigned packed = 0;
  for (size_t s = 0; s < pairs && s < markerCount; ++s) {
    const std::string_view a1 = lineFields[6 + 2 * s];
    const std::string_view a2 = lineFields[7 + 2 * s];
    unsigned code = 3;
    const bool missing1 = sameText(a1, missing);
    const bool missing2 = sameText(a2, missing);
    if (missing1 != missing2) {
      std::cout << "genotype of snp " << markers[s].snpId << " in " << (seq + 1)
                << "th line is not correct, only one allele is missing!\n";
      return false;
    }
    if (!missing1) {
      const int pairCode = alleleTable.code(s, a1, a2);
      if (pairCode < 0) {
        std::cout << "The allele of marker " << markers[s].snpId << " (chromosome " << markers[s].chr
                  << ") is more than 2, please check the data!\n";
        return false;
      }
      code = static_cast<unsigned>(pairCode);
    }
    packed = (packed << 2) | code;
    if (s % 4 == 3) {
      row[s / 4] = static_cast<unsigned char>(packed);
      packed = 0;
    }
  }
  const size_t tail = markerCount % 4;
  if (tail != 0) row[markerCount / 4] = static_cast<unsigned char>(packed << (2 * (4 - tail)));
  return true;
}

bool CTest::readGenotype(std::string path, std::vector<Index>& rows, bool unrelated) {
  requireFile(*this, path);
  OpenFile(inputStream, path, std::ios_base::binary);
  std::cout << "Reading binary genotype: " << path << " ...\n";
  rows.clear();
  const int length = rowBytes(static_cast<long>(markers.size()));
  const int n = unrelated ? unrelatedSize : familySize;
  // All rows are allocated before any is used; a file too short for them
  // stops at its first incomplete row, so only what it holds can be needed.
  struct stat status {};
  double needed = static_cast<double>(n) * length;
  if (stat(path.c_str(), &status) == 0 && static_cast<double>(status.st_size) < needed) {
    needed = static_cast<double>(status.st_size);
  }
  ombra::requireMemory(needed,
                       "The genotypes of " + std::to_string(n) + " individuals and " +
                           std::to_string(markers.size()) + " snps",
                       "Please use a machine with more memory, or fewer snps or individuals.");
  for (int i = 0; i < n; ++i) {
    if (inputStream.eof()) {
      ombra::stopRun("Can not read the total genotype of all" + std::to_string(n) +
                     "individuals.The data file is not mathch the snp map file and pedigree file.\n");
    }
    char* block = nullptr;
    charTracker.Vector(block, length);
    if (block == nullptr) stopOutOfMemory("the genotypes of " + path);
    inputStream.read(block, length);
    if (!inputStream || inputStream.gcount() != length) ombra::stopRun("Read binary file failed.\n");
    rows.push_back(Index{i, reinterpret_cast<unsigned char*>(block), i});
  }
  std::cout << "Genotype have been loaded.\n";
  return true;
}

int CTest::extractGenotype(unsigned char* row, int byteIndex, int slot) {
  return (row[byteIndex] >> (2 * (3 - slot))) & 3;
}

double CTest::extractGenotype(std::vector<Index>& rows, int individual, int byteIndex, int slot, bool unrelated,
                              int snp) {
  const int n = unrelated ? unrelatedSize : familySize;
  if (individual < 0 || individual >= n) ombra::stopRun("The index of given individual is not correct");
  if (byteIndex == -1 && slot == -1) {
    byteIndex = snp / 4;
    slot = snp % 4;
  }
  const int code = extractGenotype(rows[static_cast<size_t>(individual)].geno, byteIndex, slot);
  return code != 3 ? code : missingValue(snp);
}

namespace {

// Where an allele of the second data set stands in the shared marker: 1 or
// 2, taking over an allele the shared marker does not know yet; 0 for a
// third allele.
int placeAllele(Marker& shared, const std::string& allele) {
  if (allele == shared.allele1) return 1;
  if (allele == shared.allele2) return 2;
  if (shared.allele1.empty()) {
    shared.allele1 = allele;
    return 1;
  }
  if (shared.allele2.empty()) {
    shared.allele2 = allele;
    return 2;
  }
  return 0;
}

}  // namespace

bool codesCountFirstAllele(Marker& shared, const Marker& own) {
  const int first = own.allele1.empty() ? 0 : placeAllele(shared, own.allele1);
  const int second = own.allele2.empty() ? 0 : placeAllele(shared, own.allele2);
  if ((!own.allele1.empty() && first == 0) || (!own.allele2.empty() && second == 0)) {
    ombra::stopRun("The allele of marker " + shared.snpId + " (chromosome " + shared.chr +
                   ") is more than 2, please check the data!\n");
  }
  return first == 2 || second == 1;
}

// A binary unrelated set codes its genotypes against the alleles of its own
// .bim, which need not be in the order of the shared marker list taken from
// the family set. Its codes are turned to count the shared second allele, and
// its individuals join the allele counts, so that pooling two binary sets
// made separately gives what pooling their text sets gives.
void CTest::alignUnrelatedBinarySet(const std::string& bimPath) {
  if (!fileExists(bimPath)) return;
  OpenFile(inputStream, bimPath);
  std::vector<Marker> own;
  readMarkers(inputStream, bimPath, true, own);
  alignUnrelatedMarkers(own, bimPath);
}

std::vector<size_t> CTest::swappedSnps(const std::vector<Marker>& own, const std::string& name) {
  const bool sameSnps = own.size() == markers.size() &&
                        std::equal(own.begin(), own.end(), markers.begin(),
                                   [](const Marker& a, const Marker& b) { return a.snpId == b.snpId; });
  if (!sameSnps) {
    ombra::stopRun("The snps of " + name + " are not the snps of the family dataset, in the same order.\n");
  }
  std::vector<size_t> swapped;
  for (size_t s = 0; s < markers.size(); ++s) {
    if (codesCountFirstAllele(markers[s], own[s])) swapped.push_back(s);
  }
  return swapped;
}

void CTest::alignUnrelatedMarkers(const std::vector<Marker>& own, const std::string& name) {
  std::vector<unsigned char> flipSlots(static_cast<size_t>(rowBytes(static_cast<long>(markers.size()))), 0);
  for (size_t s : swappedSnps(own, name)) flipSlots[s / 4] |= static_cast<unsigned char>(0x40 >> (2 * (s % 4)));
  std::vector<const unsigned char*> rows;
  for (Index& row : unrelatedRows) {
    for (size_t b = 0; b < flipSlots.size(); ++b) {
      // Codes 0 and 2 swap (their low bit is 0); 1 and 3 stay.
      const unsigned char evenCodes = static_cast<unsigned char>(~row.geno[b] & flipSlots[b]);
      row.geno[b] ^= static_cast<unsigned char>(evenCodes << 1);
    }
    rows.push_back(row.geno);
  }
  // Whole-number counts: adding them at once gives the sum code by code.
  ombra::DosageCounts counts;
  ombra::addDosageCounts(rows.data(), rows.size(), markers.size(), counts);
  for (size_t s = 0; s < markers.size() && s < counts.copies.size(); ++s) {
    markers[s].allele2Count += static_cast<double>(counts.copies[s]);
  }
  alleleCountBase += unrelatedSize;
}
