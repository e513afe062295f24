// PLINK 1 binary filesets: the 6-column .bim, and the SNP-major .bed as a
// genotype source.
//
// A .bed starts with the bytes 0x6c 0x1b 0x01 and holds one column of
// ceil(N / 4) bytes per SNP of the .bim, the first individual of a byte in
// its LOW bits. Its 2-bit codes: 00 homozygous for the .bim's column-5
// allele (A1), 01 missing, 10 heterozygous, 11 homozygous for the column-6
// allele (A2). A marker read from a .bim has allele1 = A1 and allele2 = A2,
// so Ombra's code (copies of allele2) is 00 -> 0, 10 -> 1, 11 -> 2, 01 -> 3.
#ifndef OMBRA_FORMATS_PLINKBED_H
#define OMBRA_FORMATS_PLINKBED_H

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "formats/GenotypeSource.h"
#include "formats/MarkerReader.h"

namespace ombra {

// The magic bytes of a SNP-major PLINK 1 .bed.
inline constexpr std::array<unsigned char, 3> kPlinkBedMagic = {0x6c, 0x1b, 0x01};

// True when the binary set `prefix` is a PLINK 1 fileset rather than
// Ombra's own: prefix.bed starts with PLINK's magic bytes and the first line
// of prefix.bim has 6 fields (Ombra's .bim has 7) or there is no line. A
// 6-column .bim beside another .bed is read as Ombra's own set, after a
// note saying why. False when prefix.bim does not exist.
// `quiet` leaves the note out.
bool isPlinkFileset(const std::string& prefix, bool quiet = false);

// The markers of a PLINK .bim (chromosome, name, distance, position, A1,
// A2; "0" is an unknown allele), allele2Count 0. A line without exactly 6
// fields, an out-of-range position or a carriage return stops the run with
// a message naming the file and line.
std::vector<Marker> readPlinkBim(const std::string& path);

// The same markers one line at a time.
class BimReader : public MarkerReader {
 public:
  explicit BimReader(const std::string& bimPath);
  bool next(Marker& marker) override;
  void rewind() override;

 private:
  std::string path;
  std::ifstream in;
  std::unique_ptr<LineReader> lines;
  std::vector<std::string_view> fields;
};

// Reads the codes of a SNP-major .bed. The constructor checks the magic
// bytes and that the file has exactly 3 + M * ceil(N / 4) bytes for the M
// markers and N individuals given, and stops the run otherwise. Every block
// read adds its codes to the allele2Count of its markers, so that the counts
// are complete once every SNP has been read once.
class PlinkBedSource : public GenotypeSource {
 public:
  PlinkBedSource(const std::string& bedPath, const std::string& bimPath, const std::string& famPath,
                 std::vector<Marker> markers, size_t samples);
  // A source of `snpCount` SNPs whose markers are not held (markers() is
  // empty and no allele counts are kept): a streamed run reads them from
  // the .bim as it goes.
  PlinkBedSource(const std::string& bedPath, const std::string& bimPath, const std::string& famPath,
                 size_t snpCount, size_t samples);
  size_t sampleCount() const override { return samples; }
  const std::vector<Marker>& markers() const override { return snps; }
  void readSnps(size_t first, size_t count, unsigned char* out) override;

 private:
  void open(const std::string& bimPath, const std::string& famPath);
  void checkHeaderAndSize(const std::string& bimPath, const std::string& famPath);
  std::string endOfGenotypes(long long actual) const;

  std::string path;
  std::ifstream file;
  std::vector<Marker> snps;
  size_t snpTotal;
  size_t samples;
  size_t nextSnp = 0;  // the SNP the file position stands at
};

// Packs `count` SNP columns of Ombra codes (a block as GenotypeSource
// describes it, `samples` individuals) into PLINK .bed columns, in place.
void ombraColumnsToPlink(unsigned char* columns, size_t count, size_t samples);

}  // namespace ombra

#endif  // OMBRA_FORMATS_PLINKBED_H
