#include "design/Kinship.h"

#include <cstdio>
#include <unordered_map>

#include "core/Memory.h"
#include "core/RunEnd.h"
#include "core/OutputFile.h"

namespace ombra {

namespace {

constexpr int kUnknown = -1;

bool unknownParent(const std::string& id) { return id.empty() || id == "0"; }

// The pedigree as nodes: its members first, in member order, then one
// founder per absent parent ID; each node's parents as node numbers.
struct PedigreeGraph {
  size_t members = 0;
  std::vector<int> father, mother;
  size_t size() const { return father.size(); }
};

PedigreeGraph graphOf(const Pedigree& pedigree) {
  PedigreeGraph graph;
  graph.members = pedigree.members.size();
  std::unordered_map<std::string, int> node;
  for (size_t i = 0; i < graph.members; ++i) node.emplace(pedigree.members[i].indId, static_cast<int>(i));
  graph.father.assign(graph.members, kUnknown);
  graph.mother.assign(graph.members, kUnknown);
  auto parentNode = [&](const std::string& id) {
    if (unknownParent(id)) return kUnknown;
    auto found = node.find(id);
    if (found != node.end()) return found->second;
    const int absent = static_cast<int>(graph.father.size());
    node.emplace(id, absent);
    graph.father.push_back(kUnknown);
    graph.mother.push_back(kUnknown);
    return absent;
  };
  for (size_t i = 0; i < graph.members; ++i) {
    const int f = parentNode(pedigree.members[i].fatherId);
    const int m = parentNode(pedigree.members[i].motherId);
    graph.father[i] = f;
    graph.mother[i] = m;
  }
  return graph;
}

// The nodes with every parent before its children; stops the run when the
// parent links form a cycle.
std::vector<int> parentsFirst(const PedigreeGraph& graph, const std::string& famId) {
  const size_t n = graph.size();
  std::vector<int> waiting(n, 0);  // parents not yet placed
  std::vector<std::vector<int>> children(n);
  for (size_t i = 0; i < n; ++i) {
    for (int parent : {graph.father[i], graph.mother[i]}) {
      if (parent == kUnknown) continue;
      ++waiting[i];
      children[static_cast<size_t>(parent)].push_back(static_cast<int>(i));
    }
  }
  std::vector<int> order;
  order.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (waiting[i] == 0) order.push_back(static_cast<int>(i));
  }
  for (size_t next = 0; next < order.size(); ++next) {
    for (int child : children[static_cast<size_t>(order[next])]) {
      if (--waiting[static_cast<size_t>(child)] == 0) order.push_back(child);
    }
  }
  if (order.size() != n) {
    stopRun("The parent links of pedigree " + famId +
            " form a cycle (an individual is among its own ancestors), so its kinship is not defined. Please "
            "check the father and mother IDs of that family.\n");
  }
  return order;
}

}  // namespace

std::vector<double> pedigreeKinship(const Pedigree& pedigree) {
  const PedigreeGraph graph = graphOf(pedigree);
  const std::vector<int> order = parentsFirst(graph, pedigree.famId);
  const size_t n = graph.size();
  requireMemory(8.0 * static_cast<double>(n) * static_cast<double>(n),
                "The kinship matrix of pedigree " + pedigree.famId + " (" + std::to_string(n) + " individuals)",
                "Please give the run more memory (--memory) or split the pedigree.");
  // phi[a * n + b] over nodes; each node's row is filled from the rows of
  // its parents, which come before it in `order`.
  std::vector<double> phi(n * n, 0.0);
  for (size_t at = 0; at < n; ++at) {
    const size_t i = static_cast<size_t>(order[at]);
    const int f = graph.father[i], m = graph.mother[i];
    for (size_t before = 0; before < at; ++before) {
      const size_t j = static_cast<size_t>(order[before]);
      double sum = 0;
      if (f != kUnknown) sum += phi[static_cast<size_t>(f) * n + j];
      if (m != kUnknown) sum += phi[static_cast<size_t>(m) * n + j];
      phi[i * n + j] = phi[j * n + i] = sum / 2;
    }
    const double parents = f != kUnknown && m != kUnknown ? phi[static_cast<size_t>(f) * n + static_cast<size_t>(m)] : 0;
    phi[i * n + i] = (1 + parents) / 2;
  }
  // The members' block.
  const size_t members = graph.members;
  if (members == n) return phi;
  std::vector<double> block(members * members);
  for (size_t a = 0; a < members; ++a) {
    for (size_t b = 0; b < members; ++b) block[a * members + b] = phi[a * n + b];
  }
  return block;
}

std::vector<std::vector<double>> testedRelationships(const Cohort& cohort, const TestedSample& sample) {
  const std::vector<Pedigree>& pedigrees = cohort.family.pedigrees;
  std::vector<std::vector<double>> blocks(pedigrees.size());
  size_t begin = 0;
  for (size_t p = 0; p < pedigrees.size() && p < sample.familyEntryEnd.size(); ++p) {
    const size_t end = sample.familyEntryEnd[p];
    const size_t m = end - begin;
    if (m == 0) continue;
    const Pedigree& pedigree = pedigrees[p];
    const size_t members = pedigree.members.size();
    const std::vector<double> phi = pedigreeKinship(pedigree);
    std::vector<size_t> member(m);
    for (size_t e = 0; e < m; ++e) member[e] = static_cast<size_t>(sample.people[begin + e] - pedigree.members.data());
    std::vector<double>& block = blocks[p];
    block.resize(m * m);
    for (size_t a = 0; a < m; ++a) {
      for (size_t b = 0; b < m; ++b) block[a * m + b] = 2 * phi[member[a] * members + member[b]];
    }
    begin = end;
  }
  return blocks;
}

void writeKinship(const std::string& path, const DataSet& family) {
  OutputFile file(path);
  file.put("FID1\tIID1\tFID2\tIID2\tKINSHIP\n");
  char value[32];
  for (const Pedigree& pedigree : family.pedigrees) {
    const std::vector<double> phi = pedigreeKinship(pedigree);
    const size_t m = pedigree.members.size();
    for (size_t a = 0; a < m; ++a) {
      for (size_t b = a; b < m; ++b) {
        if (phi[a * m + b] == 0) continue;
        std::snprintf(value, sizeof value, "%.10g", phi[a * m + b]);
        file.put(pedigree.famId + '\t' + pedigree.members[a].indId + '\t' + pedigree.famId + '\t' +
                 pedigree.members[b].indId + '\t' + value + '\n');
      }
    }
  }
  file.close();
}

}  // namespace ombra
