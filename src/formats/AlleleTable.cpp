#include "formats/AlleleTable.h"

#include <algorithm>

#include "core/Records.h"
#include "core/RunEnd.h"

const ombra::FieldSplitter& pedigreeSeparators() {
  static const ombra::FieldSplitter separators("\t /");
  return separators;
}

// Rows: the role of the first letter; columns: of the second.
const unsigned char AlleleTable::kPairCodes[16] = {
    kNoCode, kNoCode, kNoCode, kNoCode,  // a letter that is no allele of the marker
    kNoCode, 0,       1,       kNoCode,  // first allele
    kNoCode, 1,       2,       kNoCode,  // second allele
    kNoCode, kNoCode, kNoCode, 3,        // missing: only with the other missing too
};

void AlleleTable::attach(std::vector<Marker>& markers, const std::string& missing) {
  if (attached == &markers && roles.size() == markers.size() && missingCode == missing) return;
  attached = &markers;
  missingCode = missing;
  const unsigned missingClass = classOf(missingCode);
  missingRoles = missingClass == 0 ? 0 : static_cast<Roles>(kMissing << (2 * missingClass));
  roles.resize(markers.size());
  for (size_t s = 0; s < markers.size(); ++s) updateRoles(s);
  counts.assign(markers.size(), 0);
  pendingCounts.assign((markers.size() + 3) / 4, 0);
  pendingRows = 0;
}

unsigned AlleleTable::classOf(std::string_view allele) {
  // A separator (a .bim allele may be "/") is never a field of a .ped line;
  // as a class it would let a separator pass for an allele.
  if (allele.size() != 1 || pedigreeSeparators().isSeparator(allele[0])) return 0;
  unsigned char& given = letterClass[static_cast<unsigned char>(allele[0])];
  if (given == 0 && classesGiven < kClasses) given = static_cast<unsigned char>(classesGiven++);
  return given;
}

void AlleleTable::updateRoles(size_t s) {
  const Marker& marker = (*attached)[s];
  const unsigned first = classOf(marker.allele1);
  const unsigned second = classOf(marker.allele2);
  unsigned bits = 0;
  if (first != 0) bits |= kFirst << (2 * first);
  if (second != 0) bits |= kSecond << (2 * second);
  roles[s] = static_cast<Roles>(bits);
}

int AlleleTable::slowCode(size_t s, std::string_view a1, std::string_view a2) {
  const int first = place(s, a1);
  const int second = first == 0 ? 0 : place(s, a2);
  if (second == 0) return -1;
  return (first == 2) + (second == 2);
}

int AlleleTable::place(size_t s, std::string_view allele) {
  Marker& marker = (*attached)[s];
  int where = 0;
  if (sameText(allele, marker.allele1)) {
    where = 1;
  } else if (sameText(allele, marker.allele2)) {
    where = 2;
  } else if (marker.allele1.empty()) {
    marker.allele1.assign(allele.data(), allele.size());
    where = 1;
  } else if (marker.allele2.empty()) {
    marker.allele2.assign(allele.data(), allele.size());
    where = 2;
  }
  updateRoles(s);
  return where;
}

// The layout of a line of one-letter alleles: marker s at offsets 4s
// (first allele), 4s + 1 (separator), 4s + 2 (second allele) and 4s + 3
// (separator, or the end of the line for the last marker). Marker groups of
// four, the markers of one byte of the row, are checked and coded at once
// while their separators repeat those of the first marker and their
// letters are known alleles or missing; any other group goes marker by
// marker through the checks of the field-by-field coding.
class AlleleTable::LetterCoder {
 public:
  LetterCoder(AlleleTable& owner, std::string_view text)
      : table(owner), alleles(text), markerCount(owner.roles.size()) {
    size_t start = 0;
    while (start < alleles.size() && isSeparator(alleles[start])) ++start;
    alleles.remove_prefix(start);
  }

  bool code(unsigned char* row) {
    if (markerCount == 0 || alleles.size() < 4 * markerCount - 1) return false;
    for (size_t i = 4 * markerCount - 1; i < alleles.size(); ++i) {
      if (!isSeparator(alleles[i])) return false;  // more fields than markers
    }
    // Groups before the one of the last marker read all their 16 bytes.
    const size_t quickGroups = (markerCount - 1) / 4;
    if (quickGroups > 0) {
      if (!isSeparator(alleles[1]) || !isSeparator(alleles[3])) return false;
      separatorPattern = patternOf(alleles[1], alleles[3]);
    }
    for (size_t g = 0; g < quickGroups; ++g) {
      if (!codeQuickGroup(g, row[g]) && !codeGroup(g, row[g])) return false;
    }
    for (size_t g = quickGroups; g < (markerCount + 3) / 4; ++g) {
      if (!codeGroup(g, row[g])) return false;
    }
    return true;
  }

 private:
  static bool isSeparator(char c) { return pedigreeSeparators().isSeparator(c); }
  static uint64_t load(const char* p) {
    uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  static uint64_t patternOf(char afterFirst, char afterSecond) {
    const char bytes[8] = {0, afterFirst, 0, afterSecond, 0, afterFirst, 0, afterSecond};
    return load(bytes);
  }
  // Selects the bytes at offsets 1, 3, 5 and 7, whatever the byte order.
  static uint64_t oddBytes() {
    static const uint64_t mask = [] {
      const char bytes[8] = {0, -1, 0, -1, 0, -1, 0, -1};
      return load(bytes);
    }();
    return mask;
  }

  // The four markers of group g when their separators are those of the
  // first marker and every genotype is two known alleles or missing; false
  // (row byte undefined) otherwise.
  bool codeQuickGroup(size_t g, unsigned char& out) const {
    const char* p = alleles.data() + 16 * g;
    const uint64_t mask = oddBytes();
    if (((load(p) & mask) != separatorPattern) | ((load(p + 8) & mask) != separatorPattern)) return false;
    const Roles* markerRoles = table.roles.data() + 4 * g;
    unsigned packed = 0;
    unsigned seen = 0;
    for (int i = 0; i < 4; ++i) {
      const Roles roles = markerRoles[i] | table.missingRoles;
      const unsigned code = pairCode(table.roleOf(roles, p[4 * i]), table.roleOf(roles, p[4 * i + 2]));
      seen |= code;
      packed = (packed << 2) | (code & 3);
    }
    out = static_cast<unsigned char>(packed);
    return (seen & kNoCode) == 0;
  }

  // Group g marker by marker, with the checks and the allele placing of the
  // field-by-field coding; the last group may hold fewer than four.
  bool codeGroup(size_t g, unsigned char& out) {
    const size_t first = 4 * g;
    const size_t end = std::min(first + 4, markerCount);
    unsigned packed = 0;
    for (size_t s = first; s < end; ++s) {
      const char* p = alleles.data() + 4 * s;
      if (isSeparator(p[0]) || !isSeparator(p[1]) || isSeparator(p[2])) return false;
      if (s + 1 < markerCount && !isSeparator(p[3])) return false;
      const int code = codeMarker(s, std::string_view(p, 1), std::string_view(p + 2, 1));
      if (code < 0) return false;
      packed = (packed << 2) | static_cast<unsigned>(code);
    }
    out = static_cast<unsigned char>(packed << (2 * (first + 4 - end)));
    return true;
  }

  int codeMarker(size_t s, std::string_view a1, std::string_view a2) {
    const bool missing1 = sameText(a1, table.missingCode);
    if (missing1 != sameText(a2, table.missingCode)) return -1;
    return missing1 ? 3 : table.code(s, a1, a2);
  }

  AlleleTable& table;
  std::string_view alleles;
  size_t markerCount;
  uint64_t separatorPattern = 0;
};

bool AlleleTable::codeLetters(std::string_view alleles, unsigned char* row) {
  return LetterCoder(*this, alleles).code(row);
}

namespace {

// Per byte of a row: the copies of the second allele of its four slots, one
// byte each (slot 0, the top bits, in the lowest byte); missing counts 0.
struct CopiesTable {
  uint32_t entries[256];
  CopiesTable() {
    for (unsigned b = 0; b < 256; ++b) {
      uint32_t lanes = 0;
      for (unsigned slot = 0; slot < 4; ++slot) {
        const unsigned code = (b >> (2 * (3 - slot))) & 3;
        lanes |= (code == 3 ? 0u : code) << (8 * slot);
      }
      entries[b] = lanes;
    }
  }
};

}  // namespace

void AlleleTable::countRow(const unsigned char* row) {
  static const CopiesTable copies;
  for (size_t b = 0; b < pendingCounts.size(); ++b) pendingCounts[b] += copies.entries[row[b]];
  if (++pendingRows == 127) flushCounts();
}

void AlleleTable::flushCounts() {
  for (size_t b = 0; b < pendingCounts.size(); ++b) {
    for (size_t slot = 0; slot < 4 && 4 * b + slot < counts.size(); ++slot) {
      counts[4 * b + slot] += (pendingCounts[b] >> (8 * slot)) & 0xFF;
    }
    pendingCounts[b] = 0;
  }
  pendingRows = 0;
}

void AlleleTable::addCounts(std::vector<Marker>& markers) {
  if (attached == &markers) {
    flushCounts();
    for (size_t s = 0; s < markers.size() && s < counts.size(); ++s) markers[s].allele2Count += counts[s];
  }
  attached = nullptr;
  roles.clear();
  counts.clear();
  pendingCounts.clear();
  pendingRows = 0;
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
