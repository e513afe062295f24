#include "formats/MarkerStream.h"

#include <algorithm>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

void SnpRuns::add(size_t fileSnp) {
  const bool extends = !runFile.empty() && fileSnp == runFile.back() + (total - runKept.back());
  if (!extends) {
    runFile.push_back(fileSnp);
    runKept.push_back(total);
  }
  ++total;
}

size_t SnpRuns::fileSnp(size_t keptSnp) const {
  const size_t run = static_cast<size_t>(std::upper_bound(runKept.begin(), runKept.end(), keptSnp) - runKept.begin()) - 1;
  return runFile[run] + (keptSnp - runKept[run]);
}

MarkerStream::MarkerStream(std::unique_ptr<MarkerReader> first) : firstSet(std::move(first)) {
  Marker marker;
  while (firstSet->next(marker)) ++fileSnps;
  firstSet->rewind();
}

// The SNPs are compared before any is joined, so that a list of other SNPs
// is reported as such rather than by the first join that fails.
bool MarkerStream::join(std::unique_ptr<MarkerReader>& second, Join joinWith, const Same& sameSnp) {
  Marker shared, other;
  bool same = true;
  while (same && firstSet->next(shared)) same = second->next(other) && sameSnp(shared, other);
  same = same && !second->next(other);
  firstSet->rewind();
  second->rewind();
  if (!same) return false;
  swapped.assign(fileSnps, false);
  for (size_t s = 0; firstSet->next(shared) && second->next(other); ++s) swapped[s] = joinWith(shared, other);
  firstSet->rewind();
  second->rewind();
  secondSet = std::move(second);
  joinMarker = std::move(joinWith);
  return true;
}

void MarkerStream::rewind() {
  firstSet->rewind();
  if (secondSet) secondSet->rewind();
  nextFile = 0;
  nextKept = 0;
}

bool MarkerStream::nextMarker(Marker& marker) {
  if (!firstSet->next(marker)) return false;
  if (secondSet && secondSet->next(own)) joinMarker(marker, own);
  ++nextFile;
  return true;
}

void MarkerStream::select(const std::function<bool(const Marker&)>& keep) {
  rewind();
  SnpRuns runs;
  Marker marker;
  for (size_t s = 0; nextMarker(marker); ++s) {
    if (keep(marker)) runs.add(s);
  }
  kept = std::move(runs);
  selected = true;
  rewind();
}

void MarkerStream::forEach(const std::function<void(size_t, const Marker&)>& visit) {
  rewind();
  std::vector<Marker> one;
  for (size_t k = 0; k < size(); ++k) {
    read(k, 1, one);
    visit(k, one[0]);
  }
  rewind();
}

void MarkerStream::read(size_t first, size_t count, std::vector<Marker>& out) {
  if (first < nextKept) rewind();
  out.resize(count);
  for (size_t j = 0; j < count; ++j) {
    const size_t target = selected ? kept.fileSnp(first + j) : first + j;
    while (nextFile <= target) {
      if (!nextMarker(out[j])) stopRun("The marker files of the data sets changed while the run read them.\n");
    }
  }
  nextKept = first + count;
}

}  // namespace ombra
