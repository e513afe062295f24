// Fills the genotype store of a data set from a genotype source.
#ifndef OMBRA_FORMATS_SOURCELOADER_H
#define OMBRA_FORMATS_SOURCELOADER_H

#include <vector>

#include "MemoryClass.h"
#include "Test.h"
#include "formats/GenotypeSource.h"

namespace ombra {

// Replaces `rows` by one row per sample of `source` (row i has seq i and
// holds the codes of every marker, in the store's layout), allocated through
// `tracker`. The source is read block by block in increasing order, so that a
// streaming source keeps only one block in memory besides the rows. Stops the
// run when the rows do not fit in memory.
void loadRows(GenotypeSource& source, MemoryClass<char>& tracker, std::vector<Index>& rows);

}  // namespace ombra

#endif  // OMBRA_FORMATS_SOURCELOADER_H
