// Loading the scores a PCA file saved (--rp).
#include <fstream>
#include <iostream>
#include <string_view>
#include <unordered_map>

#include "components/Components.h"
#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

// Where each family ID's first pedigree of a data set stands, and the
// analysis index of each pedigree's first member.
struct SetIndex {
  const DataSet* set = nullptr;
  std::unordered_map<std::string_view, size_t> pedigreeOf;
  std::vector<size_t> firstIndex;
};

SetIndex indexSet(const DataSet& set, size_t& next) {
  SetIndex index;
  index.set = &set;
  for (size_t i = 0; i < set.pedigrees.size(); ++i) {
    index.pedigreeOf.emplace(set.pedigrees[i].famId, i);
    index.firstIndex.push_back(next);
    next += set.pedigrees[i].members.size();
  }
  return index;
}

// The analysis index of the first member named `indId` among the pedigrees
// with family ID `famId`, or -1.
long findIndividual(const SetIndex& index, std::string_view famId, std::string_view indId) {
  auto found = index.pedigreeOf.find(famId);
  if (found == index.pedigreeOf.end()) return -1;
  const std::vector<Individual>& members = index.set->pedigrees[found->second].members;
  for (size_t m = 0; m < members.size(); ++m) {
    if (members[m].indId == indId) return static_cast<long>(index.firstIndex[found->second] + m);
  }
  return -1;
}

}  // namespace

ComponentScores loadPcaFile(const Cohort& cohort, const std::string& path, int count,
                            const std::unordered_set<std::string>& held) {
  std::ifstream in;
  openInput(in, path);
  std::cout << "Load calculated PCA from file " << path << "...\n";
  size_t people = 0;
  const SetIndex family = indexSet(cohort.family, people);
  const SetIndex unrelated = indexSet(cohort.unrelated, people);
  ComponentScores scores;
  scores.count = count;
  scores.values.assign(people * static_cast<size_t>(count), 0.0);
  scores.inPca.assign(people, 1);
  std::vector<char> loaded(people, 0);
  const FieldSplitter separators("\t ");
  const size_t needed = static_cast<size_t>(count) + 4;
  std::vector<std::string_view> fields;
  LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  size_t skipped = 0;
  while (reader.next(line)) {
    if (line.empty()) continue;
    fields.clear();
    separators.split(line, fields);
    const std::string famId(fields.size() > 0 ? fields[0] : std::string_view());
    const std::string indId(fields.size() > 1 ? fields[1] : std::string_view());
    long index = findIndividual(family, famId, indId);
    if (index < 0) index = findIndividual(unrelated, famId, indId);
    if (index < 0 && held.count(famId + "\t" + indId) != 0) {
      ++skipped;
      continue;
    }
    if (fields.size() < needed) {
      stopRun("The individual " + famId + "\t" + indId + " has not enought PCA are required " +
              std::to_string(count) + "\n");
    }
    if (index < 0) {
      stopRun("Can not found the same individual " + famId + "\t" + indId +
              " in the pedigree. However, this individual is coming up in the PCA data file.\n");
    }
    double* values = scores.values.data() + static_cast<size_t>(index) * static_cast<size_t>(count);
    for (int k = 0; k < count; ++k) values[k] = leadingDouble(fields[4 + static_cast<size_t>(k)]);
    loaded[static_cast<size_t>(index)] = 1;
  }
  if (skipped > 0) {
    std::cout << skipped << (skipped == 1 ? " individual" : " individuals") << " of " << path
              << (skipped == 1 ? " is" : " are") << " left out of the run by a selection and skipped.\n";
  }
  std::string missing;
  size_t index = 0;
  cohort.forEachIndividual([&](const std::string& famId, const Individual& person, const DataSet&) {
    if (!loaded[index++]) missing += famId + " " + person.indId + "\n";
  });
  if (!missing.empty()) stopRun("Some individuals do not have PCA. They are:\n" + missing);
  return scores;
}

}  // namespace ombra
