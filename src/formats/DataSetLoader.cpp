#include "formats/DataSetLoader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unordered_map>

#include "core/Memory.h"
#include "core/ResourceLimits.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "formats/DosageCounts.h"
#include "formats/MarkerReader.h"
#include "formats/PlinkBed.h"
#include "formats/SourceLoader.h"
#include "formats/BgenSource.h"
#include "formats/VcfSource.h"

namespace ombra {

namespace {

const FieldSplitter kMapSeparators("\t ");

const char* const kSeparatorLine = "\n-----------------------------------------------------\n";

[[noreturn]] void stopShortLine(const std::string& path, long line, size_t found, size_t needed) {
  stopRun("Line " + std::to_string(line) + " of " + path + " has " + std::to_string(found) +
                 " fields, but at least " + std::to_string(needed) + " are needed.\n");
}

void requireFile(const std::string& path) {
  if (!fileExists(path)) stopRun("File " + path + " doese not exist!\n");
}

// A position that does not fit the int it is kept in would wrap silently into
// another position.
int positionOf(std::string_view field, const std::string& path, long line) {
  const long position = leadingLong(field);
  if (position < INT_MIN || position > INT_MAX) {
    stopRun("Line " + std::to_string(line) + " of " + path + " has the position " + std::string(field) +
                   ", which is out of range.\n");
  }
  return static_cast<int>(position);
}

// A carriage return would stay glued to the last field (the trait of a .fam
// line, the last allele of a .ped line) and silently change what it means.
void rejectCarriageReturn(std::string_view line, const std::string& path, long lineNumber) {
  if (line.find('\r') == std::string_view::npos) return;
  stopRun("Line " + std::to_string(lineNumber) + " of " + path +
                 " has a carriage return: the file has Windows line endings. Please convert it to Unix line "
                 "endings (for example with dos2unix).\n");
}

[[noreturn]] void stopOutOfMemory(const std::string& what) {
  stopRun("Out of memory while storing " + what + ".\n");
}

// A .bim allele column of "0" means the allele is unknown.
std::string bimAllele(std::string_view field) { return field == "0" ? std::string() : std::string(field); }

// The genotype file of a VCF data set: the first of PREFIX.bcf,
// PREFIX.vcf.gz and PREFIX.vcf that exists.
std::string vcfPathOf(const std::string& prefix) {
  for (const char* suffix : {".bcf", ".vcf.gz", ".vcf"}) {
    if (fileExists(prefix + suffix)) return prefix + suffix;
  }
  stopRun("None of " + prefix + ".bcf, " + prefix + ".vcf.gz and " + prefix + ".vcf exists.\n");
}

// The individuals of a data set in the order of its file (their seq).
std::vector<SampleName> namesInFileOrder(const std::vector<Pedigree>& peds) {
  size_t total = 0;
  for (const Pedigree& pedigree : peds) total += pedigree.members.size();
  std::vector<SampleName> names(total);
  for (const Pedigree& pedigree : peds) {
    for (const Individual& person : pedigree.members) names[static_cast<size_t>(person.seq)] = {pedigree.famId, person.indId};
  }
  return names;
}

void reportVcfSkips(const VcfSource& source, const std::string& path, const std::string& famPath) {
  const size_t ignored = source.ignoredSamples();
  if (ignored == 1) std::cout << "1 sample of " << path << " is not in " << famPath << " and is ignored.\n";
  if (ignored > 1) std::cout << ignored << " samples of " << path << " are not in " << famPath << " and are ignored.\n";
  const size_t skipped = source.skippedRecords();
  if (skipped == 1) std::cout << "1 record of " << path << " is not a biallelic SNP or indel and is skipped.\n";
  if (skipped > 1) {
    std::cout << skipped << " records of " << path << " are not biallelic SNPs or indels and are skipped.\n";
  }
}

}  // namespace

std::vector<std::string> SetInput::files() const {
  std::vector<std::string> paths;
  const auto add = [&paths](const std::string& prefix, std::initializer_list<const char*> extensions) {
    for (const char* extension : extensions) paths.push_back(prefix + extension);
  };
  if (bgenGiven) {
    add(bgen, {".bgen", ".bgen.bgi", ".sample", ".fam"});
  } else if (vcfGiven) {
    add(vcf, {".bcf", ".vcf.gz", ".vcf", ".fam"});
  } else if (binaryGiven) {
    add(binary, {".bim", ".fam", ".bed"});
  } else if (textGiven) {
    add(text, {".map", ".ped", ".map.gz", ".ped.gz"});
  }
  return paths;
}

bool canStream(const SetInput& input) {
  if (!input.given() || input.vcfGiven || input.bgenGiven) return true;
  return input.binaryGiven && isPlinkFileset(input.binary, true);
}

DataSetLoader::DataSetLoader(Cohort& cohortToFill, GenotypeStore& genotypes, LoadSettings loadSettings)
    : cohort(cohortToFill), store(genotypes), settings(std::move(loadSettings)) {}

void DataSetLoader::load(const SetInput& family, const SetInput& unrelated) {
  store.markers.clear();
  bgenIndexUsed = settings.bgenRegion.has_value();
  for (const SetInput* input : {&family, &unrelated}) {
    if (input->given() && !(input->bgenGiven && fileExists(input->bgen + ".bgen.bgi"))) bgenIndexUsed = false;
  }
  loadSet(family, cohort.family);
  loadSet(unrelated, cohort.unrelated);
}

// The family set, or an unrelated set read first, brings the marker list;
// an unrelated set read after it is aligned to it.
void DataSetLoader::loadSet(const SetInput& input, DataSet& set) {
  const bool unrelated = set.unrelated();
  announceChoice(input, set);
  if (input.bgenGiven) {
    readBgenSet(input.bgen, set);
  } else if (input.vcfGiven) {
    readVcfSet(input.vcf, set);
  } else if (input.binaryGiven && isPlinkFileset(input.binary)) {
    loadPlinkSet(input.binary, set);
  } else if (input.binaryGiven) {
    const std::string& p = input.binary;
    const bool sharedMarkers = unrelated && !store.markers.empty();
    if (!unrelated && fileExists(p + ".bim")) readMapFile(p + ".bim", 6);
    if (!unrelated) familyMarkerFile = p + ".bim";
    if (unrelated && !sharedMarkers) readMapFile(p + ".bim", 6);
    if (sharedMarkers) {
      loadUnrelatedBinarySet(p, set);
      return;
    }
    readPedigree(p + ".fam", set, true);
    readGenotype(p + ".bed", set);
  } else if (input.textGiven) {
    const std::string map = textInputPath(input.text, ".map");
    const std::string ped = textInputPath(input.text, ".ped");
    if (!unrelated && fileExists(map)) readMapFile(map, 4);
    if (!unrelated) familyMarkerFile = map;
    if (unrelated && !store.markers.empty() && fileExists(map)) {
      readUnrelatedOwnMap(map, ped, set);
      return;
    }
    if (unrelated && store.markers.empty()) readMapFile(map, 4);
    readPedigree(ped, set, false);
  }
}

void DataSetLoader::checkRowsFitMarkers() const {
  const long m = static_cast<long>(store.markerCount());
  for (const DataSet* set : {&cohort.family, &cohort.unrelated}) {
    if (set->size > 0 && set->markerCount != m) {
      stopRun(std::string("The ") + set->name() + " dataset was read with " + std::to_string(set->markerCount) +
              " snps, but the snp map lists " + std::to_string(m) + " snps. Please give the map file of the " +
              set->name() + " dataset.\n");
    }
  }
}

void DataSetLoader::readMapFile(const std::string& path, int mapColumns) {
  requireFile(path);
  std::istream& in = textInput.open(inputStream, path);
  std::cout << "Reading snp map: " << path << " ...\n";
  const bool bim = mapColumns == 6;
  readMarkers(in, path, bim, store.markers);
  // A new marker list starts its allele counts afresh.
  store.alleleCountBase = 0;
  store.bimCountPending = bim;
  std::cout << "Total " << store.markers.size() << " snps are read. \n\n";
}

// Reads the map lines of `in` into `list`.
void DataSetLoader::readMarkers(std::istream& in, const std::string& path, bool bim, std::vector<Marker>& list) {
  list.clear();
  const size_t needed = bim ? 7 : 4;
  LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    lineFields.clear();
    kMapSeparators.split(line, lineFields);
    if (lineFields.size() < needed) stopShortLine(path, reader.lineNumber(), lineFields.size(), needed);
    Marker marker;
    marker.setChromosome(lineFields[0]);
    marker.snpId = std::string(lineFields[1]);
    marker.position = positionOf(lineFields[3], path, reader.lineNumber());
    if (bim) {
      marker.allele1 = bimAllele(lineFields[4]);
      marker.allele2 = bimAllele(lineFields[5]);
      marker.allele2Count = leadingDouble(lineFields[6]);
      // The count stands in for missing genotypes; a negative, infinite or
      // not-a-number count would silently spread into every statistic.
      if (!(marker.allele2Count >= 0 && marker.allele2Count <= 1e300)) {
        stopRun("Line " + std::to_string(reader.lineNumber()) + " of " + path + " has the allele count " +
                       std::string(lineFields[6]) + ", which is not a count.\n");
      }
    }
    list.push_back(std::move(marker));
  }
}

Individual DataSetLoader::makeIndividual(int seq) const {
  Individual person;
  person.indId = std::string(lineFields[1]);
  person.fatherId = std::string(lineFields[2]);
  person.motherId = std::string(lineFields[3]);
  person.sexField = std::string(lineFields[4]);
  person.sex = sexOfField(lineFields[4]);
  person.trait = std::string(lineFields[5]);
  person.traitValue = leadingDouble(lineFields[5]);
  person.seq = seq;
  return person;
}

void DataSetLoader::tallyTrait(const std::string& trait) {
  if (trait == "1") {
    ++unaffectedCount;
  } else if (trait == "2") {
    ++affectedCount;
  } else if (trait == settings.missingTrait) {
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

void DataSetLoader::readPedigree(const std::string& path, DataSet& set, bool binary, TraitCodes codes) {
  std::vector<Pedigree>& peds = set.pedigrees;
  std::vector<GenotypeRow>& rows = set.rows;
  requireFile(path);
  std::istream& in = textInput.open(inputStream, path);
  std::cout << "Reading pedigree: " << path << " ...\n";
  rows.clear();
  peds.clear();
  maxFamilySize = affectedCount = unaffectedCount = missingTraitCount = otherTraitCount = 0;

  const size_t expected = 6 + 2 * store.markers.size();
  std::unordered_map<std::string, size_t> pedigreeOf;  // family ID -> position in peds
  // Family ID and individual ID (a tab cannot occur in either) -> line.
  std::unordered_map<std::string, long> lineOfIndividual;
  // The rows of a text set are allocated line by line; compare their total
  // with the memory the machine has before it is exhausted in the allocator.
  const double rowLength = rowBytes(static_cast<long>(store.markers.size()));
  double memoryLeft = binary ? 0 : availableMemoryBytes();
  if (!binary) alleleTable.attach(store.markers, settings.missingGenotype);
  // The codes of a line whose letters were coded before its checks.
  std::vector<unsigned char> lineCodes(static_cast<size_t>(rowBytes(static_cast<long>(store.markers.size()))));
  int seq = 0;
  int minusNineCount = 0;  // traits of -9 other than the --mt code
  LineReader reader(in);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    rejectCarriageReturn(line, path, reader.lineNumber());
    lineFields.clear();
    const size_t headerEnd = pedigreeSeparators().splitFirst(line, 6, lineFields);
    if (lineFields.size() < 6) stopShortLine(path, reader.lineNumber(), lineFields.size(), 6);
    // A text line left out here is never coded, as if it were not in the file.
    if (!binary && settings.admit && !settings.admit(lineFields[0], lineFields[1])) continue;
    // Most lines are one letter per allele: coded straight from the text,
    // which also proves their field count; the others are split into
    // fields and coded from those once the line's other checks pass.
    const std::string_view alleles = line.substr(headerEnd);
    const bool coded = !binary && alleleTable.codeLetters(alleles, lineCodes.data());
    if (!coded) pedigreeSeparators().split(alleles, lineFields);
    if (binary && lineFields.size() != 6) {
      std::cout << "Pedigree is not right.\n";
    } else if (!binary && !coded && lineFields.size() != expected) {
      stopRun("Individual " + std::string(lineFields[0]) + " " + std::string(lineFields[1]) +
                     " does not have same snp as snp map listed.\n");
    }
    if (seq == INT_MAX) stopRun("The file " + path + " has more individuals than this program can hold.\n");
    // Two individuals with one family ID and individual ID cannot be told
    // apart: parents, the PCA file and the components would all take the first.
    std::string key(lineFields[0]);
    key += '\t';
    key.append(lineFields[1].data(), lineFields[1].size());
    const auto seen = lineOfIndividual.emplace(std::move(key), reader.lineNumber());
    if (!seen.second) {
      stopRun("Individual " + std::string(lineFields[0]) + " " + std::string(lineFields[1]) + " on line " +
                     std::to_string(reader.lineNumber()) + " of " + path + " was already given on line " +
                     std::to_string(seen.first->second) + ".\n");
    }
    if (!binary) {
      memoryLeft -= rowLength;
      if (memoryLeft < 0) memoryLeft = availableMemoryBytes() - rowLength;  // measured again
      if (memoryLeft < 0) {
        stopRun("The genotypes of " + path + " need more memory than is left after " + std::to_string(seq) +
                " individuals (" + budgetClause() + "). " + moreMemoryAdvice() + ", or fewer snps or individuals.\n");
      }
    }
    Individual person = makeIndividual(seq);
    // An infinite or not-a-number trait would turn every statistic into
    // not-a-number without a word.
    if (!std::isfinite(person.traitValue) && person.trait != settings.missingTrait) {
      stopRun("Line " + std::to_string(reader.lineNumber()) + " of " + path + " has the trait " + person.trait +
                     ", which is not a finite number.\n");
    }
    if (person.trait != settings.missingTrait && isMinusNine(person.trait)) {
      ++minusNineCount;
      if (codes == TraitCodes::kPlink) {
        person.trait = settings.missingTrait;
        person.traitValue = leadingDouble(settings.missingTrait);
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
    if (!binary && !storeGenotypeRow(rows, seq, coded ? lineCodes.data() : nullptr)) stopRun("");
    ++seq;
  }

  alleleTable.addCounts(store.markers);
  int total = 0;
  for (const Pedigree& pedigree : peds) {
    const int size = static_cast<int>(pedigree.members.size());
    total += size;
    if (size > maxFamilySize) maxFamilySize = size;
  }
  set.size = total;
  set.markerCount = static_cast<long>(store.markers.size());
  set.selectedWhileReading = !binary;
  if (binary && store.bimCountPending) {
    store.alleleCountBase += total;
    store.bimCountPending = false;
  }
  printSampleSummary(set);
  reportMinusNine(path, minusNineCount, codes);
}

void DataSetLoader::reportMinusNine(const std::string& path, int count, TraitCodes codes) const {
  if (count == 0) return;
  const std::string people = count == 1 ? "1 individual of " + path + " has"
                                        : std::to_string(count) + " individuals of " + path + " have";
  if (codes == TraitCodes::kPlink) {
    std::cout << people << " the trait -9, PLINK's missing code, counted as missing.\n";
  } else {
    std::cout << people << " the trait -9, read as a quantitative value; give --mt -9 to make it missing.\n";
  }
}

void DataSetLoader::printSampleSummary(const DataSet& set) const {
  std::cout << kSeparatorLine << "The total sample size is: " << set.size << "\n\n";
  if (set.unrelated()) {
    std::cout << "Case-Control dataset (1 unaffected, 2 affected, " << settings.missingTrait << " missing)\n";
    std::cout << "unafftect: " << unaffectedCount << " , affect: " << affectedCount
              << ", unkown(or missing): " << missingTraitCount << ".\n";
  } else {
    std::cout << "Family dataset (1 unaffected, 2 affected, " << settings.missingTrait << " missing)\n";
    std::cout << "Family number : " << set.pedigrees.size() << "\nMax family size :" << maxFamilySize << "\n";
    std::cout << "unafftect: " << unaffectedCount << ", affect: " << affectedCount
              << ", unkown(or missing): " << missingTraitCount << ".\n";
  }
  if (otherTraitCount != 0) {
    std::cout << "There are " << otherTraitCount << " with unknown or quantitative trait.\n";
  }
  std::cout << kSeparatorLine;
}

bool DataSetLoader::storeGenotypeRow(std::vector<GenotypeRow>& rows, int seq, const unsigned char* codes) {
  const int length = rowBytes(static_cast<long>(store.markers.size()));
  unsigned char* row = store.newRow(length);
  if (row == nullptr) stopOutOfMemory("the genotypes of individual " + std::to_string(seq + 1));
  if (codes != nullptr) {
    std::memcpy(row, codes, static_cast<size_t>(length));
  } else if (!codeAlleleFields(row, seq)) {
    return false;
  }
  rows.push_back(GenotypeRow{seq, row, seq});
  alleleTable.countRow(row);
  ++store.alleleCountBase;
  return true;
}

bool DataSetLoader::codeAlleleFields(unsigned char* row, int seq) {
  const size_t markerCount = store.markers.size();
  std::memset(row, 0, static_cast<size_t>(rowBytes(static_cast<long>(markerCount))));
  const std::string_view missing(settings.missingGenotype);
  const size_t pairs = (lineFields.size() - 6) / 2;
  unsigned packed = 0;
  for (size_t s = 0; s < pairs && s < markerCount; ++s) {
    const std::string_view a1 = lineFields[6 + 2 * s];
    const std::string_view a2 = lineFields[7 + 2 * s];
    unsigned code = 3;
    const bool missing1 = sameText(a1, missing);
    const bool missing2 = sameText(a2, missing);
    if (missing1 != missing2) {
      std::cout << "genotype of snp " << store.markers[s].snpId << " in " << (seq + 1)
                << "th line is not correct, only one allele is missing!\n";
      return false;
    }
    if (!missing1) {
      const int pairCode = alleleTable.code(s, a1, a2);
      if (pairCode < 0) {
        std::cout << "The allele of marker " << store.markers[s].snpId << " (chromosome " << store.markers[s].chr
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

void DataSetLoader::readGenotype(const std::string& path, DataSet& set) {
  std::vector<GenotypeRow>& rows = set.rows;
  requireFile(path);
  openInput(inputStream, path, std::ios_base::binary);
  std::cout << "Reading binary genotype: " << path << " ...\n";
  rows.clear();
  const int length = rowBytes(static_cast<long>(store.markers.size()));
  const int n = set.size;
  // All rows are allocated before any is used; a file too short for them
  // stops at its first incomplete row, so only what it holds can be needed.
  struct stat status {};
  double needed = static_cast<double>(n) * length;
  if (stat(path.c_str(), &status) == 0 && static_cast<double>(status.st_size) < needed) {
    needed = static_cast<double>(status.st_size);
  }
  requireMemory(needed,
                       "The genotypes of " + std::to_string(n) + " individuals and " +
                           std::to_string(store.markers.size()) + " snps",
                       moreMemoryAdvice() + ", or fewer snps or individuals.");
  for (int i = 0; i < n; ++i) {
    if (inputStream.eof()) {
      stopRun("Can not read the total genotype of all" + std::to_string(n) +
                     "individuals.The data file is not mathch the snp map file and pedigree file.\n");
    }
    unsigned char* row = store.newRow(length);
    if (row == nullptr) stopOutOfMemory("the genotypes of " + path);
    inputStream.read(reinterpret_cast<char*>(row), length);
    if (!inputStream || inputStream.gcount() != length) stopRun("Read binary file failed.\n");
    rows.push_back(GenotypeRow{i, row, i});
  }
  std::cout << "Genotype have been loaded.\n";
}

// The family set, or an unrelated set read first, brings the marker list;
// an unrelated set read after another set is aligned to it as Ombra's own
// binary sets are. The allele counts come from the genotypes as they are
// loaded (a PLINK .bim stores none), so bimCountPending stays false.
void DataSetLoader::loadPlinkSet(const std::string& prefix, DataSet& set) {
  const std::string bimPath = prefix + ".bim";
  const std::string famPath = prefix + ".fam";
  const std::string bedPath = prefix + ".bed";
  const bool sharedMarkers = set.unrelated() && store.markerCount() > 0;
  if (!sharedMarkers) std::cout << "Reading snp map: " << bimPath << " ...\n";
  if (!set.unrelated()) familyMarkerFile = bimPath;
  if (store.streaming()) {
    openPlinkStream(prefix, set, sharedMarkers);
    return;
  }
  std::vector<Marker> own = readPlinkBim(bimPath);
  if (!sharedMarkers) {
    store.markers = own;
    store.alleleCountBase = 0;
    store.bimCountPending = false;
    std::cout << "Total " << store.markers.size() << " snps are read. \n\n";
  }
  readPedigree(famPath, set, true, TraitCodes::kPlink);
  auto source = std::make_unique<PlinkBedSource>(bedPath, bimPath, famPath, std::move(own),
                                                 static_cast<size_t>(set.size));
  std::cout << "Reading PLINK 1 binary genotype: " << bedPath << " ...\n";
  loadRows(*source, store.rowMemory(), set.rows);
  std::cout << "Genotype have been loaded.\n";
  if (sharedMarkers) {
    joinUnrelated(source->markers(), bimPath, set);
    return;
  }
  for (size_t s = 0; s < store.markers.size(); ++s) store.markers[s].allele2Count += source->markers()[s].allele2Count;
  store.alleleCountBase += set.size;
}

// As loadPlinkSet, without loading: the .bim is read one line at a time
// whenever the markers are needed, and the .bed as the run goes.
void DataSetLoader::openPlinkStream(const std::string& prefix, DataSet& set, bool shared) {
  const std::string bimPath = prefix + ".bim";
  const std::string famPath = prefix + ".fam";
  const std::string bedPath = prefix + ".bed";
  auto reader = std::make_unique<BimReader>(bimPath);
  const size_t own = countMarkers(*reader);
  std::vector<bool> swapped;
  if (!shared) store.streamMarkers(std::move(reader));
  readPedigree(famPath, set, true, TraitCodes::kPlink);
  set.markerCount = static_cast<long>(own);
  auto source = std::make_unique<PlinkBedSource>(bedPath, bimPath, famPath, own, static_cast<size_t>(set.size));
  std::cout << "Reading PLINK 1 binary genotype: " << bedPath << " ...\n";
  std::cout << "Genotype have been loaded.\n";
  if (shared) swapped = joinStreamed(std::move(reader), bimPath);
  store.startStream(set, std::move(source), std::move(swapped));
  if (shared) matchStreamedSource(set);
}

namespace {

// One line for the records without the dosage field and the samples whose
// value is left out or "." beside a GT call, all read as their GT calls.
void reportCallsAsDosages(const VcfSource& source, const std::string& path) {
  const std::string field = dosageFieldName(source.dosageField());
  const size_t records = source.recordsWithoutField(), samples = source.samplesTakingCalls();
  if (records == 0 && samples == 0) return;
  if (records > 0) std::cout << records << " records of " << path << " have no " << field << " field";
  if (records > 0 && samples > 0) std::cout << ", and in the others ";
  if (records == 0 && samples > 0) std::cout << "In " << path << " ";
  if (samples > 0) std::cout << samples << " called samples leave out their " << field << " or give \".\"";
  std::cout << ": their GT calls are read as dosages.\n";
}

}  // namespace

void DataSetLoader::readVcfSet(const std::string& prefix, DataSet& set) {
  const std::string path = vcfPathOf(prefix);
  const std::string famPath = prefix + ".fam";
  readPedigree(famPath, set, true, TraitCodes::kPlink);

  std::cout << "Reading VCF genotypes: " << path << " ...\n";
  auto source = std::make_unique<VcfSource>(path, namesInFileOrder(set.pedigrees), famPath, settings.vcfDosage);
  reportVcfSkips(*source, path, famPath);
  reportCallsAsDosages(*source, path);
  takeSource(std::move(source), path, set);
}

void DataSetLoader::readBgenSet(const std::string& prefix, DataSet& set) {
  const std::string path = prefix + ".bgen";
  const std::string famPath = prefix + ".fam";
  const std::string samplePath = fileExists(prefix + ".sample") ? prefix + ".sample" : std::string();
  readPedigree(famPath, set, true, TraitCodes::kPlink);
  std::cout << "Reading BGEN dosages: " << path << " ...\n";
  // Through bgenix's index only: a region read through the file is left to
  // the selection, which knows every spelling of a chromosome.
  const bool indexed = bgenIndexUsed;
  auto source = std::make_unique<BgenSource>(path, samplePath, namesInFileOrder(set.pedigrees), famPath,
                                             indexed ? &*settings.bgenRegion : nullptr);
  const size_t ignored = source->ignoredSamples();
  if (ignored > 0) std::cout << ignored << " samples of " << path << " are not in " << famPath << " and are ignored.\n";
  if (source->skippedRecords() > 0) {
    std::cout << source->skippedRecords() << " records of " << path << " have more than two alleles and are skipped.\n";
  }
  takeSource(std::move(source), path, set);
}

// A SNP-major source (VCF/BCF, BGEN) streamed or loaded into the store.
void DataSetLoader::takeSource(std::unique_ptr<GenotypeSource> source, const std::string& path, DataSet& set) {
  source->keepVariances(settings.probabilityInfo);
  set.probabilities = source->hasDosages() && source->givesVariances();
  const long count = static_cast<long>(source->markers().size());
  const bool sharedMarkers = set.unrelated() && store.markerCount() > 0;
  if (!set.unrelated()) familyMarkerFile = path;
  if (store.streaming()) {
    // The source holds the sites, which the run reads as it goes.
    auto sites = std::make_unique<HeldMarkers>(source->markers());
    std::vector<bool> swapped;
    if (sharedMarkers) {
      swapped = joinStreamed(std::move(sites), path);
    } else {
      store.streamMarkers(std::move(sites));
    }
    set.markerCount = count;
    store.startStream(set, std::move(source), std::move(swapped));
    if (sharedMarkers) matchStreamedSource(set);
    std::cout << "Genotype have been loaded.\n";
    return;
  }
  loadRows(*source, store.rowMemory(), set.rows);

  // Like a .bim, the file brings the markers unless the family set already
  // did; then its codes are turned to count the shared second allele.
  if (sharedMarkers) {
    joinUnrelated(source->markers(), path, set);
  } else {
    store.markers = source->markers();
    store.alleleCountBase = set.size;
    store.bimCountPending = false;
    std::cout << "Total " << store.markers.size() << " snps are read. \n\n";
    set.markerCount = count;
  }
  std::cout << "Genotype have been loaded.\n";
}

}  // namespace ombra
