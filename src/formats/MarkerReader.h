// The markers of a data set read one after another in file order, so that
// a run that streams its genotypes need not hold the marker list either.
#ifndef OMBRA_FORMATS_MARKERREADER_H
#define OMBRA_FORMATS_MARKERREADER_H

#include <utility>
#include <vector>

#include "core/Records.h"

namespace ombra {

class MarkerReader {
 public:
  virtual ~MarkerReader() = default;
  // The next marker (allele2Count 0); false after the last. Bad lines stop
  // the run with a message naming the file and line.
  virtual bool next(Marker& marker) = 0;
  // Goes back to the first marker.
  virtual void rewind() = 0;
};

// Markers of `reader` (which goes back to its first).
inline size_t countMarkers(MarkerReader& reader) {
  Marker marker;
  size_t count = 0;
  while (reader.next(marker)) ++count;
  reader.rewind();
  return count;
}

// Markers some other object holds (a VCF source's sites); the list must
// outlive the reader.
class HeldMarkers : public MarkerReader {
 public:
  explicit HeldMarkers(const std::vector<Marker>& markers) : list(markers) {}
  bool next(Marker& marker) override {
    if (at == list.size()) return false;
    marker = list[at++];
    marker.allele2Count = 0;
    return true;
  }
  void rewind() override { at = 0; }

 private:
  const std::vector<Marker>& list;
  size_t at = 0;
};

// Markers it holds itself (the shared SNPs of two data sets matched).
class MarkerList : public MarkerReader {
 public:
  explicit MarkerList(std::vector<Marker> markers) : list(std::move(markers)), reader(list) {}
  bool next(Marker& marker) override { return reader.next(marker); }
  void rewind() override { reader.rewind(); }

 private:
  std::vector<Marker> list;
  HeldMarkers reader;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_MARKERREADER_H
