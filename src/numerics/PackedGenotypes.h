// The centred genotype matrix A of the principal components, read in blocks
// of rows straight from the packed genotype store.
//
// Row s of A is one SNP over the C columns (individuals). A called genotype
// counts its copies of allele2 (0, 1, 2); a missing one takes the row's
// fill value f_s. Every row is centred on its mean over the columns,
//   c_s = (sum of the called codes + missing calls x f_s) / C,
// so that in terms of small integers
//   a_sj = y_sj + offset_s + extra_s z_sj,
// with y = code - 1 (-1, 0, 1) for a called genotype and 0 for a missing one,
// z the missing indicator, offset_s = 1 - c_s and extra_s = f_s - 1. The
// integer part y is what makes an exact single-precision Gram product
// possible (numerics/GramComponents.cpp).
#ifndef OMBRA_NUMERICS_PACKEDGENOTYPES_H
#define OMBRA_NUMERICS_PACKEDGENOTYPES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombra {

// Columns packed as the genotype store holds them: two bits a genotype, four
// to a byte with the first in the top bits; 0, 1, 2 copies of allele2, 3
// missing.
struct PackedGenotypes {
  std::vector<const unsigned char*> columns;  // each column's packed row
  std::vector<int> snps;                      // row s of A is slot snps[s] of every packed row
  std::vector<double> fill;                   // per row of A: the value of a missing call
  // Columns of imputed data: per column its dosage row (slots as the packed
  // rows', 1/kDosageOne copies) or null; empty when no column has one.
  std::vector<const uint16_t*> dosageColumns;
  int rows() const { return static_cast<int>(snps.size()); }
  int cols() const { return static_cast<int>(columns.size()); }
};

// How one row of A follows from its integer part: a = y + offset + extra z.
struct RowCentring {
  double mean = 0;     // c_s
  double offset = 0;   // 1 - c_s
  double extra = 0;    // f_s - 1
  double missing = 0;  // f_s - c_s, a missing call's centred value
};

// One block of rows, first .. first + count - 1, decoded.
struct DecodedRows {
  int first = 0;
  int count = 0;
  std::vector<int8_t> values;     // y (-1, 0, 1), row-major count x C
  std::vector<RowCentring> centring;  // per row
  // The missing calls as (row in block, column), grouped by row (rowStart,
  // count + 1 entries) and, the same calls, by column (columnStart, C + 1
  // entries); ascending within each group.
  std::vector<int> byRow;
  std::vector<int> rowStart;
  std::vector<int> byColumn;
  std::vector<int> columnStart;
  // With dosages, every row of the block centred as doubles (row-major
  // count x C), the integer part unused: such rows enter A'A as products of
  // doubles.
  bool dosages = false;
  std::vector<double> dense;
  // Scratch of the decoder.
  std::vector<int> calledSum;
  std::vector<int> calls;  // (row, column) pairs in the order found
};

// Decodes rows first .. first + count - 1 of `genotypes` into `out`, reusing
// its memory. The rows' slots must lie inside every packed row.
void decodeRows(const PackedGenotypes& genotypes, int first, int count, DecodedRows& out);

// Row r of the block, centred, into out[0 .. C).
void centredRow(const DecodedRows& block, int r, int cols, double* out);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_PACKEDGENOTYPES_H
