#include "formats/SnpMatch.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/Chromosome.h"
#include "core/RunEnd.h"

namespace ombra {

namespace {

char complementOf(char base) {
  switch (base) {
    case 'A': return 'T';
    case 'T': return 'A';
    case 'C': return 'G';
    case 'G': return 'C';
    case 'a': return 't';
    case 't': return 'a';
    case 'c': return 'g';
    case 'g': return 'c';
    default: return 0;
  }
}

bool isBase(const std::string& allele) { return allele.size() == 1 && complementOf(allele[0]) != 0; }

std::string complement(const std::string& allele) { return std::string(1, complementOf(allele[0])); }

// An unknown allele fits any.
bool fits(const std::string& a, const std::string& b) { return a == b || a.empty() || b.empty(); }

// Whether other's pair (o1, o2), in this order, can be family's (f1, f2):
// each allele fits, and no known allele of one sits in the other's other
// place.
bool fitsInOrder(const std::string& f1, const std::string& f2, const std::string& o1, const std::string& o2) {
  if (!fits(f1, o1) || !fits(f2, o2)) return false;
  return (o2.empty() || o2 != f1) && (o1.empty() || o1 != f2);
}

Alignment orientation(const std::string& f1, const std::string& f2, const std::string& o1, const std::string& o2) {
  if (o1 == f1 && o2 == f2) return Alignment::kAsWritten;
  if (o1 == f2 && o2 == f1) return Alignment::kSwapped;
  if (fitsInOrder(f1, f2, o1, o2)) return Alignment::kAsWritten;
  if (fitsInOrder(f1, f2, o2, o1)) return Alignment::kSwapped;
  return Alignment::kOther;
}

// The key of a SNP's place: its chromosome's code (or its name where it has
// none) and position.
std::string placeKey(const Marker& marker) {
  const std::string chromosome = marker.chrCode != kOtherChromosome ? "#" + std::to_string(marker.chrCode) : "=" + marker.chr;
  return chromosome + ":" + std::to_string(marker.position);
}

std::string describe(const Marker& marker) {
  return marker.snpId + " (" + marker.chr + ":" + std::to_string(marker.position) + " " +
         (marker.allele1.empty() ? "0" : marker.allele1) + "/" + (marker.allele2.empty() ? "0" : marker.allele2) + ")";
}

// The family marker with its unknown alleles taken from `other`.
Marker filledIn(Marker family, const Marker& other, Alignment a) {
  const bool swapped = swapsCodes(a);
  if (family.allele1.empty()) family.allele1 = swapped ? other.allele2 : other.allele1;
  if (family.allele2.empty()) family.allele2 = swapped ? other.allele1 : other.allele2;
  family.allele2Count = 0;
  return family;
}

std::vector<size_t> keptSnps(const std::vector<Marker>& list, const std::function<bool(const Marker&)>& keeps) {
  std::vector<size_t> kept;
  kept.reserve(list.size());
  for (size_t s = 0; s < list.size(); ++s) {
    if (!keeps || keeps(list[s])) kept.push_back(s);
  }
  return kept;
}

void stopOnDuplicate(const std::vector<Marker>& list, const std::vector<size_t>& kept, const std::string& name) {
  std::unordered_map<std::string, size_t> seen;
  for (size_t s : kept) {
    const auto found = seen.emplace(list[s].snpId, s);
    if (found.second) continue;
    stopRun("The snp ID " + list[s].snpId + " appears twice in " + name + " (snps " +
            std::to_string(found.first->second + 1) + " and " + std::to_string(s + 1) +
            "), so the snps cannot be matched by ID. Please remove one of them (--exclude), or match by "
            "position (--match-by position).\n");
  }
}

// For each family SNP, the unrelated candidates its key finds.
class Candidates {
 public:
  Candidates(const std::vector<Marker>& list, const std::vector<size_t>& kept, MatchBy by) : by(by) {
    for (size_t s : kept) index[keyOf(list[s])].push_back(s);
  }
  const std::vector<size_t>* find(const Marker& marker) const {
    const auto found = index.find(keyOf(marker));
    return found == index.end() ? nullptr : &found->second;
  }

 private:
  std::string keyOf(const Marker& marker) const { return by == MatchBy::kId ? marker.snpId : placeKey(marker); }
  MatchBy by;
  std::unordered_map<std::string, std::vector<size_t>> index;
};

}  // namespace

Alignment alignAlleles(const Marker& family, const Marker& other) {
  const std::string &f1 = family.allele1, &f2 = family.allele2, &o1 = other.allele1, &o2 = other.allele2;
  const Alignment written = orientation(f1, f2, o1, o2);
  if (written != Alignment::kOther) return written;
  const bool flippable = isBase(f1) && isBase(f2) && isBase(o1) && isBase(o2) && f1 != complement(f2);
  if (!flippable) return Alignment::kOther;
  const Alignment flipped = orientation(f1, f2, complement(o1), complement(o2));
  if (flipped == Alignment::kAsWritten) return Alignment::kFlipped;
  if (flipped == Alignment::kSwapped) return Alignment::kFlippedSwapped;
  return Alignment::kOther;
}

bool sameSnpList(const std::vector<Marker>& family, const std::vector<Marker>& unrelated, MatchBy by) {
  if (family.size() != unrelated.size()) return false;
  for (size_t s = 0; s < family.size(); ++s) {
    const Marker &a = family[s], &b = unrelated[s];
    const bool same = by == MatchBy::kId ? a.snpId == b.snpId
                                         : a.position == b.position && sameChromosome(a.chrCode, a.chr, b.chrCode, b.chr);
    if (!same) return false;
  }
  return true;
}

SnpMatch matchSnps(const std::vector<Marker>& family, const std::vector<Marker>& unrelated, MatchBy by,
                   const std::function<bool(const Marker&)>& keepsFamily,
                   const std::function<bool(const Marker&)>& keepsUnrelated, const std::string& familyName,
                   const std::string& unrelatedName) {
  const std::vector<size_t> familyKept = keptSnps(family, keepsFamily);
  const std::vector<size_t> unrelatedKept = keptSnps(unrelated, keepsUnrelated);
  if (by == MatchBy::kId) {
    stopOnDuplicate(family, familyKept, familyName);
    stopOnDuplicate(unrelated, unrelatedKept, unrelatedName);
  }
  SnpMatch match;
  match.familyUnselected = family.size() - familyKept.size();
  match.unrelatedUnselected = unrelated.size() - unrelatedKept.size();
  const Candidates candidates(unrelated, unrelatedKept, by);
  std::vector<char> found(unrelated.size(), 0);
  for (size_t f : familyKept) {
    const Marker& marker = family[f];
    const std::vector<size_t>* options = candidates.find(marker);
    size_t chosen = unrelated.size(), firstFree = unrelated.size();
    Alignment alignment = Alignment::kOther;
    for (size_t k = 0; options != nullptr && k < options->size() && chosen == unrelated.size(); ++k) {
      const size_t u = (*options)[k];
      if (found[u]) continue;
      if (firstFree == unrelated.size()) firstFree = u;
      alignment = alignAlleles(marker, unrelated[u]);
      if (alignment != Alignment::kOther) chosen = u;
    }
    if (chosen == unrelated.size() && firstFree == unrelated.size()) {
      ++match.familyOnly;
      match.leftOut.push_back(describe(marker) + ": in " + familyName + " only");
      continue;
    }
    if (chosen == unrelated.size()) {
      found[firstFree] = 1;
      ++match.otherAlleles;
      match.leftOut.push_back(describe(marker) + ": other alleles in " + unrelatedName + ", " +
                              describe(unrelated[firstFree]));
      continue;
    }
    found[chosen] = 1;
    match.familySnps.push_back(f);
    match.unrelatedSnps.push_back(chosen);
    match.swapped.push_back(swapsCodes(alignment));
    match.markers.push_back(filledIn(marker, unrelated[chosen], alignment));
    if (swapsCodes(alignment)) ++match.swaps;
    if (alignment == Alignment::kFlipped || alignment == Alignment::kFlippedSwapped) ++match.flips;
  }
  for (size_t u : unrelatedKept) {
    if (found[u]) continue;
    ++match.unrelatedOnly;
    match.leftOut.push_back(describe(unrelated[u]) + ": in " + unrelatedName + " only");
  }
  return match;
}

std::string matchSummary(const SnpMatch& m, MatchBy by, const std::string& familyName,
                         const std::string& unrelatedName) {
  return "The snps of " + familyName + " and " + unrelatedName + " differ; matched by " +
         (by == MatchBy::kId ? "ID" : "position") + ": " + std::to_string(m.familySnps.size()) + " shared, " +
         std::to_string(m.familyOnly) + " in " + familyName + " only, " + std::to_string(m.unrelatedOnly) + " in " +
         unrelatedName + " only, " + std::to_string(m.swaps) + " swapped, " + std::to_string(m.flips) +
         " strand-flipped, " + std::to_string(m.otherAlleles) + " left out for other alleles.\n";
}

void keepSnpsOfRows(std::vector<GenotypeRow>& rows, size_t ownSnps, const std::vector<size_t>& snps,
                    const std::vector<bool>& swapped) {
  std::vector<unsigned char> codes(static_cast<size_t>(rowBytes(static_cast<long>(ownSnps))));
  std::vector<uint16_t> dosages(ownSnps);
  for (GenotypeRow& row : rows) {
    std::copy(row.codes, row.codes + codes.size(), codes.begin());
    std::fill(row.codes, row.codes + rowBytes(static_cast<long>(snps.size())), 0);
    for (size_t k = 0; k < snps.size(); ++k) {
      int code = genotypeCode(codes.data(), snps[k]);
      if (!swapped.empty() && swapped[k] && code != 1 && code != 3) code = 2 - code;
      row.codes[k / 4] |= static_cast<unsigned char>(code << (2 * (3 - k % 4)));
    }
    if (row.dosages == nullptr) continue;
    std::copy(row.dosages, row.dosages + ownSnps, dosages.begin());
    for (size_t k = 0; k < snps.size(); ++k) {
      const uint16_t dosage = dosages[snps[k]];
      row.dosages[k] = !swapped.empty() && swapped[k] ? otherAlleleDosage(dosage) : dosage;
    }
    // A variance is the same counted from either allele.
    if (row.variances == nullptr) continue;
    std::copy(row.variances, row.variances + ownSnps, dosages.begin());
    for (size_t k = 0; k < snps.size(); ++k) row.variances[k] = dosages[snps[k]];
  }
}

size_t duplicatedIds(const std::function<void(const std::function<void(const Marker&)>&)>& forEach) {
  std::vector<size_t> hashes;
  const std::hash<std::string> hashOf;
  forEach([&](const Marker& marker) { hashes.push_back(hashOf(marker.snpId)); });
  std::sort(hashes.begin(), hashes.end());
  std::unordered_set<size_t> shared;
  for (size_t k = 1; k < hashes.size(); ++k) {
    if (hashes[k] == hashes[k - 1]) shared.insert(hashes[k]);
  }
  if (shared.empty()) return 0;
  std::unordered_set<std::string> seen;
  size_t duplicates = 0;
  forEach([&](const Marker& marker) {
    if (shared.count(hashOf(marker.snpId)) != 0 && !seen.insert(marker.snpId).second) ++duplicates;
  });
  return duplicates;
}

}  // namespace ombra
