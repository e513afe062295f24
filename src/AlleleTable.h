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

struct Marker;

// Exact text equality, quick for the usual one-letter allele.
inline bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 1) return a[0] == b[0];
  return a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0;
}

class AlleleTable {
 public:
  // Takes the alleles of `markers` unless the table already follows them.
  void attach(std::vector<Marker>& markers);
  // The genotype code (copies of the second allele) of the allele pair
  // a1, a2 (neither missing) at marker s, or -1 for a third allele. An
  // allele not seen yet becomes the marker's first, then its second allele,
  // a1 before a2.
  int code(size_t s, std::string_view a1, std::string_view a2) {
    const int quick = quickCode(s, a1, a2);
    return quick >= 0 ? quick : slowCode(s, a1, a2);
  }
  void count(size_t s, unsigned copies) { counts[s] += copies; }
  // Adds the counted copies to the markers' allele2Count and detaches.
  void addCounts(std::vector<Marker>& markers);

 private:
  // 0: unknown allele; 1..256: the one-letter allele c as c + 1; kLong: an
  // allele of several letters, compared through the marker's string.
  static constexpr uint16_t kLong = 0xFFFF;
  static uint16_t keyOf(std::string_view allele) {
    if (allele.empty()) return 0;
    return allele.size() == 1 ? static_cast<uint16_t>(static_cast<unsigned char>(allele[0]) + 1) : kLong;
  }
  struct Keys {
    uint16_t first;
    uint16_t second;
  };

  // Both alleles one letter and both known: decided without a branch on
  // which they are, since real genotypes make that branch unpredictable.
  int quickCode(size_t s, std::string_view a1, std::string_view a2) const {
    if (a1.size() != 1 || a2.size() != 1) return -1;
    const Keys known = keys[s];
    const uint16_t k1 = keyOf(a1);
    const uint16_t k2 = keyOf(a2);
    const bool both = ((k1 == known.first) | (k1 == known.second)) & ((k2 == known.first) | (k2 == known.second));
    if (!both) return -1;
    return (k1 == known.second) + (k2 == known.second);
  }
  // Discovers alleles through the marker's strings.
  int slowCode(size_t s, std::string_view a1, std::string_view a2);
  // 1 or 2 for the marker's first or second allele, 0 for a third one.
  int place(size_t s, std::string_view allele);

  std::vector<Marker>* attached = nullptr;
  std::vector<Keys> keys;
  std::vector<uint32_t> counts;
};

#endif  // OMBRA_ALLELETABLE_H
