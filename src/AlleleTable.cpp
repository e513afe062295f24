#include "AlleleTable.h"

#include "Test.h"

void AlleleTable::attach(std::vector<Marker>& markers) {
  if (attached == &markers && keys.size() == markers.size()) return;
  attached = &markers;
  keys.resize(markers.size());
  for (size_t s = 0; s < markers.size(); ++s) keys[s] = Keys{keyOf(markers[s].allele1), keyOf(markers[s].allele2)};
  counts.assign(markers.size(), 0);
}

int AlleleTable::slowCode(size_t s, std::string_view a1, std::string_view a2) {
  const int first = place(s, a1);
  const int second = first == 0 ? 0 : place(s, a2);
  if (second == 0) return -1;
  return (first == 2) + (second == 2);
}

int AlleleTable::place(size_t s, std::string_view allele) {
  Marker& marker = (*attached)[s];
  int where = 0;
  if (sameText(allele, marker.allele1)) {
    where = 1;
  } else if (sameText(allele, marker.allele2)) {
    where = 2;
  } else if (marker.allele1.empty()) {
    marker.allele1.assign(allele.data(), allele.size());
    where = 1;
  } else if (marker.allele2.empty()) {
    marker.allele2.assign(allele.data(), allele.size());
    where = 2;
  }
  keys[s] = Keys{keyOf(marker.allele1), keyOf(marker.allele2)};
  return where;
}

void AlleleTable::addCounts(std::vector<Marker>& markers) {
  if (attached == &markers) {
    for (size_t s = 0; s < markers.size() && s < counts.size(); ++s) markers[s].allele2Count += counts[s];
  }
  attached = nullptr;
  keys.clear();
  counts.clear();
}
