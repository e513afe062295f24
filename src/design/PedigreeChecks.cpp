#include "design/PedigreeChecks.h"

#include <iostream>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/RunEnd.h"

namespace ombra {

namespace {

bool knownParent(const std::string& id) { return !id.empty() && id != "0"; }

void checkLinksOf(const Pedigree& pedigree, const Individual& person) {
  const std::string who = "Individual " + person.indId + " of pedigree " + pedigree.famId;
  if (person.fatherId == person.indId || person.motherId == person.indId) {
    stopRun(who + " is named as its own " + (person.fatherId == person.indId ? "father" : "mother") +
            ", so its pedigree is not defined. Please check the father and mother IDs of that family.\n");
  }
  if (knownParent(person.fatherId) && person.fatherId == person.motherId) {
    stopRun(who + " has " + person.fatherId +
            " as both father and mother, so its pedigree is not defined. Please check the father and mother IDs "
            "of that family.\n");
  }
}

}  // namespace

std::vector<size_t> membersInCycles(const Pedigree& pedigree) {
  const size_t n = pedigree.members.size();
  std::unordered_map<std::string, size_t> member;
  for (size_t i = 0; i < n; ++i) member.emplace(pedigree.members[i].indId, i);
  // Members are placed once every parent among the members is placed; what
  // is never placed lies on a cycle or descends from one.
  std::vector<int> waiting(n, 0);
  std::vector<std::vector<size_t>> children(n);
  for (size_t i = 0; i < n; ++i) {
    const Individual& person = pedigree.members[i];
    for (const std::string* parent : {&person.fatherId, &person.motherId}) {
      auto found = knownParent(*parent) ? member.find(*parent) : member.end();
      if (found == member.end()) continue;
      ++waiting[i];
      children[found->second].push_back(i);
    }
  }
  std::vector<size_t> placed;
  for (size_t i = 0; i < n; ++i) {
    if (waiting[i] == 0) placed.push_back(i);
  }
  for (size_t next = 0; next < placed.size(); ++next) {
    for (size_t child : children[placed[next]]) {
      if (--waiting[child] == 0) placed.push_back(child);
    }
  }
  std::vector<size_t> unplaced;
  for (size_t i = 0; i < n; ++i) {
    if (waiting[i] > 0) unplaced.push_back(i);
  }
  return unplaced;
}

void checkPedigrees(const DataSet& family) {
  long femaleFathers = 0, maleMothers = 0;
  for (const Pedigree& pedigree : family.pedigrees) {
    std::unordered_map<std::string, Sex> sexOf;
    for (const Individual& person : pedigree.members) {
      checkLinksOf(pedigree, person);
      sexOf.emplace(person.indId, person.sex);
    }
    const std::vector<size_t> cycle = membersInCycles(pedigree);
    if (!cycle.empty()) {
      stopRun("The parent links of pedigree " + pedigree.famId +
              " form a cycle (an individual is among its own ancestors, here " + pedigree.members[cycle[0]].indId +
              "), so its kinship is not defined. Please check the father and mother IDs of that family.\n");
    }
    std::unordered_set<std::string> fathers, mothers;
    for (const Individual& person : pedigree.members) {
      if (knownParent(person.fatherId)) fathers.insert(person.fatherId);
      if (knownParent(person.motherId)) mothers.insert(person.motherId);
    }
    for (const std::string& id : fathers) {
      auto found = sexOf.find(id);
      femaleFathers += found != sexOf.end() && found->second == Sex::kFemale;
    }
    for (const std::string& id : mothers) {
      auto found = sexOf.find(id);
      maleMothers += found != sexOf.end() && found->second == Sex::kMale;
    }
  }
  if (femaleFathers + maleMothers == 0) return;
  std::cout << "Warning: " << femaleFathers << (femaleFathers == 1 ? " father is" : " fathers are")
            << " female and " << maleMothers << (maleMothers == 1 ? " mother is" : " mothers are")
            << " male in the family set's pedigrees; the parent links are taken as written.\n";
}

}  // namespace ombra
