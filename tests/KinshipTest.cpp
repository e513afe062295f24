// The kinship of the pedigrees against values known by hand, and what the
// mixed model takes of it over the tested entries.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>

#include "TestSupport.h"
#include "design/Kinship.h"

namespace {

// A pedigree from "ID FATHER MOTHER" triples, in the order given.
Pedigree pedigreeOf(const std::string& famId, const std::vector<std::array<const char*, 3>>& people) {
  Pedigree pedigree;
  pedigree.famId = famId;
  for (const auto& person : people) {
    Individual individual;
    individual.indId = person[0];
    individual.fatherId = person[1];
    individual.motherId = person[2];
    pedigree.members.push_back(individual);
  }
  return pedigree;
}

// The kinship of two members by ID.
struct Kinship {
  explicit Kinship(const Pedigree& pedigree) : phi(ombra::pedigreeKinship(pedigree)), size(pedigree.members.size()) {
    for (size_t i = 0; i < size; ++i) index[pedigree.members[i].indId] = i;
  }
  double operator()(const std::string& a, const std::string& b) const {
    return phi[index.at(a) * size + index.at(b)];
  }
  std::vector<double> phi;
  size_t size;
  std::map<std::string, size_t> index;
};

TEST(Kinship, KnownRelationships) {
  // Three generations: grandparents G1 G2, their children P1 P2 with
  // spouses S1 S2, first cousins C1 (of P1) and C2 (of P2), a child X of
  // the cousins, and H, a half-sibling of C1 by P1 and S3. Listed children
  // first, so that the order of the lines does not matter.
  const Pedigree pedigree = pedigreeOf("F1", {{"X", "C1", "C2"},
                                              {"C1", "P1", "S1"},
                                              {"C2", "S2", "P2"},
                                              {"H", "P1", "S3"},
                                              {"P1", "G1", "G2"},
                                              {"P2", "G1", "G2"},
                                              {"G1", "0", "0"},
                                              {"G2", "0", "0"},
                                              {"S1", "0", "0"},
                                              {"S2", "0", "0"},
                                              {"S3", "0", "0"}});
  const Kinship phi(pedigree);
  // Founders: not inbred, unrelated.
  EXPECT_EQ(phi("G1", "G1"), 0.5);
  EXPECT_EQ(phi("G1", "G2"), 0.0);
  EXPECT_EQ(phi("S1", "G1"), 0.0);
  // Nuclear family: parent and child, full siblings.
  EXPECT_EQ(phi("G1", "P1"), 0.25);
  EXPECT_EQ(phi("P1", "P2"), 0.25);
  EXPECT_EQ(phi("P1", "P1"), 0.5);
  // Half-siblings.
  EXPECT_EQ(phi("C1", "H"), 0.125);
  // Three generations: grandparent and grandchild, aunt and nephew.
  EXPECT_EQ(phi("G1", "C1"), 0.125);
  EXPECT_EQ(phi("P2", "C1"), 0.125);
  // First cousins, and the inbreeding of their child: 1/16.
  EXPECT_EQ(phi("C1", "C2"), 1.0 / 16);
  EXPECT_EQ(phi("X", "X"), 0.5 * (1 + 1.0 / 16));
  EXPECT_EQ(phi("X", "C1"), 0.5 * (0.5 + 1.0 / 16));
  EXPECT_EQ(phi("X", "G1"), 0.125);
  // Symmetric.
  for (size_t a = 0; a < phi.size; ++a) {
    for (size_t b = 0; b < phi.size; ++b) EXPECT_EQ(phi.phi[a * phi.size + b], phi.phi[b * phi.size + a]);
  }
}

TEST(Kinship, AbsentParentsAreFoundersOfTheirOwn) {
  // A sibship whose parents are not in the file stays a sibship; a child
  // with one parent known shares half of it.
  const Pedigree pedigree = pedigreeOf("F2", {{"A", "dad", "mum"}, {"B", "dad", "mum"}, {"C", "dad", "0"},
                                              {"D", "0", "other"}});
  const Kinship phi(pedigree);
  EXPECT_EQ(phi("A", "B"), 0.25);
  EXPECT_EQ(phi("A", "C"), 0.125);
  EXPECT_EQ(phi("A", "D"), 0.0);
  EXPECT_EQ(phi("A", "A"), 0.5);
}

TEST(Kinship, CycleStopsTheRunNamingThePedigree) {
  const Pedigree pedigree = pedigreeOf("LOOP7", {{"A", "B", "0"}, {"B", "C", "0"}, {"C", "A", "0"}});
  const testing_support::StopShown stop = testing_support::stopOf([&] { ombra::pedigreeKinship(pedigree); });
  EXPECT_EQ(stop.status, 1) << "a cycle was accepted";
  const std::string& out = stop.out;
  EXPECT_NE(out.find("pedigree LOOP7"), std::string::npos) << out;
  EXPECT_NE(out.find("cycle"), std::string::npos) << out;
  // Its own parent is a cycle of one.
  const Pedigree self = pedigreeOf("SELF", {{"A", "A", "0"}});
  EXPECT_NE(testing_support::stopOf([&] { ombra::pedigreeKinship(self); }).out.find("pedigree SELF"), std::string::npos);
}

TEST(Kinship, TestedBlocksPerFamilyAndNothingBetween) {
  Cohort cohort;
  cohort.family.pedigrees.push_back(pedigreeOf("A", {{"f", "0", "0"}, {"m", "0", "0"}, {"k1", "f", "m"},
                                                     {"k2", "f", "m"}}));
  cohort.family.pedigrees.push_back(pedigreeOf("B", {{"x", "0", "0"}}));
  cohort.family.pedigrees.push_back(pedigreeOf("C", {{"y", "p", "q"}, {"z", "p", "q"}}));
  // Tested: f, k1 and k2 of A (not the mother), nobody of B, y and z of C.
  ombra::TestedSample sample;
  const auto& a = cohort.family.pedigrees[0].members;
  const auto& c = cohort.family.pedigrees[2].members;
  for (const Individual* person : {&a[0], &a[2], &a[3], &c[0], &c[1]}) sample.people.push_back(person);
  sample.entries.resize(5);
  sample.familyEntryEnd = {3, 3, 5};
  sample.familyEntries = 5;
  const std::vector<std::vector<double>> blocks = ombra::testedRelationships(cohort, sample);
  ASSERT_EQ(blocks.size(), 3u);
  // Twice the kinship: 1 on the diagonal, 1/2 for parent and child and for
  // full siblings, the untested mother still linking the siblings.
  EXPECT_EQ(blocks[0], (std::vector<double>{1, 0.5, 0.5, 0.5, 1, 0.5, 0.5, 0.5, 1}));
  EXPECT_TRUE(blocks[1].empty());
  EXPECT_EQ(blocks[2], (std::vector<double>{1, 0.5, 0.5, 1}));
}

}  // namespace
