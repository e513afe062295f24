// Moving codes between SNP-major blocks and individual-major rows: both
// directions against a plain per-genotype reference, at every size around
// the packing boundaries and across block boundaries.
#include <gtest/gtest.h>

#include <vector>

#include "formats/SourceLoader.h"

namespace {

// Codes from a fixed formula, served in blocks as a source does, counting
// the blocks it was asked for.
class FormulaSource : public ombra::GenotypeSource {
 public:
  FormulaSource(size_t samples, size_t snps) : n(samples), list(snps) {}
  static int code(size_t i, size_t s) { return static_cast<int>((i * 7 + s * 13 + (i * s) % 5) % 4); }
  size_t sampleCount() const override { return n; }
  const std::vector<Marker>& markers() const override { return list; }
  void readSnps(size_t first, size_t count, unsigned char* out) override {
    EXPECT_EQ(first, next);
    next = first + count;
    const size_t stride = ombra::columnBytes(n);
    for (size_t j = 0; j < count; ++j) {
      for (size_t b = 0; b < stride; ++b) out[j * stride + b] = 0;
      for (size_t i = 0; i < n; ++i) {
        out[j * stride + i / 4] |= static_cast<unsigned char>(code(i, first + j) << (2 * (3 - i % 4)));
      }
    }
  }
  size_t next = 0;

 private:
  size_t n;
  std::vector<Marker> list;
};

TEST(SourceLoader, RowsHoldEveryCodeAndZeroPadding) {
  for (size_t n : {0, 1, 3, 4, 5, 9}) {
    for (size_t m : {0, 1, 3, 4, 7, 4100}) {  // 4100 spans several blocks
      FormulaSource source(n, m);
      MemoryClass<char> tracker;
      std::vector<GenotypeRow> rows;
      ombra::loadRows(source, tracker, rows);
      ASSERT_EQ(rows.size(), n);
      EXPECT_EQ(source.next, n > 0 ? m : 0);
      for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(rows[i].seq, static_cast<int>(i));
        for (size_t s = 0; s < m; ++s) {
          ASSERT_EQ(genotypeCode(rows[i].codes, s), FormulaSource::code(i, s)) << n << " " << m << " " << i;
        }
        if (m % 4 != 0) {
          EXPECT_EQ(rows[i].codes[m / 4] & (0xFF >> (2 * (m % 4))), 0);
        }
        tracker.FreeVector(reinterpret_cast<char*>(rows[i].codes));
      }
    }
  }
}

TEST(SourceLoader, RowsToColumnsIsTheInverse) {
  for (size_t n : {1, 2, 5, 8, 13}) {
    const size_t m = 4 * 3 + 3;
    FormulaSource source(n, m);
    MemoryClass<char> tracker;
    std::vector<GenotypeRow> rows;
    ombra::loadRows(source, tracker, rows);
    std::vector<const unsigned char*> order;
    for (const GenotypeRow& row : rows) order.push_back(row.codes);
    const size_t stride = ombra::columnBytes(n);
    for (size_t first : {0, 4, 12}) {
      const size_t count = m - first;
      std::vector<unsigned char> expected(count * stride);
      std::vector<unsigned char> got(count * stride + 1, 0xEE);
      source.next = first;
      source.readSnps(first, count, expected.data());
      ombra::rowsToColumns(order, first, count, got.data());
      EXPECT_EQ(std::vector<unsigned char>(got.begin(), got.end() - 1), expected) << n << " " << first;
      EXPECT_EQ(got.back(), 0xEE);  // nothing written past the block
    }
    for (GenotypeRow& row : rows) tracker.FreeVector(reinterpret_cast<char*>(row.codes));
  }
}

TEST(SourceLoader, AlleleCopiesSkipMissingCodes) {
  const unsigned char codes[] = {0x1B, 0xFF, 0xA0};  // 0 1 2 3 | 3 3 3 3 | 2 2 0 0
  EXPECT_EQ(ombra::allele2Copies(codes, 3), 3u + 0u + 4u);
}

}  // namespace
