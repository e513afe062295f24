// Matching the SNPs of two data sets whose SNP lists differ: the SNPs both
// sets hold, in the family set's order, with the unrelated set's alleles
// aligned to the family set's.
//
// A SNP is found in the other set by its ID, or by chromosome (named by the
// one chromosome rule, so 1, 01 and chr1 are one), position and allele pair.
// The other set's alleles then align in one of four ways: as written, the
// two in the other order (its codes count the family set's first allele:
// swapped), or either of these on the other strand (A/C against T/G) for a
// SNP that is not palindromic. A palindromic SNP (A/T, C/G) is taken as
// written, as PLINK's merge does; alleles that are not single bases A, C, G,
// T are compared as text and never flipped; any other pair leaves the SNP out.
#ifndef OMBRA_FORMATS_SNPMATCH_H
#define OMBRA_FORMATS_SNPMATCH_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/Records.h"

namespace ombra {

enum class MatchBy { kId, kPosition };

// How a SNP's alleles in the other set align to the family set's.
enum class Alignment { kAsWritten, kSwapped, kFlipped, kFlippedSwapped, kOther };

// The alignment of `other`'s alleles to `family`'s. An unknown allele ("")
// takes whatever allele the other marker has in its place.
Alignment alignAlleles(const Marker& family, const Marker& other);

// Whether codes made against `other` count the family marker's first
// allele.
inline bool swapsCodes(Alignment a) { return a == Alignment::kSwapped || a == Alignment::kFlippedSwapped; }

struct SnpMatch {
  // Per shared SNP, in the family set's order: its index in each set's list,
  // and whether the unrelated set's codes count the other allele.
  std::vector<size_t> familySnps, unrelatedSnps;
  std::vector<bool> swapped;
  // The family set's markers of the shared SNPs (an unknown allele filled in
  // from the unrelated set's).
  std::vector<Marker> markers;
  // SNPs of each list left out by the selection, and kept but in one set
  // only; SNPs flipped; SNPs left out for their alleles.
  size_t familyUnselected = 0, unrelatedUnselected = 0;
  size_t familyOnly = 0, unrelatedOnly = 0, swaps = 0, flips = 0, otherAlleles = 0;
  // One line per SNP left out: its ID and why.
  std::vector<std::string> leftOut;
};

// Whether two lists are one list, as the key of `by` compares them: the same
// SNPs in the same order.
bool sameSnpList(const std::vector<Marker>& family, const std::vector<Marker>& unrelated, MatchBy by);

// Matches `unrelated` to `family`, each cut first to the SNPs `keeps`
// admits (empty: all). A match by ID stops the run, naming the file, when an
// ID kept appears twice in one list.
SnpMatch matchSnps(const std::vector<Marker>& family, const std::vector<Marker>& unrelated, MatchBy by,
                   const std::function<bool(const Marker&)>& keepsFamily,
                   const std::function<bool(const Marker&)>& keepsUnrelated, const std::string& familyName,
                   const std::string& unrelatedName);

// The line that says what matching did, and the left-out SNPs for the log.
std::string matchSummary(const SnpMatch& match, MatchBy by, const std::string& familyName,
                         const std::string& unrelatedName);

// Cuts every row of `rows`, made against a list of its own, to the SNPs
// `snps` of that list in the order given, in place; codes 0 and 2 (and the
// dosages) of SNP k turn to count the other allele where swapped[k] (empty:
// none does).
void keepSnpsOfRows(std::vector<GenotypeRow>& rows, size_t ownSnps, const std::vector<size_t>& snps,
                    const std::vector<bool>& swapped);

// Markers beyond the first of each ID, among those forEach visits (a list
// that may not be held: it is visited once, or twice when two IDs share a
// hash, and only the IDs of such hashes are kept).
size_t duplicatedIds(const std::function<void(const std::function<void(const Marker&)>&)>& forEach);

}  // namespace ombra

#endif  // OMBRA_FORMATS_SNPMATCH_H
