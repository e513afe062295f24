// Readers of the data sets: SNP maps, pedigree and sample files with the
// coding of text genotypes, binary genotype files, and the genotype store's
// accessors.
#include <cstring>
#include <iostream>
#include <unordered_map>

#include "Test.h"

namespace {

const ombra::FieldSplitter kMapSeparators("\t ");
const ombra::FieldSplitter kPedigreeSeparators("\t /");

const char* const kSeparatorLine = "\n-----------------------------------------------------\n";

[[noreturn]] void stopShortLine(const std::string& path, long line, size_t found, size_t needed) {
  ombra::stopRun("Line " + std::to_string(line) + " of " + path + " has " + std::to_string(found) +
                 " fields, but at least " + std::to_string(needed) + " are needed.\n");
}

void requireFile(BaseClass& base, const std::string& path) {
  if (!base.fileExists(path)) ombra::stopRun("File " + path + " doese not exist!\n");
}

// A .bim allele column of "0" means the allele is unknown.
std::string bimAllele(std::string_view field) { return field == "0" ? std::string() : std::string(field); }

}  // namespace

bool CTest::readMapFile(std::string path, int mapColumns) {
  requireFile(*this, path);
  OpenFile(inputStream, path);
  std::cout << "Reading snp map: " << path << " ...\n";
  markers.clear();

  const bool bim = mapColumns == 6;
  const size_t needed = bim ? 7 : 4;
  ombra::LineReader reader(inputStream, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    lineFields.clear();
    kMapSeparators.split(line, lineFields);
    if (lineFields.size() < needed) stopShortLine(path, reader.lineNumber(), lineFields.size(), needed);
    Marker marker;
    marker.chr = std::string(lineFields[0]);
    marker.snpId = std::string(lineFields[1]);
    marker.position = static_cast<int>(ombra::leadingLong(lineFields[3]));
    if (bim) {
      marker.allele1 = bimAllele(lineFields[4]);
      marker.allele2 = bimAllele(lineFields[5]);
      marker.allele2Count = ombra::leadingDouble(lineFields[6]);
    }
    markers.push_back(std::move(marker));
  }
  // A new marker list starts its allele counts afresh.
  alleleCountBase = 0;
  bimCountPending = bim;
  snpCount = static_cast<int>(markers.size());
  std::cout << "Total " << snpCount << " snps are read. \n\n";
  return true;
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

bool CTest::readPedigree(std::string path, std::vector<Pedigree>& peds, std::vector<Index>& rows, bool binary,
                         bool unrelated) {
  requireFile(*this, path);
  OpenFile(inputStream, path);
  std::cout << "Reading pedigree: " << path << " ...\n";
  rows.clear();
  peds.clear();
  maxFamilySize = affectedCount = unaffectedCount = missingTraitCount = otherTraitCount = 0;

  const size_t expected = 6 + 2 * markers.size();
  std::unordered_map<std::string, size_t> pedigreeOf;  // family ID -> position in peds
  int seq = 0;
  ombra::LineReader reader(inputStream);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    lineFields.clear();
    kPedigreeSeparators.split(line, lineFields);
    if (lineFields.size() < 6) stopShortLine(path, reader.lineNumber(), lineFields.size(), 6);
    if (binary && lineFields.size() != 6) {
      std::cout << "Pedigree is not right.\n";
    } else if (!binary && lineFields.size() != expected) {
      ombra::stopRun("Individual " + std::string(lineFields[0]) + " " + std::string(lineFields[1]) +
                     " does not have same snp as snp map listed.\n");
    }
    Indi person = makeIndividual(seq);
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
    if (!binary && !codingGenotype(rows, seq)) ombra::stopRun("");
    ++seq;
  }

  int total = 0;
  for (const Pedigree& pedigree : peds) {
    const int size = static_cast<int>(pedigree.members.size());
    total += size;
    if (size > maxFamilySize) maxFamilySize = size;
  }
  (unrelated ? unrelatedSize : familySize) = total;
  (unrelated ? unrelatedMarkerCount : familyMarkerCount) = static_cast<long>(markers.size());
  if (binary && bimCountPending) {
    alleleCountBase += total;
    bimCountPending = false;
  }
  printSampleSummary(peds, unrelated, total);
  return true;
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

namespace {

enum class AlleleMatch { kFirst, kSecond, kThird };

// Matches one allele against the marker's alleles, discovering them in the
// order they first appear.
AlleleMatch matchAllele(Marker& marker, std::string_view allele) {
  if (allele == marker.allele1) return AlleleMatch::kFirst;
  if (allele == marker.allele2) return AlleleMatch::kSecond;
  if (marker.allele1.empty()) {
    marker.allele1.assign(allele.data(), allele.size());
    return AlleleMatch::kFirst;
  }
  if (marker.allele2.empty()) {
    marker.allele2.assign(allele.data(), allele.size());
    return AlleleMatch::kSecond;
  }
  return AlleleMatch::kThird;
}

}  // namespace

bool CTest::codingGenotype(std::vector<Index>& rows, int seq) {
  const size_t markerCount = markers.size();
  char* block = nullptr;
  charTracker.Vector(block, rowBytes(static_cast<long>(markerCount)));
  unsigned char* row = reinterpret_cast<unsigned char*>(block);
  std::memset(row, 0, static_cast<size_t>(rowBytes(static_cast<long>(markerCount))));

  const std::string_view missing(missingGenotype);
  const size_t pairs = (lineFields.size() - 6) / 2;
  unsigned packed = 0;
  for (size_t s = 0; s < pairs && s < markerCount; ++s) {
    const std::string_view a1 = lineFields[6 + 2 * s];
    const std::string_view a2 = lineFields[7 + 2 * s];
    Marker& marker = markers[s];
    unsigned code = 3;
    const bool missing1 = a1 == missing;
    const bool missing2 = a2 == missing;
    if (missing1 != missing2) {
      std::cout << "genotype of snp " << marker.snpId << " in " << (seq + 1)
                << "th line is not correct, only one allele is missing!\n";
      return false;
    }
    if (!missing1) {
      const AlleleMatch m1 = matchAllele(marker, a1);
      const AlleleMatch m2 = m1 == AlleleMatch::kThird ? m1 : matchAllele(marker, a2);
      if (m2 == AlleleMatch::kThird) {
        std::cout << "The allele of marker " << marker.snpId << " (chromosome " << marker.chr
                  << ") is more than 2, please check the data!\n";
        return false;
      }
      code = (m1 == AlleleMatch::kSecond) + (m2 == AlleleMatch::kSecond);
      marker.allele2Count += code;
    }
    packed = (packed << 2) | code;
    if (s % 4 == 3) {
      row[s / 4] = static_cast<unsigned char>(packed);
      packed = 0;
    }
  }
  const size_t tail = markerCount % 4;
  if (tail != 0) row[markerCount / 4] = static_cast<unsigned char>(packed << (2 * (4 - tail)));
  rows.push_back(Index{seq, row});
  ++alleleCountBase;
  return true;
}

bool CTest::readGenotype(std::string path, std::vector<Index>& rows, bool unrelated) {
  requireFile(*this, path);
  OpenFile(inputStream, path, std::ios_base::binary);
  std::cout << "Reading binary genotype: " << path << " ...\n";
  rows.clear();
  const int length = rowBytes(static_cast<long>(markers.size()));
  const int n = unrelated ? unrelatedSize : familySize;
  for (int i = 0; i < n; ++i) {
    if (inputStream.eof()) {
      ombra::stopRun("Can not read the total genotype of all" + std::to_string(n) +
                     "individuals.The data file is not mathch the snp map file and pedigree file.\n");
    }
    char* block = nullptr;
    charTracker.Vector(block, length);
    inputStream.read(block, length);
    if (!inputStream || inputStream.gcount() != length) ombra::stopRun("Read binary file failed.\n");
    rows.push_back(Index{i, reinterpret_cast<unsigned char*>(block)});
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
  if (code != 3) return code;
  return markers[static_cast<size_t>(snp)].allele2Count / static_cast<double>(2 * alleleCountBase);
}
