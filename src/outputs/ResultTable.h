// The result file's lines, in the fixed-width layout Ombra has always
// written, as a tab-separated table with a header (--out-format tsv) or as
// GWAS-SSF summary statistics (--out-format ssf, SsfTable.h), and the file
// they go to: plain, or gzip-compressed when its name ends in ".gz".
#ifndef OMBRA_OUTPUTS_RESULTTABLE_H
#define OMBRA_OUTPUTS_RESULTTABLE_H

#include <zlib.h>

#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/OutputFile.h"
#include "outputs/Md5.h"
#include "outputs/ResultColumns.h"

struct Marker;

namespace ombra {

enum class ResultFormat { kFixed, kTsv, kSsf };

// The layout of a result line: the format and the run's columns.
struct ResultLayout {
  explicit ResultLayout(ResultFormat resultFormat = ResultFormat::kFixed, ResultColumns runColumns = {})
      : format(resultFormat), columns(std::move(runColumns)) {}
  ResultFormat format;
  ResultColumns columns;
  // Whether any of `columns[first, first + count)` is written in this format.
  bool writes(size_t first, size_t count) const;
  // Whether the lines name each SNP's called count (the fixed layout does not).
  bool writesCalled() const { return format != ResultFormat::kFixed; }
};

// The numbers of one SNP's line.
struct SnpResult {
  double f = 0;              // frequency of allele2 among the tested individuals
  bool monomorphic = false;  // not tested: every column keeps its untested value
  size_t tested = 0;         // individuals tested at the SNP
  size_t called = 0;         // of them, those with a called genotype or a dosage (the others are filled)
  std::vector<double> values;  // per column of the run (ResultColumns)
  // What kept the SNP from being tested, or what a model could not do for
  // it ("" when nothing): the tsv table's NOTE.
  std::string note;
};

// The header line of `layout` ("" for the fixed layout, which has none).
std::string resultHeader(const ResultLayout& layout);
// Appends the line of one SNP: the SNP's own columns, then every column the
// layout's format writes, in order; the tsv table then has NOTE,
// EFFECT_ALLELE (A2, the allele whose copies the effects count) and
// N_CALLED.
void appendResultLine(std::string& out, const ResultLayout& layout, const Marker& marker, const SnpResult& result);

// The result file: an OutputFile, with a deflate stream in front of it when
// the file is to be compressed, and the MD5 digest of the bytes it wrote
// when asked for (the GWAS-SSF metadata names it).
class ResultFile {
 public:
  ResultFile() = default;
  ~ResultFile();
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  void open(const std::string& path, bool gzip, bool digest = false);
  void put(std::string_view text);
  void close();
  // The digest of the file's bytes, once closed (empty when not asked for).
  const std::string& md5() const { return digestHex; }

 private:
  void deflateInto(int flush);
  void write(std::string_view bytes);

  OutputFile file;
  std::unique_ptr<Md5> hash;
  std::string digestHex;
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
