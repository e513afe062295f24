// Moving genotype codes between a source's SNP-major blocks and the
// individual-major rows of the genotype store (core/Records.h), a block of SNPs at a
// time, through 256-entry byte tables.
#ifndef OMBRA_FORMATS_SOURCELOADER_H
#define OMBRA_FORMATS_SOURCELOADER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/MemoryClass.h"
#include "formats/GenotypeSource.h"

namespace ombra {

// Replaces `rows` with one row per individual of `source` (seq = its
// position in the source's sample order), each a block of `tracker` of
// rowBytes(M) bytes for the source's M markers (and, for a source with
// dosages, a dosage row of 2M bytes, and a variance row as much when it
// givesVariances()), filled from its blocks in increasing
// SNP order. Stops the run when the rows would not fit in memory.
void loadRows(GenotypeSource& source, MemoryClass<char>& tracker, std::vector<GenotypeRow>& rows);

// Fills `out` with SNPs first .. first + count - 1 of `rows` (rows of at
// least first + count SNPs, one per individual in the order given) as a
// SNP-major block in GenotypeSource's layout. `first` is a multiple of 4, so
// that the block starts at a byte of every row.
void rowsToColumns(const std::vector<const unsigned char*>& rows, size_t first, size_t count, unsigned char* out);

// Copies of allele2 in `bytes` packed codes (missing codes count 0).
uint64_t allele2Copies(const unsigned char* codes, size_t bytes);

// Individuals from .. to - 1 of a block (multiples of 4, or `to` past the
// last), so that threads can each move their own; by default every one.
struct SampleSpan {
  size_t from = 0;
  size_t to = SIZE_MAX;
};

// Writes `groups` groups of four SNP columns of a block in GenotypeSource's
// layout (the columns of the last group padded with zero columns) into byte
// `firstByte` onwards of rows[i].codes for every individual i of the block
// (of `span`).
void columnsToRows(const unsigned char* block, size_t groups, size_t samples, std::vector<GenotypeRow>& rows,
                   size_t firstByte, SampleSpan span = {});

// Writes `count` SNP columns of dosages (`samples` a column, SNP-major) into
// slots firstSlot .. firstSlot + count - 1 of rows[i].dosages (or of the
// rows' other 16-bit slots: variances) for every individual i (of `span`).
void dosageColumnsToRows(const uint16_t* block, size_t count, size_t samples, std::vector<GenotypeRow>& rows,
                         size_t firstSlot, SampleSpan span = {},
                         uint16_t* GenotypeRow::*slots = &GenotypeRow::dosages);

// SNPs per block for `samples` individuals: a multiple of 4 whose block
// stays within a few megabytes (at least 4).
size_t snpsPerBlock(size_t samples);

}  // namespace ombra

#endif  // OMBRA_FORMATS_SOURCELOADER_H
