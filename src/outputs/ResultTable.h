// The result file's lines, in the fixed-width layout Ombra has always
// written or as a tab-separated table with a header (--out-format tsv),
// and the file they go to: plain, or gzip-compressed for a tsv table whose
// name ends in ".gz".
#ifndef OMBRA_OUTPUTS_RESULTTABLE_H
#define OMBRA_OUTPUTS_RESULTTABLE_H

#include <zlib.h>

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/OutputFile.h"

struct Marker;

namespace ombra {

enum class ResultFormat { kFixed, kTsv };

// The columns of a result line: the format, and whether the mixed model's
// four columns follow the others (--model lmm).
struct ResultLayout {
  ResultLayout(ResultFormat resultFormat = ResultFormat::kFixed, bool withMixedModel = false)  // NOLINT: implicit
      : format(resultFormat), mixedModel(withMixedModel) {}
  ResultFormat format;
  bool mixedModel;
};

// The numbers of one SNP's line.
struct SnpResult {
  double f = 0;              // frequency of allele2 among the tested individuals
  bool monomorphic = false;  // not tested: the statistics are 0 and the p-values 1
  double statistic[3] = {0, 0, 0};  // SS, T, T1
  double p[3] = {1, 1, 1};
  size_t tested = 0;         // individuals tested at the SNP
  // The regression of the adjusted trait on the adjusted genotype: effect
  // per copy of allele2 and its standard error (not-a-number when the SNP
  // has no variance left or the design no degree of freedom).
  double beta = std::numeric_limits<double>::quiet_NaN();
  double se = std::numeric_limits<double>::quiet_NaN();
  // Imputation quality: the dosages' variance over its binomial expectation
  // 2f(1 - f) among the tested individuals; 1 for hard calls.
  double info = 1;
  // The mixed model's Wald test (--model lmm): effect, standard error,
  // statistic (1 df) and p-value.
  double lmmBeta = std::numeric_limits<double>::quiet_NaN();
  double lmmSe = std::numeric_limits<double>::quiet_NaN();
  double lmmStatistic = 0;
  double lmmP = 1;
};

// The header line of `layout` ("" for the fixed layout, which has none).
std::string resultHeader(ResultLayout layout);
// Appends one statistic and its p-value in the fixed layout's columns.
void appendFixedStatistic(std::string& out, double statistic, double p, bool monomorphic);
// Appends the line of one SNP. The tsv table always ends in BETA SE INFO; the
// mixed model's columns follow in both formats when the layout has them.
void appendResultLine(std::string& out, ResultLayout layout, const Marker& marker, const SnpResult& result);

// The result file: an OutputFile, with a deflate stream in front of it when
// the table is to be compressed.
class ResultFile {
 public:
  ResultFile() = default;
  ~ResultFile();
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  void open(const std::string& path, bool gzip);
  void put(std::string_view text);
  void close();

 private:
  void deflateInto(int flush);

  OutputFile file;
  bool compressed = false;
  z_stream stream{};
  std::vector<unsigned char> buffer;
};

// The genomic inflation factor of a statistic: the median of its finite
// values over 0.4549364, the median of a 1-df chi-square (not-a-number
// when there is none).
double genomicInflation(std::vector<double> statistics);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_RESULTTABLE_H
