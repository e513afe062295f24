// The markers of a run that streams its genotypes, read from the data sets'
// marker files whenever they are needed instead of being held: the first
// data set's markers, each joined with the second set's marker of the same
// place (when a second set is given), and only those a selection keeps.
#ifndef OMBRA_FORMATS_MARKERSTREAM_H
#define OMBRA_FORMATS_MARKERSTREAM_H

#include <functional>
#include <memory>
#include <vector>

#include "formats/MarkerReader.h"

namespace ombra {

// SNPs of a file kept by a selection, as runs of consecutive file SNPs.
class SnpRuns {
 public:
  // Keeps file SNP `fileSnp`, beyond every SNP kept before.
  void add(size_t fileSnp);
  size_t size() const { return total; }
  // The file SNP of the kept SNP `kept` (< size()).
  size_t fileSnp(size_t kept) const;

 private:
  std::vector<size_t> runFile;  // per run: its first file SNP
  std::vector<size_t> runKept;  // per run: how many SNPs were kept before it
  size_t total = 0;
};

class MarkerStream {
 public:
  // join(shared, own): checks that `own`, the second set's marker, is the
  // SNP of `shared`, adds its alleles to `shared`, and returns whether the
  // second set's codes count shared's allele1. Errors stop the run.
  using Join = std::function<bool(Marker& shared, const Marker& own)>;
  // Whether two markers are one SNP for a join.
  using Same = std::function<bool(const Marker& shared, const Marker& own)>;

  explicit MarkerStream(std::unique_ptr<MarkerReader> first);
  // Joins the second set's markers to the first's and reads them all once:
  // returns false, changing nothing (`second` stays the caller's), when
  // the lists are not the same SNPs in the same order as `same` compares
  // them; stops the run when join does.
  bool join(std::unique_ptr<MarkerReader>& second, Join joinMarker, const Same& same);

  // Markers of the files, and of those the ones a selection kept.
  size_t fileCount() const { return fileSnps; }
  size_t size() const { return selected ? kept.size() : fileSnps; }
  // Per file SNP: the second set's codes count the other allele.
  const std::vector<bool>& swaps() const { return swapped; }

  // Keeps the markers for which keep(marker) is true, in file order.
  void select(const std::function<bool(const Marker&)>& keep);
  const SnpRuns& keptRuns() const { return kept; }
  bool hasSelection() const { return selected; }

  // Calls visit(k, marker) for kept marker k = 0, 1, ...
  void forEach(const std::function<void(size_t, const Marker&)>& visit);
  // Replaces `out` with kept markers first .. first + count - 1. Calls in
  // increasing order read on; an earlier marker reads the files again.
  void read(size_t first, size_t count, std::vector<Marker>& out);

 private:
  void rewind();
  // The next marker of the files, joined; false after the last.
  bool nextMarker(Marker& marker);

  std::unique_ptr<MarkerReader> firstSet, secondSet;
  Join joinMarker;
  size_t fileSnps = 0;
  std::vector<bool> swapped;
  SnpRuns kept;
  bool selected = false;
  size_t nextFile = 0;  // the file SNP the readers stand at
  size_t nextKept = 0;  // the kept SNP read next, when the readers stand at one
  Marker own;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_MARKERSTREAM_H
