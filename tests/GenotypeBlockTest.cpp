// The genotype block: named SNPs held resident give the numbers of the
// contiguous block that holds them, a tested sample names its rows so that
// it may be collected before or after the store makes them, and every
// vector kernel decodes codes to the same bits.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HeldRows.h"
#include "LoadedSets.h"
#include "TestSupport.h"
#include "design/TestedSample.h"
#include "formats/CodeDecoding.h"
#include "formats/GenotypeBlock.h"

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Column k of `named` against column j of `block`: values, fill value,
// marker and sums, bit for bit.
void expectColumn(const ombra::GenotypeBlock& block, size_t j, const ombra::GenotypeBlock& named, size_t k) {
  SCOPED_TRACE("snp " + std::to_string(block.snps[j]));
  ASSERT_EQ(named.entries, block.entries);
  EXPECT_EQ(named.dosages, block.dosages);
  EXPECT_EQ(named.snps[k], block.snps[j]);
  EXPECT_TRUE(sameBits(named.fill[k], block.fill[j]));
  EXPECT_EQ(named.markers[k].snpId, block.markers[j].snpId);
  EXPECT_TRUE(sameBits(named.sums[k], block.sums[j]));
  EXPECT_EQ(named.called(k), block.called(j));
  if (block.dosages) {
    EXPECT_TRUE(sameBits(named.squares[k], block.squares[j]));
  }
  for (size_t i = 0; i < block.entries; ++i) {
    ASSERT_TRUE(sameBits(named.row(i)[k], block.row(i)[j])) << "entry " << i;
  }
}

// Every column of `named` against the columns `at` of `block`.
void expectColumns(const ombra::GenotypeBlock& block, const ombra::GenotypeBlock& named,
                   const std::vector<size_t>& at) {
  ASSERT_EQ(named.count(), at.size());
  for (size_t k = 0; k < at.size(); ++k) expectColumn(block, at[k], named, k);
}

// Calls and dosages (some missing) side by side, loaded whole: SNPs i, j
// named in any order, unaligned to the rows' bytes.
TEST(GenotypeBlock, ResidentSnpsEqualTheirContiguousBlock) {
  constexpr size_t kPeople = 23, kSnps = 13;
  std::vector<std::vector<unsigned char>> packed(kPeople, std::vector<unsigned char>((kSnps + 3) / 4, 0));
  std::vector<std::vector<uint16_t>> dosages(kPeople, std::vector<uint16_t>(kSnps));
  std::vector<size_t> called(kSnps, kPeople);
  for (size_t i = 0; i < kPeople; ++i) {
    for (size_t s = 0; s < kSnps; ++s) {
      const unsigned code = (i * 7 + s * 3 + i * s) % 4;
      called[s] -= code == 3;
      packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
      dosages[i][s] = code == 3 ? kMissingDosage : static_cast<uint16_t>(code * kDosageOne + (i * 37 + s) % 900);
    }
  }
  std::vector<double> fill(kSnps);
  std::vector<Marker> markers(kSnps);
  for (size_t s = 0; s < kSnps; ++s) {
    fill[s] = 0.3 + 0.11 * static_cast<double>(s);
    markers[s].snpId = "rs" + std::to_string(s);
  }
  testing_support::HeldRows rows(packed, fill, markers);
  for (bool withDosages : {false, true}) {
    SCOPED_TRACE(withDosages ? "dosages beside calls" : "calls");
    for (size_t i = 0; i < kPeople; i += 3) {
      rows.cohort.unrelated.rows[i].dosages = withDosages ? dosages[i].data() : nullptr;
    }
    const ombra::GenotypeBlock block = rows.block(0, kSnps, 16);
    EXPECT_EQ(block.dosages, withDosages);
    for (size_t s = 0; s < kSnps; ++s) EXPECT_EQ(block.called(s), called[s]) << "snp " << s;
    expectColumns(block, ombra::residentBlock(rows.store, rows.cohort, rows.entries, {9, 2}), {9, 2});
    expectColumns(block, ombra::residentBlock(rows.store, rows.cohort, rows.entries, {5, 12, 5}), {5, 12, 5});
  }
}

ombra::SetInput plinkSet(const std::string& name) {
  ombra::SetInput input;
  input.binary = kExamples + "plink/" + name;
  input.binaryGiven = true;
  return input;
}

// The example filesets streamed: a sample collected before the rows exist
// reads, after they are made and made again wider for another window, the
// blocks of a sample collected then; SNPs named in a streamed run equal the
// window's block that holds them.
TEST(GenotypeBlock, StreamedRowsMadeAfterTheSampleAndNamedSnps) {
  LoadedSets sets;
  sets.store.startStreaming();
  testing::internal::CaptureStdout();
  sets.loader.load(plinkSet("family"), plinkSet("unrelated"));
  const ombra::TestedSample early = ombra::collectTested(sets.cohort, "0");
  sets.store.holdStreamedRows(sets.cohort, 16);
  sets.store.fillWindow(sets.cohort, 0, 16);
  testing::internal::GetCapturedStdout();
  ASSERT_GT(early.size(), 100u);
  ombra::GenotypeBlock first;
  ombra::readBlock(sets.store, sets.cohort, early.entries, 4, 12, 12, first);

  sets.store.holdStreamedRows(sets.cohort, 64);
  sets.store.fillWindow(sets.cohort, 64, 64);
  testing::internal::CaptureStdout();
  const ombra::TestedSample late = ombra::collectTested(sets.cohort, "0");
  testing::internal::GetCapturedStdout();
  ombra::GenotypeBlock before, after;
  ombra::readBlock(sets.store, sets.cohort, early.entries, 96, 32, 32, before);
  ombra::readBlock(sets.store, sets.cohort, late.entries, 96, 32, 32, after);
  std::vector<size_t> all(32);
  for (size_t j = 0; j < all.size(); ++j) all[j] = j;
  expectColumns(after, before, all);

  // Named SNPs read while the rows hold one window stay whole when they
  // hold another; the window's block is read before they take the rows.
  const ombra::GenotypeBlock named = ombra::residentBlock(sets.store, sets.cohort, late.entries, {101, 7, 120});
  sets.store.fillWindow(sets.cohort, 0, 16);
  ombra::readBlock(sets.store, sets.cohort, late.entries, 4, 12, 12, first);
  expectColumn(after, 5, named, 0);
  expectColumn(first, 3, named, 1);
  expectColumn(after, 24, named, 2);
}

// Each kernel this processor runs turns every code of every position in a
// byte (a run of SNPs of any length, not a whole number of bytes or vector
// registers) into 0, 1, 2 or its SNP's fill, writes nothing past `count`,
// and adds each value to its SNP's sum once per call.
TEST(GenotypeBlock, CodesDecodeAlikeInEveryVectorKernel) {
  constexpr size_t kSnps = 45;
  std::vector<unsigned char> codes((kSnps + 3) / 4 + 1);
  for (size_t b = 0; b < codes.size(); ++b) codes[b] = static_cast<unsigned char>(b * 0x6B + 0x1B);
  std::vector<double> fill(kSnps);
  for (size_t j = 0; j < kSnps; ++j) fill[j] = 0.1 * static_cast<double>(j) + 1.0 / 3.0;
  for (size_t count : {size_t{kSnps}, size_t{8}, size_t{3}, size_t{0}}) {
    std::vector<double> expected(kSnps + 1, -1.0), expectedSums(kSnps + 1, 0.25);
    for (size_t j = 0; j < count; ++j) {
      const unsigned code = (codes[j / 4] >> (6 - 2 * (j % 4))) & 3u;
      expected[j] = code == 3 ? fill[j] : code;
      expectedSums[j] = (0.25 + expected[j]) + expected[j];
    }
    for (int level = 0; level <= static_cast<int>(ombra::widestVectorLevel()); ++level) {
      SCOPED_TRACE("count " + std::to_string(count) + ", level " + std::to_string(level));
      std::vector<double> out(kSnps + 1, -1.0), sums(kSnps + 1, 0.25);
      for (int twice = 0; twice < 2; ++twice) {
        ombra::decodeCodesAt(static_cast<ombra::VectorLevel>(level), codes.data(), count, fill.data(), out.data(),
                             sums.data());
      }
      for (size_t j = 0; j <= kSnps; ++j) {
        ASSERT_TRUE(sameBits(out[j], expected[j])) << "snp " << j;
        ASSERT_TRUE(sameBits(sums[j], expectedSums[j])) << "snp " << j;
      }
    }
  }
}

}  // namespace
