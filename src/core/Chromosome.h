// Chromosome names and their codes: one reading of a name, shared by the
// selections, the BGEN index, the plots and the readers.
#ifndef OMBRA_CORE_CHROMOSOME_H
#define OMBRA_CORE_CHROMOSOME_H

#include <string_view>

namespace ombra {

// Codes as PLINK numbers human chromosomes: 1-22 the autosomes, then X, Y,
// XY (the pseudo-autosomal region) and MT. 0 is PLINK's unplaced SNP and
// 27-99 are further numbered chromosomes (of other species); a name of no
// code (a contig such as GL000192.1) is kOtherChromosome and is compared as
// written.
constexpr int kChromosomeX = 23;
constexpr int kChromosomeY = 24;
constexpr int kChromosomeXY = 25;
constexpr int kChromosomeMT = 26;
constexpr int kOtherChromosome = -1;

// The code of a chromosome name: an optional "chr" prefix (any case) before
// a number (leading zeros allowed, at most 99), X, Y, XY, PAR, PAR1, PAR2,
// MT or M (any case); kOtherChromosome for anything else.
int chromosomeCode(std::string_view name);

// Whether a code is one of the human chromosomes 1-26 (X, Y, XY, MT included).
inline bool isHumanChromosome(int code) { return code >= 1 && code <= kChromosomeMT; }

// Whether names `a` and `b`, of codes `codeA` and `codeB`, name one
// chromosome: the same code, or the same text where neither has a code.
inline bool sameChromosome(int codeA, std::string_view a, int codeB, std::string_view b) {
  return codeA == kOtherChromosome || codeB == kOtherChromosome ? a == b : codeA == codeB;
}

}  // namespace ombra

#endif  // OMBRA_CORE_CHROMOSOME_H
