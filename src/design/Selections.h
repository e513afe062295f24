// Selections (--keep, --remove, --extract, --exclude, --chr, --from-bp,
// --to-bp) and quality-control filters (--mind, --geno, --hwe, --maf) on
// the loaded data sets. A dropped individual or SNP leaves the store as if
// its line or columns had never been read: rows and markers are compacted,
// `seq` renumbered in file order and the allele counts taken again from the
// rows.
#ifndef OMBRA_DESIGN_SELECTIONS_H
#define OMBRA_DESIGN_SELECTIONS_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Records.h"
#include "design/Selection.h"
#include "formats/BgenFile.h"
#include "formats/GenotypeStore.h"

namespace ombra {

// Individuals first (a text set's while it was read), then SNPs, then the
// filters on what is left; the rows are compacted once, at the end. A
// streamed run has no rows yet and no filters: its SNP selection is applied
// to the streams. Stops the run when nothing is left.
void applySelections(Cohort& cohort, GenotypeStore& store, const SelectionOptions& options,
                     SampleSelection& sampleSelection, SnpSelection& snpSelection);

// Leaves out, after the selections, the individuals of data set `kind` for
// which stays(person) is false and the SNPs not in `keptSnps` (ascending),
// as the selections drop theirs; the allele counts are taken again from the
// rows. For a loaded run.
void leaveOut(Cohort& cohort, GenotypeStore& store, SetKind kind, const std::function<bool(const Individual&)>& stays,
              const std::vector<size_t>& keptSnps);

// Takes the allele counts again from the rows, after calls were changed in
// place, as loading the changed rows would have made them.
void recountAlleles(Cohort& cohort, GenotypeStore& store);

// The part of a SNP selection that a BGEN file's index can find alone: the
// one chromosome of --chr and the positions of --from-bp/--to-bp, named as
// the selection names them; none when --chr lists more than one.
std::optional<BgenRegion> bgenRegion(const SelectionOptions& options);

}  // namespace ombra

#endif  // OMBRA_DESIGN_SELECTIONS_H
