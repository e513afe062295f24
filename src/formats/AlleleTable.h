// The two alleles of every marker in a compact table, for coding text
// genotypes: a .ped line of 100,000 SNPs then walks 4 bytes per SNP instead
// of the marker records with their strings, and counts the second allele in
// integers that are added to the markers once the file has been read.
#ifndef OMBRA_ALLELETABLE_H
#define OMBRA_ALLELETABLE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/RunEnd.h"
#include "core/Text.h"

struct Marker;

// True when a second data set's codes, made against its own marker `own`,
// count the first allele of the shared marker; places own's alleles that
// `shared` does not know yet, and stops the run on a third allele.
bool codesCountFirstAllele(Marker& shared, const Marker& own);

// The characters that separate the fields of a .ped or .fam line.
const ombra::FieldSplitter& pedigreeSeparators();

// Exact text equality, quick for the usual one-letter allele.
inline bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 1) return a[0] == b[0];
  return a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0;
}

class AlleleTable {
 public:
  // Takes the alleles of `markers` and the missing-allele code `missing`
  // unless the table already follows them, and starts the counts afresh
  // when it takes them.
  void attach(std::vector<Marker>& markers, const std::string& missing);
  // The genotype code (copies of the second allele) of the allele pair
  // a1, a2 (neither missing) at marker s, or -1 for a third allele. An
  // allele not seen yet becomes the marker's first, then its second allele,
  // a1 before a2.
  int code(size_t s, std::string_view a1, std::string_view a2) {
    const int quick = quickCode(s, a1, a2);
    return quick >= 0 ? quick : slowCode(s, a1, a2);
  }

  // Codes the allele fields of a .ped line, `alleles` (the line after its
  // sixth field), into `row` (rowBytes of the markers), when they have the
  // usual layout: one letter per allele, one separator after each (any
  // number after the last) and two alleles per marker. Places an allele not
  // seen yet as code() does. Returns false when the fields have another
  // layout or a genotype is wrong (one allele missing, a third allele): the
  // caller then codes the line field by field, which gives the same alleles
  // and codes where this succeeds and reports what it refused. `row` is then
  // undefined.
  bool codeLetters(std::string_view alleles, unsigned char* row);

  // Counts the second alleles of a coded row (one that belongs to the data
  // set; code 3, missing, counts nothing).
  void countRow(const unsigned char* row);
  // Adds the counted copies to the markers' allele2Count and detaches.
  void addCounts(std::vector<Marker>& markers);

 private:
  // A genotype is coded from the roles its two letters play at its marker:
  // every letter that is a one-letter allele of some marker gets a class
  // (while classes last), and each marker keeps the role of every class, two
  // bits each: kOther (not an allele of the marker, or a letter without a
  // class), kFirst, kSecond, or kMissing (the missing code's class, at every
  // marker, whatever else it is).
  enum Role : unsigned { kOther = 0, kFirst = 1, kSecond = 2, kMissing = 3 };
  static constexpr int kClasses = 8;  // class 0: letters without a class
  using Roles = uint16_t;             // 2 bits per class
  static constexpr unsigned kNoCode = 4;

  Role roleOf(Roles roles, char letter) const {
    return static_cast<Role>((roles >> (2 * letterClass[static_cast<unsigned char>(letter)])) & 3);
  }
  // The code of a genotype whose letters play roles r1, r2, or kNoCode when
  // the letters are not two alleles of the marker or both missing.
  static unsigned pairCode(Role r1, Role r2) { return kPairCodes[4 * r1 + r2]; }
  static const unsigned char kPairCodes[16];

  // Both alleles one letter and known: decided without a branch on which
  // they are, since real genotypes make that branch unpredictable.
  int quickCode(size_t s, std::string_view a1, std::string_view a2) const {
    if (a1.size() != 1 || a2.size() != 1) return -1;
    const unsigned pair = pairCode(roleOf(roles[s], a1[0]), roleOf(roles[s], a2[0]));
    return pair < kMissing ? static_cast<int>(pair) : -1;
  }
  // Discovers alleles through the marker's strings.
  int slowCode(size_t s, std::string_view a1, std::string_view a2);
  // 1 or 2 for the marker's first or second allele, 0 for a third one.
  int place(size_t s, std::string_view allele);
  // The roles of marker s from its alleles.
  void updateRoles(size_t s);
  // The class of `allele`, given one while classes last; 0 when it has none
  // (several letters, a separator, or no class left).
  unsigned classOf(std::string_view allele);

  // The letter layout of codeLetters, in the class's own file.
  class LetterCoder;
  void flushCounts();

  std::vector<Marker>* attached = nullptr;
  std::string missingCode;
  unsigned char letterClass[256] = {};
  unsigned classesGiven = 1;
  Roles missingRoles = 0;  // kMissing for the missing code's class
  std::vector<Roles> roles;
  std::vector<uint32_t> counts;
  // Copies of the second allele of rows counted since the last flush, four
  // markers (a row's byte) to an entry, a byte each: a row adds at most 2,
  // so that 127 rows fit before the bytes are added to `counts`.
  std::vector<uint32_t> pendingCounts;
  int pendingRows = 0;
};

#endif  // OMBRA_ALLELETABLE_H
