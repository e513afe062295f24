// The component scores of individuals scored side by side against each
// score summed alone, term by term in SNP order: the same numbers, bit for
// bit, in groups of any size and for more components than one pass holds.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "numerics/ComponentScores.h"

namespace {

TEST(ComponentScores, SideBySideEqualsEachScoreAlone) {
  const size_t people = 13, slots = 45, components = 20;
  std::mt19937 random(7);
  std::vector<std::vector<unsigned char>> rows(people, std::vector<unsigned char>((slots + 3) / 4));
  for (auto& row : rows) {
    for (unsigned char& byte : row) byte = static_cast<unsigned char>(random() & 0xff);  // every code, 3 missing
  }
  std::vector<int> pcaSlots;
  for (int slot = 1; slot < static_cast<int>(slots); slot += 2) pcaSlots.push_back(slot);
  const size_t snps = pcaSlots.size();
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> fill(snps), mean(snps), loadings(snps * components);
  for (size_t s = 0; s < snps; ++s) {
    fill[s] = 1.0 + uniform(random);
    mean[s] = 1.0 + uniform(random);
  }
  for (double& value : loadings) value = uniform(random);

  ombra::ScoreInputs in;
  in.slots = pcaSlots.data();
  in.fill = fill.data();
  in.mean = mean.data();
  in.loadings = loadings.data();
  in.snps = snps;
  in.components = components;
  std::vector<std::vector<double>> scores(people, std::vector<double>(components, -1.0));
  for (size_t first = 0; first < people; first += 5) {  // groups of 5 and a last of 3
    const size_t count = std::min<size_t>(5, people - first);
    const unsigned char* group[ombra::kScoreLanes];
    double* out[ombra::kScoreLanes];
    for (size_t i = 0; i < count; ++i) {
      group[i] = rows[first + i].data();
      out[i] = scores[first + i].data();
    }
    ombra::componentScores(in, group, out, count);
  }
  for (size_t i = 0; i < people; ++i) {
    for (size_t k = 0; k < components; ++k) {
      double alone = 0;
      for (size_t s = 0; s < snps; ++s) {
        const int slot = pcaSlots[s];
        const int code = (rows[i][static_cast<size_t>(slot) / 4] >> (2 * (3 - slot % 4))) & 3;
        const double centred = (code != 3 ? code : fill[s]) - mean[s];
        alone += centred * loadings[s * components + k];
      }
      EXPECT_EQ(scores[i][k], alone) << "individual " << i << ", component " << k;
    }
  }
}

}  // namespace
