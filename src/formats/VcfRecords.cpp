#include "formats/VcfRecords.h"

#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Records.h"
#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

struct HtsFileCloser {
  void operator()(htsFile* file) const { hts_close(file); }
};
using HtsFilePtr = std::unique_ptr<htsFile, HtsFileCloser>;

std::string text(std::string_view view) { return std::string(view); }

// A bgzip file cut at a block boundary decompresses cleanly and would lose
// its last records without a word: only the end-of-file block tells.
void requireEndMarker(htsFile* file, const std::string& path) {
  if (hts_get_format(file)->compression != bgzf) return;
  if (hts_check_EOF(file) == 0) {
    stopRun("The file " + path + " ends without the end-of-file block of bgzip: it is truncated.\n");
  }
}

// What one character of a bare diploid call stands for: 0 or 1 ALT copies,
// a missing allele, or anything else (left to the full GT parser).
constexpr unsigned kMissing = 2;
constexpr unsigned kOther = 4;
const struct AlleleKinds {
  unsigned char kind[256];
  AlleleKinds() : kind() {
    for (unsigned char& k : kind) k = kOther;
    kind['0'] = 0;
    kind['1'] = 1;
    kind['.'] = kMissing;
  }
  unsigned operator[](unsigned char c) const { return kind[c]; }
} kAlleleKind;

// The position of a key in a FORMAT column, or -1.
int keyIndex(std::string_view format, std::string_view key) {
  int index = 0;
  size_t start = 0;
  while (start <= format.size()) {
    size_t end = format.find(':', start);
    if (end == std::string_view::npos) end = format.size();
    if (format.substr(start, end - start) == key) return index;
    ++index;
    start = end + 1;
  }
  return -1;
}

// Subfield `index` (separated by ':') of the sample column [column, end);
// a null view when the column has fewer subfields.
std::string_view subfield(const char* column, const char* end, int index) {
  const char* field = column;
  for (int k = 0; k < index; ++k) {
    const void* colon = std::memchr(field, ':', static_cast<size_t>(end - field));
    if (colon == nullptr) return std::string_view();
    field = static_cast<const char*>(colon) + 1;
  }
  const void* colon = std::memchr(field, ':', static_cast<size_t>(end - field));
  const char* fieldEnd = colon != nullptr ? static_cast<const char*>(colon) : end;
  return std::string_view(field, static_cast<size_t>(fieldEnd - field));
}

// Reads VCF text lines. The site columns are split in next(); the sample
// columns only for the records whose genotypes are asked for. Lines are
// found in large blocks of the decompressed text (htslib's own line reader
// looks at one character at a time).
class VcfTextReader : public VcfRecordReader {
 public:
  VcfTextReader(std::string filePath, HtsFilePtr opened)
      : VcfRecordReader(std::move(filePath)), file(std::move(opened)), buffer(new char[capacity]) {
    readHeader();
  }

  bool next(VcfSite& site) override;
  void genotypes(unsigned char* codes) override;
  bool hasField(DosageField field) override { return keyIndex(formatColumn(), dosageFieldName(field)) >= 0; }
  std::string where() const override {
    return "record " + std::to_string(recordNumber) + " (line " + std::to_string(lineNumber) + ", chromosome " +
           text(current.chrom) + ", position " + std::to_string(current.position) + ") of " + path;
  }

 private:
  // The next line without its line end; false at the end of the file.
  bool nextLine(std::string_view& line);
  // Reads more text after what is left of the buffer; false at the end.
  bool refill();
  void readHeader();
  [[noreturn]] void stopCutOff(int columns) const;
  bool hasGt() override { return keyIndex(formatColumn(), "GT") >= 0; }
  void fieldDosages(DosageField field, uint16_t* out, uint16_t* variances, std::vector<size_t>& leftOut) override;
  void findLeftOut(DosageField field, std::vector<size_t>& leftOut) override;
  // The FORMAT column of the current record; empty when it has none.
  std::string_view formatColumn() const {
    const void* tab = std::memchr(afterInfo, '\t', static_cast<size_t>(lineEnd - afterInfo));
    const char* formatEnd = tab != nullptr ? static_cast<const char*>(tab) : lineEnd;
    return std::string_view(afterInfo, static_cast<size_t>(formatEnd - afterInfo));
  }

  HtsFilePtr file;
  size_t capacity = size_t{1} << 22;
  std::unique_ptr<char[]> buffer;
  size_t begin = 0;
  size_t end = 0;
  bool exhausted = false;
  long long lineNumber = 0;
  VcfSite current;
  const char* afterInfo = nullptr;  // start of the FORMAT column, or the line end
  const char* lineEnd = nullptr;
};

bool VcfTextReader::refill() {
  if (exhausted) return false;
  if (begin > 0) {
    std::memmove(buffer.get(), buffer.get() + begin, end - begin);
    end -= begin;
    begin = 0;
  }
  if (end == capacity) {
    std::unique_ptr<char[]> larger(new char[capacity * 2]);
    std::memcpy(larger.get(), buffer.get(), end);
    buffer = std::move(larger);
    capacity *= 2;
  }
  // htslib keeps a compressed file behind BGZF and a plain one behind hFILE.
  char* into = buffer.get() + end;
  // One BGZF block at a time, so that a corrupt block is reported after the
  // last line read before it.
  const size_t room = std::min<size_t>(capacity - end, size_t{1} << 16);
  const ssize_t got = file->is_bgzf ? bgzf_read(file->fp.bgzf, into, room) : hread(file->fp.hfile, into, room);
  if (got < 0) {
    stopRun("The file " + path + " cannot be read after line " + std::to_string(lineNumber) +
            ": it is corrupt or truncated.\n");
  }
  if (got == 0) exhausted = true;
  end += static_cast<size_t>(got);
  return got > 0;
}

bool VcfTextReader::nextLine(std::string_view& line) {
  size_t searched = begin;
  while (true) {
    const void* feed = std::memchr(buffer.get() + searched, '\n', end - searched);
    if (feed != nullptr) {
      const size_t at = static_cast<size_t>(static_cast<const char*>(feed) - buffer.get());
      line = std::string_view(buffer.get() + begin, at - begin);
      begin = at + 1;
      break;
    }
    searched = end - begin;
    if (!refill()) {
      if (begin == end) return false;
      line = std::string_view(buffer.get() + begin, end - begin);
      begin = end;
      break;
    }
    searched += begin;
  }
  ++lineNumber;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

void VcfTextReader::readHeader() {
  std::string_view header;
  while (nextLine(header)) {
    if (header.compare(0, 2, "##") == 0) continue;
    if (header.compare(0, 6, "#CHROM") != 0) {
      stopRun("Line " + std::to_string(lineNumber) + " of " + path +
              " comes before the #CHROM header line but does not start with ##.\n");
    }
    std::vector<std::string_view> columns;
    FieldSplitter("\t", false).split(header, columns, 0);
    if (columns.size() < 8) {
      stopRun("The #CHROM header line of " + path + " has " + std::to_string(columns.size()) +
              " columns, but a VCF has at least 8.\n");
    }
    for (size_t c = 9; c < columns.size(); ++c) samples.emplace_back(columns[c]);
    return;
  }
  stopRun("The file " + path + " has no #CHROM header line.\n");
}

void VcfTextReader::stopCutOff(int columns) const {
  stopRun("Record " + std::to_string(recordNumber) + " (line " + std::to_string(lineNumber) + ") of " + path + " has " +
          std::to_string(columns) + " columns, but a VCF record has at least 8: it is cut off.\n");
}

bool VcfTextReader::next(VcfSite& site) {
  std::string_view line;
  do {
    if (!nextLine(line)) return false;
  } while (line.empty());
  ++recordNumber;
  const char* p = line.data();
  lineEnd = line.data() + line.size();
  std::string_view columns[8];
  for (int c = 0; c < 8; ++c) {
    const void* tab = std::memchr(p, '\t', static_cast<size_t>(lineEnd - p));
    const char* columnEnd = tab != nullptr ? static_cast<const char*>(tab) : lineEnd;
    if (c < 7 && columnEnd == lineEnd) stopCutOff(c + 1);
    columns[c] = std::string_view(p, static_cast<size_t>(columnEnd - p));
    p = columnEnd == lineEnd ? lineEnd : columnEnd + 1;
  }
  afterInfo = p;
  current.chrom = columns[0];
  current.id = columns[2];
  current.ref = columns[3];
  current.alt = columns[4];
  current.altCount = columns[4] == "." ? 0 : 1 + static_cast<int>(std::count(columns[4].begin(), columns[4].end(), ','));
  const std::string_view position = columns[1];
  long long value = 0;
  bool digits = !position.empty() && position.size() <= 18;
  for (size_t k = 0; digits && k < position.size(); ++k) {
    digits = position[k] >= '0' && position[k] <= '9';
    value = value * 10 + (position[k] - '0');
  }
  if (!digits) {
    stopRun("Record " + std::to_string(recordNumber) + " (line " + std::to_string(lineNumber) + ") of " + path +
            " has the position " + text(position) + ", which is not a number.\n");
  }
  current.position = value;
  site = current;
  return true;
}

void VcfTextReader::genotypes(unsigned char* codes) {
  const size_t n = samples.size();
  if (n == 0) return;
  const void* tab = std::memchr(afterInfo, '\t', static_cast<size_t>(lineEnd - afterInfo));
  if (tab == nullptr) stopAt("has no sample columns, but the header names " + std::to_string(n) + " samples");
  const char* formatEnd = static_cast<const char*>(tab);
  const std::string_view format(afterInfo, static_cast<size_t>(formatEnd - afterInfo));
  const int gtIndex = keyIndex(format, "GT");
  if (gtIndex < 0) stopAt("has no GT field (its FORMAT is " + text(format) + ")");

  const char* p = formatEnd + 1;
  const char* columnEnd = p;
  for (size_t c = 0; c < n; ++c) {
    // Most columns are a bare call such as "0/1" and its tab.
    if (gtIndex == 0 && c + 1 < n && lineEnd - p >= 4 && p[3] == '\t' && (p[1] == '/' || p[1] == '|')) {
      const unsigned a = kAlleleKind[static_cast<unsigned char>(p[0])];
      const unsigned b = kAlleleKind[static_cast<unsigned char>(p[2])];
      if (((a | b) & kOther) == 0) {
        codes[c] = static_cast<unsigned char>(((a | b) & kMissing) != 0 ? 3 : a + b);
        p += 4;
        continue;
      }
    }
    const void* found = std::memchr(p, '\t', static_cast<size_t>(lineEnd - p));
    columnEnd = found != nullptr ? static_cast<const char*>(found) : lineEnd;
    if (columnEnd == lineEnd && c + 1 < n) {
      stopAt("has " + std::to_string(c + 1) + " sample columns, but the header names " + std::to_string(n) +
             ": it is cut off");
    }
    const std::string_view gt = subfield(p, columnEnd, gtIndex);
    // A sample may drop trailing FORMAT fields; a dropped GT is missing.
    GtProblem problem = GtProblem::kNone;
    codes[c] = gt.data() == nullptr ? 3 : gtCode(gt.data(), gt.data() + gt.size(), problem);
    if (problem != GtProblem::kNone) {
      stopAt("has the genotype " + text(gt) + " for sample " +
             samples[c] + ", " + gtProblemWords(problem));
    }
    p = columnEnd + 1;
  }
  if (columnEnd != lineEnd) stopAt("has more sample columns than the header names (" + std::to_string(n) + ")");
}

void VcfTextReader::fieldDosages(DosageField field, uint16_t* out, uint16_t* variances, std::vector<size_t>& leftOut) {
  const size_t n = samples.size();
  if (n == 0) return;
  const std::string_view format = formatColumn();
  if (format.data() + format.size() == lineEnd) {
    stopAt("has no sample columns, but the header names " + std::to_string(n) + " samples");
  }
  const int index = keyIndex(format, dosageFieldName(field));
  if (index < 0) stopAt(std::string("has no ") + dosageFieldName(field) + " field");
  const char* p = format.data() + format.size() + 1;
  const char* columnEnd = p;
  std::string problem;
  for (size_t c = 0; c < n; ++c) {
    const void* found = std::memchr(p, '\t', static_cast<size_t>(lineEnd - p));
    columnEnd = found != nullptr ? static_cast<const char*>(found) : lineEnd;
    if (columnEnd == lineEnd && c + 1 < n) {
      stopAt("has " + std::to_string(c + 1) + " sample columns, but the header names " + std::to_string(n) +
             ": it is cut off");
    }
    // A sample may drop trailing FORMAT fields.
    const std::string_view value = subfield(p, columnEnd, index);
    if (value.data() == nullptr || value == ".") {
      out[c] = kMissingDosage;
      if (variances != nullptr) variances[c] = 0;
      leftOut.push_back(c);
    } else {
      out[c] = dosageOfText(field, value.data(), value.data() + value.size(), problem,
                            variances != nullptr ? variances + c : nullptr);
      if (!problem.empty()) stopAtValue(field, value, c, problem);
    }
    p = columnEnd + 1;
  }
  if (columnEnd != lineEnd) stopAt("has more sample columns than the header names (" + std::to_string(n) + ")");
}

void VcfTextReader::findLeftOut(DosageField field, std::vector<size_t>& leftOut) {
  const std::string_view format = formatColumn();
  const int index = keyIndex(format, dosageFieldName(field));
  if (index < 0 || samples.empty() || format.data() + format.size() == lineEnd) return;
  const char* p = format.data() + format.size() + 1;
  for (size_t c = 0;; ++c) {
    const void* found = std::memchr(p, '\t', static_cast<size_t>(lineEnd - p));
    const char* columnEnd = found != nullptr ? static_cast<const char*>(found) : lineEnd;
    const std::string_view value = subfield(p, columnEnd, index);
    if (value.data() == nullptr || value == ".") leftOut.push_back(c);
    if (columnEnd == lineEnd) return;
    p = columnEnd + 1;
  }
}

// Reads BCF records through htslib.
class BcfReader : public VcfRecordReader {
 public:
  BcfReader(std::string filePath, HtsFilePtr opened) : VcfRecordReader(std::move(filePath)), file(std::move(opened)) {
    header = bcf_hdr_read(file.get());
    if (header == nullptr) stopRun("The header of " + path + " cannot be read: it is not a valid BCF header.\n");
    for (int s = 0; s < bcf_hdr_nsamples(header); ++s) samples.emplace_back(header->samples[s]);
    record = bcf_init();
  }
  ~BcfReader() override {
    free(gt);
    free(values);
    free(integers);
    if (record != nullptr) bcf_destroy(record);
    if (header != nullptr) bcf_hdr_destroy(header);
  }

  bool next(VcfSite& site) override;
  void genotypes(unsigned char* codes) override;
  bool hasField(DosageField field) override;
  std::string where() const override {
    return "record " + std::to_string(recordNumber) + " (chromosome " + chrom + ", position " +
           std::to_string(record->pos + 1) + ") of " + path;
  }

 private:
  bool hasGt() override {
    if (bcf_unpack(record, BCF_UN_FMT) != 0) stopAt("cannot be read: the file is corrupt or truncated");
    return bcf_get_fmt(header, record, "GT") != nullptr;
  }
  void fieldDosages(DosageField field, uint16_t* out, uint16_t* variances, std::vector<size_t>& leftOut) override;
  void findLeftOut(DosageField field, std::vector<size_t>& leftOut) override;
  // Reads the values of `field` (a field declared Integer as the whole
  // numbers it holds); returns their count a sample.
  size_t fetchValues(DosageField field);
  // Whether the sample whose values start at `at` has none, or one missing.
  bool leftOutAt(size_t at, size_t each) const;
  // Those values as a VCF line holds them ("." for a missing one).
  void valueText(size_t at, size_t each, std::string& text) const;

  HtsFilePtr file;
  bcf_hdr_t* header = nullptr;
  bcf1_t* record = nullptr;
  std::string chrom;
  int32_t* gt = nullptr;
  int gtCapacity = 0;
  float* values = nullptr;
  int valuesCapacity = 0;
  int32_t* integers = nullptr;
  int integersCapacity = 0;
  bool integer = false;  // the values fetched last are integers
};

bool BcfReader::next(VcfSite& site) {
  const int status = bcf_read(file.get(), header, record);
  if (status == -1) return false;
  ++recordNumber;
  if (status < -1 || bcf_unpack(record, BCF_UN_STR) != 0) {
    stopRun("Record " + std::to_string(recordNumber) + " of " + path + " cannot be read: the file is corrupt or truncated.\n");
  }
  const char* name = record->rid >= 0 && record->rid < header->n[BCF_DT_CTG] ? bcf_hdr_id2name(header, record->rid) : nullptr;
  chrom = name != nullptr ? name : ".";
  site.chrom = chrom;
  site.position = record->pos + 1;
  site.id = record->d.id != nullptr ? record->d.id : ".";
  site.ref = record->n_allele > 0 ? record->d.allele[0] : "";
  site.alt = record->n_allele > 1 ? record->d.allele[1] : "";
  site.altCount = record->n_allele > 0 ? record->n_allele - 1 : 0;
  return true;
}

void BcfReader::genotypes(unsigned char* codes) {
  const size_t n = samples.size();
  if (n == 0) return;
  // A corrupt record may claim a GT field far larger than its data; htslib
  // would try to allocate it and end the process on failure.
  if (bcf_unpack(record, BCF_UN_FMT) != 0) stopAt("cannot be read: the file is corrupt or truncated");
  const bcf_fmt_t* field = bcf_get_fmt(header, record, "GT");
  if (field == nullptr) stopAt("has no GT field");
  // field->size is the bytes of one sample's values; all samples' values
  // lie in the record's FORMAT block.
  const uint64_t claimed = static_cast<uint64_t>(std::max(field->size, 0)) * static_cast<uint64_t>(bcf_hdr_nsamples(header));
  if (field->n <= 0 || field->size <= 0 || claimed > record->indiv.l) {
    stopAt("has a GT field larger than its data: the file is corrupt");
  }
  // htslib ends the process on a GT whose values are not integers.
  if (field->type != BCF_BT_INT8 && field->type != BCF_BT_INT16 && field->type != BCF_BT_INT32) {
    stopAt("has a GT field whose values are not integers: the file is corrupt");
  }
  // Haploid and diploid calls are read; a vector of more than 8 alleles a sample is
  // refused before htslib sizes its buffer from it.
  if (field->n > 8) {
    stopAt("has a GT field of " + std::to_string(field->n) + " alleles a sample: only diploid genotypes can be read");
  }
  const int values = bcf_get_genotypes(header, record, &gt, &gtCapacity);
  if (values < 0) stopAt("has no GT field");
  const size_t ploidy = static_cast<size_t>(values) / n;
  if (ploidy == 0) stopAt("has no GT values");
  for (size_t c = 0; c < n; ++c) {
    const int32_t* call = gt + c * ploidy;
    size_t alleles = 0;
    while (alleles < ploidy && call[alleles] != bcf_int32_vector_end) ++alleles;
    bool missing = false;
    unsigned alt = 0;
    bool otherAllele = false;
    for (size_t a = 0; a < alleles; ++a) {
      if (call[a] == bcf_int32_missing || bcf_gt_is_missing(call[a])) {
        missing = true;
      } else {
        const int index = bcf_gt_allele(call[a]);
        otherAllele = otherAllele || index > 1 || index < 0;
        alt += index == 1;
      }
    }
    GtProblem problem = GtProblem::kNone;
    if (alleles > 2) problem = GtProblem::kPolyploid;
    if (problem == GtProblem::kNone && otherAllele) problem = GtProblem::kOtherAllele;
    if (problem != GtProblem::kNone) {
      stopAt("has a genotype of " + std::to_string(alleles) + " alleles for sample " + samples[c] + ", " +
             gtProblemWords(problem));
    }
    codes[c] = callCode(alleles, alt, missing);
  }
}

bool BcfReader::hasField(DosageField field) {
  if (bcf_unpack(record, BCF_UN_FMT) != 0) stopAt("cannot be read: the file is corrupt or truncated");
  return bcf_get_fmt(header, record, dosageFieldName(field)) != nullptr;
}

size_t BcfReader::fetchValues(DosageField field) {
  const size_t n = samples.size();
  const char* name = dosageFieldName(field);
  if (bcf_unpack(record, BCF_UN_FMT) != 0) stopAt("cannot be read: the file is corrupt or truncated");
  const bcf_fmt_t* format = bcf_get_fmt(header, record, name);
  if (format == nullptr) stopAt(std::string("has no ") + name + " field");
  const uint64_t claimed = static_cast<uint64_t>(std::max(format->size, 0)) * n;
  integer = format->type == BCF_BT_INT8 || format->type == BCF_BT_INT16 || format->type == BCF_BT_INT32;
  if (format->n <= 0 || format->size <= 0 || claimed > record->indiv.l || (format->type != BCF_BT_FLOAT && !integer)) {
    stopAt(std::string("has a ") + name + " field that is not a list of numbers of its stated size: the file is corrupt");
  }
  if (format->n > 3) stopAt(std::string("has ") + std::to_string(format->n) + " " + name + " values a sample, for one ALT");
  const int count = integer ? bcf_get_format_int32(header, record, name, &integers, &integersCapacity)
                            : bcf_get_format_float(header, record, name, &values, &valuesCapacity);
  if (count < 0 || static_cast<size_t>(count) % n != 0) stopAt(std::string("has a ") + name + " field that cannot be read");
  return static_cast<size_t>(count) / n;
}

bool BcfReader::leftOutAt(size_t at, size_t each) const {
  const auto ends = [&](size_t k) { return integer ? integers[k] == bcf_int32_vector_end : bcf_float_is_vector_end(values[k]); };
  const auto missing = [&](size_t k) { return integer ? integers[k] == bcf_int32_missing : bcf_float_is_missing(values[k]); };
  return ends(at) || (missing(at) && (each == 1 || ends(at + 1)));
}

void BcfReader::valueText(size_t at, size_t each, std::string& text) const {
  char number[32];
  text.clear();
  for (size_t k = at; k < at + each; ++k) {
    if (integer ? integers[k] == bcf_int32_vector_end : bcf_float_is_vector_end(values[k])) break;
    if (k > at) text += ',';
    if (integer ? integers[k] == bcf_int32_missing : bcf_float_is_missing(values[k])) {
      text += '.';
    } else {
      const int length = integer ? std::snprintf(number, sizeof number, "%d", integers[k])
                                 : std::snprintf(number, sizeof number, "%.9g", values[k]);
      text.append(number, static_cast<size_t>(length));
    }
  }
}

void BcfReader::fieldDosages(DosageField field, uint16_t* out, uint16_t* variances, std::vector<size_t>& leftOut) {
  const size_t n = samples.size();
  if (n == 0) return;
  const size_t each = fetchValues(field);
  std::string problem;
  std::string text;
  for (size_t c = 0; c < n; ++c) {
    // A sample without values (all of them the vector's end) left the
    // field out, as a VCF sample drops a trailing field.
    if (leftOutAt(c * each, each)) {
      out[c] = kMissingDosage;
      if (variances != nullptr) variances[c] = 0;
      leftOut.push_back(c);
      continue;
    }
    // The values as text, so that both formats share one reading of them.
    valueText(c * each, each, text);
    out[c] = dosageOfText(field, text.data(), text.data() + text.size(), problem,
                          variances != nullptr ? variances + c : nullptr);
    if (!problem.empty()) stopAtValue(field, text, c, problem);
  }
}

void BcfReader::findLeftOut(DosageField field, std::vector<size_t>& leftOut) {
  const size_t n = samples.size();
  if (n == 0) return;
  const size_t each = fetchValues(field);
  for (size_t c = 0; c < n; ++c) {
    if (leftOutAt(c * each, each)) leftOut.push_back(c);
  }
}

}  // namespace

void VcfRecordReader::stopAtValue(DosageField field, std::string_view value, size_t c, const std::string& problem) const {
  const std::string name = dosageFieldName(field);
  if (value.empty()) stopAt("has an empty " + name + " value for sample " + samples[c]);
  stopAt("has the " + name + " value " + std::string(value) + " for sample " + samples[c] + ", " + problem);
}

void VcfRecordReader::dosages(DosageField field, uint16_t* out, uint16_t* variances) {
  leftOut.clear();
  fieldDosages(field, out, variances, leftOut);
  if (leftOut.empty() || !hasGt()) return;
  calls.resize(samples.size());
  genotypes(calls.data());
  for (size_t c : leftOut) out[c] = calls[c] == 3 ? kMissingDosage : static_cast<uint16_t>(calls[c] * kDosageOne);
}

size_t VcfRecordReader::callsTaken(DosageField field) {
  leftOut.clear();
  findLeftOut(field, leftOut);
  if (leftOut.empty() || !hasGt()) return 0;
  calls.resize(samples.size());
  genotypes(calls.data());
  return static_cast<size_t>(std::count_if(leftOut.begin(), leftOut.end(), [&](size_t c) { return calls[c] != 3; }));
}

void VcfRecordReader::stopAt(const std::string& problem) const {
  std::string place = where();
  place[0] = 'R';
  stopRun(place + " " + problem + ".\n");
}

std::unique_ptr<VcfRecordReader> VcfRecordReader::open(const std::string& path) {
  // Every problem is reported by this program's own message, naming the file.
  hts_set_log_level(HTS_LOG_OFF);
  HtsFilePtr file(hts_open(path.c_str(), "r"));
  if (file == nullptr) stopRun("The file " + path + " cannot be opened as a VCF or BCF file.\n");
  const htsExactFormat format = hts_get_format(file.get())->format;
  if (format != vcf && format != bcf) {
    const bool compressed = hts_get_format(file.get())->compression != no_compression;
    stopRun("The file " + path + " is not a VCF or BCF file" +
            (compressed ? ", or its first compressed block is corrupt.\n" : ".\n"));
  }
  requireEndMarker(file.get(), path);
  if (format == bcf) return std::make_unique<BcfReader>(path, std::move(file));
  return std::make_unique<VcfTextReader>(path, std::move(file));
}

const char* dosageFieldName(DosageField field) {
  switch (field) {
    case DosageField::kDs: return "DS";
    case DosageField::kGp: return "GP";
    case DosageField::kHds: return "HDS";
    case DosageField::kGt: break;
  }
  return "GT";
}

namespace {

// Whether the number [text, stop), out of a double's range, is too small
// for one rather than too large; sets `value` to 0 then.
bool underflows(const char* text, const char* stop, double& value) {
  const std::string copy(text, stop);
  errno = 0;
  const double read = std::strtod(copy.c_str(), nullptr);
  if (errno == ERANGE && std::fabs(read) < 1) {
    value = 0;
    return true;
  }
  return false;
}

// Reads a number of [text, end) up to a comma; false when there is none.
bool readNumber(const char*& text, const char* end, double& value) {
  const char* stop = static_cast<const char*>(std::memchr(text, ',', static_cast<size_t>(end - text)));
  if (stop == nullptr) stop = end;
  const std::from_chars_result read = std::from_chars(text, stop, value);
  if (read.ptr != stop || (read.ec != std::errc() && !underflows(text, stop, value)) || !std::isfinite(value)) {
    return false;
  }
  text = stop == end ? end : stop + 1;
  return true;
}

}  // namespace

uint16_t dosageOfText(DosageField field, const char* text, const char* end, std::string& problem,
                      uint16_t* variance) {
  problem.clear();
  if (variance != nullptr) *variance = 0;
  if (text == end) {
    problem = "which is empty";
    return kMissingDosage;
  }
  if (end - text == 1 && *text == '.') return kMissingDosage;
  const size_t wanted = field == DosageField::kDs ? 1 : field == DosageField::kHds ? 2 : 3;
  double numbers[3] = {0, 0, 0};
  size_t count = 0;
  const char* p = text;
  while (p != end && count < 3) {
    if (!readNumber(p, end, numbers[count])) {
      problem = "which is not a list of numbers";
      return kMissingDosage;
    }
    ++count;
  }
  // Haplotype dosages of a haploid call count as both copies.
  if (field == DosageField::kHds && count == 1) numbers[1] = numbers[0];
  if (p != end || (count != wanted && !(field == DosageField::kHds && count == 1))) {
    problem = "which is not " + std::to_string(wanted) + (wanted == 1 ? " number" : " numbers");
    return kMissingDosage;
  }
  double dosage = 0;
  if (field == DosageField::kDs) {
    dosage = numbers[0];
  } else if (field == DosageField::kHds) {
    if (numbers[0] < 0 || numbers[0] > 1 || numbers[1] < 0 || numbers[1] > 1) {
      problem = "which is outside [0, 1]";
      return kMissingDosage;
    }
    dosage = numbers[0] + numbers[1];
  } else {
    for (double probability : numbers) {
      if (probability < 0 || probability > 1) {
        problem = "which has a probability outside [0, 1]";
        return kMissingDosage;
      }
    }
    if (std::fabs(numbers[0] + numbers[1] + numbers[2] - 1) > 0.01) {
      problem = "whose probabilities do not sum to 1";
      return kMissingDosage;
    }
    dosage = numbers[1] + 2 * numbers[2];
    const double moment = numbers[1] + 4 * numbers[2];
    if (variance != nullptr) *variance = varianceUnits(moment - dosage * dosage);
  }
  if (!(dosage >= 0 && dosage <= 2)) {
    problem = "which is outside [0, 2]";
    return kMissingDosage;
  }
  return static_cast<uint16_t>(std::lround(dosage * kDosageOne));
}

unsigned char gtCode(const char* text, const char* end, GtProblem& problem) {
  problem = GtProblem::kNone;
  if (end - text == 3 && (text[1] == '/' || text[1] == '|')) {
    const char a = text[0];
    const char b = text[2];
    const bool known = (a == '0' || a == '1') && (b == '0' || b == '1');
    if (known) return static_cast<unsigned char>((a - '0') + (b - '0'));
    if ((a == '.' || a == '0' || a == '1') && (b == '.' || b == '0' || b == '1')) return 3;
  }
  if (end - text == 1 && text[0] == '.') return 3;
  int alleles = 0;
  bool missing = false;
  bool otherAllele = false;
  unsigned alt = 0;
  const char* p = text;
  while (true) {
    if (p == end) {
      problem = GtProblem::kNotGt;
      return 3;
    }
    if (*p == '.') {
      missing = true;
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      long index = 0;
      while (p != end && *p >= '0' && *p <= '9') {
        if (index < 1000) index = index * 10 + (*p - '0');
        ++p;
      }
      otherAllele = otherAllele || index > 1;
      alt += index == 1;
    } else {
      problem = GtProblem::kNotGt;
      return 3;
    }
    ++alleles;
    if (p == end) break;
    if (*p != '/' && *p != '|') {
      problem = GtProblem::kNotGt;
      return 3;
    }
    ++p;
  }
  if (alleles > 2) problem = GtProblem::kPolyploid;
  if (problem == GtProblem::kNone && otherAllele) problem = GtProblem::kOtherAllele;
  if (problem != GtProblem::kNone) return 3;
  return callCode(alleles, alt, missing);
}

const char* gtProblemWords(GtProblem problem) {
  switch (problem) {
    case GtProblem::kPolyploid: return "which is polyploid: only diploid genotypes can be read";
    case GtProblem::kOtherAllele: return "which names an allele other than REF and the record's one ALT";
    case GtProblem::kNotGt: return "which is not a GT call";
    case GtProblem::kNone: break;
  }
  return "which cannot be read";
}

}  // namespace ombra
