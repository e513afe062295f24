#include "numerics/PackedGenotypes.h"

#include <algorithm>
#include <array>
#include <memory>

#include "core/Records.h"

namespace ombra {

namespace {

// Columns decoded together: their output of one row fills a cache line, and
// the bytes they are read from stay in the first-level cache while the rows
// of the block go by.
constexpr int kTile = 64;
// Rows decoded together (a multiple of 4): the lines and pages they write
// to stay in cache while the tiles go by.
constexpr int kChunk = 128;

constexpr int8_t kValue[4] = {-1, 0, 1, 0};
constexpr int kCalled[4] = {0, 1, 2, 0};

// A packed byte: the values and called codes of its four slots, and which
// of them are missing (bit k for slot k).
struct ByteCodes {
  int8_t value[4];
  int called[4];
  int missing;
};

std::array<ByteCodes, 256> byteTable() {
  std::array<ByteCodes, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    ByteCodes& entry = table[static_cast<size_t>(byte)];
    for (int k = 0; k < 4; ++k) {
      const int code = (byte >> (6 - 2 * k)) & 3;
      entry.value[k] = kValue[code];
      entry.called[k] = kCalled[code];
      if (code == 3) entry.missing |= 1 << k;
    }
  }
  return table;
}

const std::array<ByteCodes, 256>& codesOfByte() {
  static const std::array<ByteCodes, 256> table = byteTable();
  return table;
}

// Rows r .. r + 3 of the block are the four slots of one byte of every
// packed row.
bool wholeByte(const PackedGenotypes& genotypes, int first, int r) {
  const int* slot = genotypes.snps.data() + first + r;
  return slot[0] % 4 == 0 && slot[1] == slot[0] + 1 && slot[2] == slot[0] + 2 && slot[3] == slot[0] + 3;
}

void decodeTileByte(const PackedGenotypes& genotypes, int j0, int width, int r, DecodedRows& out) {
  const size_t cols = genotypes.columns.size();
  const size_t byte = static_cast<size_t>(genotypes.snps[static_cast<size_t>(out.first + r)]) / 4;
  int8_t* __restrict row0 = out.values.data() + static_cast<size_t>(r) * cols + static_cast<size_t>(j0);
  int8_t* __restrict row1 = row0 + cols;
  int8_t* __restrict row2 = row1 + cols;
  int8_t* __restrict row3 = row2 + cols;
  const ByteCodes* table = codesOfByte().data();
  const unsigned char* const* columns = genotypes.columns.data() + j0;
  int sum0 = 0, sum1 = 0, sum2 = 0, sum3 = 0, anyMissing = 0;
  for (int t = 0; t < width; ++t) {
    const ByteCodes codes = table[columns[t][byte]];
    row0[t] = codes.value[0];
    row1[t] = codes.value[1];
    row2[t] = codes.value[2];
    row3[t] = codes.value[3];
    sum0 += codes.called[0];
    sum1 += codes.called[1];
    sum2 += codes.called[2];
    sum3 += codes.called[3];
    anyMissing |= codes.missing;
  }
  int* sums = out.calledSum.data() + r;
  sums[0] += sum0;
  sums[1] += sum1;
  sums[2] += sum2;
  sums[3] += sum3;
  if (anyMissing == 0) return;
  for (int t = 0; t < width; ++t) {
    const int missing = table[columns[t][byte]].missing;
    for (int k = 0; k < 4; ++k) {
      if ((missing >> k) & 1) {
        out.calls.push_back(r + k);
        out.calls.push_back(j0 + t);
      }
    }
  }
}

void decodeTileRow(const PackedGenotypes& genotypes, int j0, int width, int r, DecodedRows& out) {
  const size_t cols = genotypes.columns.size();
  const int slot = genotypes.snps[static_cast<size_t>(out.first + r)];
  const size_t byte = static_cast<size_t>(slot) / 4;
  const int shift = 2 * (3 - slot % 4);
  int8_t* row = out.values.data() + static_cast<size_t>(r) * cols + static_cast<size_t>(j0);
  int sum = 0;
  for (int t = 0; t < width; ++t) {
    const int code = (genotypes.columns[static_cast<size_t>(j0 + t)][byte] >> shift) & 3;
    row[t] = kValue[code];
    sum += kCalled[code];
    if (code == 3) {
      out.calls.push_back(r);
      out.calls.push_back(j0 + t);
    }
  }
  out.calledSum[static_cast<size_t>(r)] += sum;
}

// Stable counting sort of the (row, column) pairs by `key` (0 row, 1 column)
// into CSR form: the other member of each pair, grouped by key.
void groupCalls(const std::vector<int>& calls, int key, int groups, std::vector<int>& start, std::vector<int>& other) {
  start.assign(static_cast<size_t>(groups) + 1, 0);
  const size_t pairs = calls.size() / 2;
  for (size_t p = 0; p < pairs; ++p) ++start[static_cast<size_t>(calls[2 * p + key]) + 1];
  for (int g = 0; g < groups; ++g) start[static_cast<size_t>(g) + 1] += start[static_cast<size_t>(g)];
  other.resize(pairs);
  std::vector<int> next(start.begin(), start.end() - 1);
  for (size_t p = 0; p < pairs; ++p) {
    other[static_cast<size_t>(next[static_cast<size_t>(calls[2 * p + key])]++)] = calls[2 * p + 1 - key];
  }
}

}  // namespace

// Rows of dosages, centred as doubles; no call is missing in the integer
// part, which stays zero.
void decodeDosageRows(const PackedGenotypes& genotypes, int first, int count, DecodedRows& out) {
  const size_t cols = genotypes.columns.size();
  out.dense.resize(static_cast<size_t>(count) * cols);
  out.values.assign(static_cast<size_t>(count) * cols, 0);
  out.calls.clear();
  out.centring.assign(static_cast<size_t>(count), RowCentring());
  for (int r = 0; r < count; ++r) {
    const size_t s = static_cast<size_t>(first + r);
    const size_t slot = static_cast<size_t>(genotypes.snps[s]);
    const double fill = genotypes.fill[s];
    double* row = out.dense.data() + static_cast<size_t>(r) * cols;
    double sum = 0;
    for (size_t j = 0; j < cols; ++j) {
      const uint16_t* dosages = genotypes.dosageColumns[j];
      if (dosages != nullptr) {
        row[j] = dosages[slot] != kMissingDosage ? dosageCopies(dosages[slot]) : fill;
      } else {
        const int code = (genotypes.columns[j][slot / 4] >> (2 * (3 - slot % 4))) & 3;
        row[j] = code != 3 ? code : fill;
      }
      sum += row[j];
    }
    const double mean = cols > 0 ? sum / static_cast<double>(cols) : 0.0;
    for (size_t j = 0; j < cols; ++j) row[j] -= mean;
    out.centring[static_cast<size_t>(r)].mean = mean;
  }
  groupCalls(out.calls, 0, count, out.rowStart, out.byRow);
  groupCalls(out.calls, 1, static_cast<int>(cols), out.columnStart, out.byColumn);
}

void decodeRows(const PackedGenotypes& genotypes, int first, int count, DecodedRows& out) {
  const int cols = genotypes.cols();
  out.first = first;
  out.count = count;
  out.dosages = !genotypes.dosageColumns.empty();
  if (out.dosages) {
    decodeDosageRows(genotypes, first, count, out);
    return;
  }
  out.values.resize(static_cast<size_t>(count) * static_cast<size_t>(cols));
  out.calledSum.assign(static_cast<size_t>(count), 0);
  out.calls.clear();
  for (int r0 = 0; r0 < count; r0 += kChunk) {
    const int end = std::min(count, r0 + kChunk);
    for (int j0 = 0; j0 < cols; j0 += kTile) {
      const int width = std::min(kTile, cols - j0);
      for (int r = r0; r < end;) {
        if (r + 4 <= end && wholeByte(genotypes, first, r)) {
          decodeTileByte(genotypes, j0, width, r, out);
          r += 4;
        } else {
          decodeTileRow(genotypes, j0, width, r, out);
          r += 1;
        }
      }
    }
  }
  groupCalls(out.calls, 0, count, out.rowStart, out.byRow);
  groupCalls(out.calls, 1, cols, out.columnStart, out.byColumn);
  out.centring.resize(static_cast<size_t>(count));
  for (int r = 0; r < count; ++r) {
    const size_t row = static_cast<size_t>(r);
    const int missing = out.rowStart[row + 1] - out.rowStart[row];
    const double fill = genotypes.fill[static_cast<size_t>(first + r)];
    RowCentring& centring = out.centring[row];
    centring.mean = cols > 0 ? (out.calledSum[row] + missing * fill) / cols : 0.0;
    centring.offset = 1.0 - centring.mean;
    centring.extra = fill - 1.0;
    centring.missing = fill - centring.mean;
  }
}

void centredRow(const DecodedRows& block, int r, int cols, double* out) {
  if (block.dosages) {
    const double* row = block.dense.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
    std::copy(row, row + cols, out);
    return;
  }
  const int8_t* values = block.values.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
  const RowCentring& centring = block.centring[static_cast<size_t>(r)];
  // y + 1 is the called code, exactly; the subtraction is the only rounding.
  for (int j = 0; j < cols; ++j) out[j] = (values[j] + 1.0) - centring.mean;
  for (int k = block.rowStart[static_cast<size_t>(r)]; k < block.rowStart[static_cast<size_t>(r) + 1]; ++k) {
    out[block.byRow[static_cast<size_t>(k)]] = centring.missing;
  }
}

}  // namespace ombra
