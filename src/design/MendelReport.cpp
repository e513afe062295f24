// The Mendel errors' line and PLINK 1.9's report files.
#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "core/Chromosome.h"
#include "core/OutputFile.h"
#include "design/MendelErrors.h"

namespace ombra {

namespace {

// The entries with the most counts, most first (ties in their order).
std::string mostOf(const std::vector<std::pair<std::string, uint64_t>>& counts, size_t shown) {
  std::vector<size_t> order(counts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return counts[a].second > counts[b].second; });
  std::string text;
  for (size_t k = 0; k < std::min(shown, order.size()) && counts[order[k]].second > 0; ++k) {
    text += (k > 0 ? ", " : "") + counts[order[k]].first + " (" + std::to_string(counts[order[k]].second) + ")";
  }
  return text;
}

// PLINK's column widths: 4, widened to a name's length plus 2 whenever a
// name (in file order) is longer than the width so far.
size_t plinkWidth(const std::vector<const std::string*>& names) {
  size_t width = 4;
  for (const std::string* name : names) {
    if (name->size() > width) width = name->size() + 2;
  }
  return width;
}

// `text` right-aligned in `width` (never cut).
std::string right(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string number(uint64_t value, size_t width) { return right(std::to_string(value), width); }

// A count in PLINK 1.9's four-wide field, which pads one digit and three but
// writes two digits unpadded; the reports keep that layout, so that they
// compare with PLINK's byte for byte.
std::string plinkCount(uint64_t value) {
  return value >= 10 && value < 100 ? std::to_string(value) : number(value, 4);
}

// The chromosome as PLINK prints it: the number of a human chromosome (23
// for X), the name otherwise.
std::string chromosomeName(const Marker& marker) {
  return isHumanChromosome(marker.chrCode) ? std::to_string(marker.chrCode) : marker.chr;
}

// The ERROR column of a code: the genotypes of father, mother and child.
std::string errorText(int code, const Marker& marker) {
  const std::string a = marker.allele1.empty() ? "0" : marker.allele1;
  const std::string b = marker.allele2.empty() ? "0" : marker.allele2;
  const std::string aa = a + "/" + a, bb = b + "/" + b, ab = a + "/" + b;
  std::string text;
  switch (code) {
    case 1: text = aa + " x " + aa + " -> " + ab; break;
    case 2: text = bb + " x " + bb + " -> " + ab; break;
    case 3: text = bb + " x */* -> " + aa; break;
    case 4: case 10: text = "*/* x " + bb + " -> " + aa; break;
    case 5: text = bb + " x " + bb + " -> " + aa; break;
    case 6: text = aa + " x */* -> " + bb; break;
    case 7: case 9: text = "*/* x " + aa + " -> " + bb; break;
    case 8: text = aa + " x " + aa + " -> " + bb; break;
    default: break;
  }
  const std::string codeText = code < 10 ? " " + std::to_string(code) : std::to_string(code);
  return codeText + "  " + std::string(text.size() < 20 ? 20 - text.size() : 0, ' ') + text;
}

struct Widths {
  size_t fid = 4, iid = 4, snp = 4;
};

Widths widthsOf(const DataSet& family, const std::vector<Marker>& markers) {
  std::vector<const std::string*> fids(family.rows.size()), iids(family.rows.size());
  for (const Pedigree& pedigree : family.pedigrees) {
    for (const Individual& person : pedigree.members) {
      fids[static_cast<size_t>(person.seq)] = &pedigree.famId;
      iids[static_cast<size_t>(person.seq)] = &person.indId;
    }
  }
  std::vector<const std::string*> snps;
  for (const Marker& marker : markers) snps.push_back(&marker.snpId);
  return Widths{plinkWidth(fids), plinkWidth(iids), plinkWidth(snps)};
}

}  // namespace

void MendelCounts::add(const std::vector<Marker>& markers, const MendelScan& scan) {
  errors += scan.total;
  snpsChecked += scan.snpsChecked;
  for (size_t s = 0; s < markers.size(); ++s) {
    if (scan.perSnp[s] > 0) bySnp.emplace_back(markers[s].snpId, scan.perSnp[s]);
  }
  perTrio.resize(scan.perTrio.size(), 0);
  for (size_t t = 0; t < scan.perTrio.size(); ++t) perTrio[t] += scan.perTrio[t];
}

std::string mendelSummary(const Trios& trios, const MendelCounts& counts) {
  std::string line = "Mendel errors: " + (counts.errors == 0 ? std::string("none") : std::to_string(counts.errors)) +
                     " in the calls of " + std::to_string(trios.trios.size()) +
                     (trios.trios.size() == 1 ? " child" : " children") + " with a parent in the family set, at " +
                     std::to_string(counts.snpsChecked) + (counts.snpsChecked == 1 ? " snp" : " snps");
  if (counts.errors == 0) return line + ".\n";
  std::vector<std::pair<std::string, uint64_t>> byFamily;
  std::unordered_map<const std::string*, size_t> slot;
  for (size_t t = 0; t < trios.trios.size() && t < counts.perTrio.size(); ++t) {
    const std::string* famId = trios.families[trios.trios[t].family].famId;
    auto [at, added] = slot.emplace(famId, byFamily.size());
    if (added) byFamily.emplace_back(*famId, 0);
    byFamily[at->second].second += counts.perTrio[t];
  }
  return line + "; the most at snps " + mostOf(counts.bySnp, 3) + " and in families " + mostOf(byFamily, 3) + ".\n";
}

void writeMendelReports(const std::string& prefix, const DataSet& family, const std::vector<Marker>& markers,
                        const Trios& trios, const MendelScan& scan) {
  const Widths w = widthsOf(family, markers);
  OutputFile errors(prefix + ".mendel");
  errors.put(right("FID", w.fid) + " " + right("KID", w.iid) + "  CHR " + right("SNP", w.snp) +
             "   CODE                 ERROR\n");
  for (const MendelError& error : scan.errors) {
    const Trio& trio = trios.trios[error.trio];
    const Marker& marker = markers[error.snp];
    errors.put(right(*trios.families[trio.family].famId, w.fid) + " " + right(trio.child->indId, w.iid) + " " +
               right(chromosomeName(marker), 4) + " " + right(marker.snpId, w.snp) + "     " +
               errorText(error.code, marker) + "\n");
  }
  errors.close();

  OutputFile perSnp(prefix + ".lmendel");
  perSnp.put(" CHR " + right("SNP", w.snp) + "   N\n");
  for (size_t s = 0; s < markers.size(); ++s) {
    if (!checkedChromosome(markers[s].chrCode)) continue;
    perSnp.put(right(chromosomeName(markers[s]), 4) + " " + right(markers[s].snpId, w.snp) + " " +
               plinkCount(scan.perSnp[s]) + "\n");
  }
  perSnp.close();

  std::vector<uint64_t> perFamily(trios.families.size(), 0);
  for (size_t t = 0; t < trios.trios.size(); ++t) perFamily[trios.trios[t].family] += scan.perTrio[t];
  OutputFile families(prefix + ".fmendel");
  families.put(right("FID", w.fid) + " " + right("PAT", w.iid) + " " + right("MAT", w.iid) + "   CHLD    N\n");
  for (size_t f = 0; f < trios.families.size(); ++f) {
    const NuclearFamily& parents = trios.families[f];
    families.put(right(*parents.famId, w.fid) + " " + right(parents.father ? parents.father->indId : "0", w.iid) +
                 " " + right(parents.mother ? parents.mother->indId : "0", w.iid) + " " +
                 number(parents.children, 6) + " " + plinkCount(perFamily[f]) + "\n");
  }
  families.close();
}

}  // namespace ombra
