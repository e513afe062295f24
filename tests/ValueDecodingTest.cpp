// The approximate route's decoding of 2-bit codes into their rows' four
// values: every vector kernel, at every length and alignment of its tail,
// gives each code's value and writes nothing past the row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "numerics/ValueDecoding.h"

namespace {

template <class T>
void expectEveryLevelDecodes(const std::vector<unsigned char>& codes, const double* values) {
  const size_t most = codes.size() * 4;
  for (size_t count : {most, most - 1, size_t{31}, size_t{17}, size_t{16}, size_t{15}, size_t{9}, size_t{8}, size_t{3}, size_t{0}}) {
    for (int level = 0; level <= static_cast<int>(ombra::widestVectorLevel()); ++level) {
      SCOPED_TRACE("count " + std::to_string(count) + ", level " + std::to_string(level));
      std::vector<T> out(most + 1, T(-7));
      ombra::decodeValuesAt(static_cast<ombra::VectorLevel>(level), codes.data(), count, values, out.data());
      for (size_t j = 0; j <= most; ++j) {
        const T expected = j < count ? static_cast<T>(values[(codes[j / 4] >> (6 - 2 * (j % 4))) & 3u]) : T(-7);
        ASSERT_EQ(0, std::memcmp(&out[j], &expected, sizeof expected)) << "code " << j;
      }
    }
  }
}

TEST(ValueDecoding, EveryLevelGivesEachCodesValue) {
  std::vector<unsigned char> codes(37);
  for (size_t b = 0; b < codes.size(); ++b) codes[b] = static_cast<unsigned char>((b * 97 + 29) ^ (b >> 2) * 53);
  codes[0] = 0x1b;  // codes 0, 1, 2, 3 in order
  const double values[4] = {-0.3125, 0.6875, 1.6875, 0.1 / 3};
  expectEveryLevelDecodes<float>(codes, values);
  expectEveryLevelDecodes<double>(codes, values);
}

}  // namespace
