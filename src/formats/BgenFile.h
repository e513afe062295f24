// BGEN files (versions 1.1, 1.2 and 1.3): the header, the sample identifiers,
// the list of variants and the dosages of one variant.
//
// A file starts with the offset of its first variant (4 bytes), then the
// header block: its length, the variant count M, the sample count N, the
// magic bytes ("bgen", or four zero bytes in old files), free data, and the
// flags (bits 0-1 compression: 0 none, 1 zlib, 2 zstd; bits 2-5 layout 1
// or 2; bit 31 a sample identifier block follows). Each variant has its
// identifying data (IDs, chromosome, position, alleles) and a genotype block
// of probabilities: layout 1 (version 1.1) three 16-bit probabilities per
// sample in 1/32768 units, layout 2 (1.2, 1.3) a ploidy and missing flag per
// sample and packed B-bit probabilities, the last of each distribution left
// out. All numbers are little-endian.
//
// The dosage of a sample is its expected count of the SECOND allele of the
// record (allele2; allele1 is the first): P(het) + 2 P(hom second) when
// unphased, the sum over its two haplotypes of P(second) when phased, and
// 2 P(second) for a haploid sample (as PLINK 2 counts male X: 0 or 2
// copies), in units of 1/kDosageOne copy rounded to the nearest (exact
// 0, 1, 2 stay exact); kMissingDosage where the sample is missing.
//
// Any defect of the file stops the run with a message naming the file and
// the variant; every length is checked against the file before anything is
// read or allocated for it.
#ifndef OMBRA_FORMATS_BGENFILE_H
#define OMBRA_FORMATS_BGENFILE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"

struct libdeflate_decompressor;

namespace ombra {

// One listed record: a variant with two alleles.
struct BgenVariant {
  std::string id;       // the SNPID field
  std::string rsid;
  std::string chr;
  uint32_t position = 0;
  std::string allele1;  // first allele of the record
  std::string allele2;  // second allele: the one the dosages count
  uint64_t recordStart = 0;   // byte of the record's first field (the .bgi's file_start_position)
  uint64_t blockStart = 0;    // byte of the genotype block's data, after its length fields
  uint64_t blockBytes = 0;    // bytes stored from blockStart
  uint64_t inflatedBytes = 0; // bytes of the block's data once inflated (= blockBytes when stored plainly)
  size_t number = 0;          // 1-based place of the record among those the listing pass read
};

// Where a listed record's genotypes lie: all that reading them needs once
// the names have become markers (a tenth of the listing's size).
struct BgenRecord {
  uint64_t recordStart = 0;
  uint64_t blockStart = 0;
  uint64_t blockBytes = 0;
  uint64_t inflatedBytes = 0;
  size_t number = 0;
};

// The records to list: those on chromosome `chr` (as the file writes it)
// with from <= position <= to.
struct BgenRegion {
  std::string chr;
  uint32_t from = 0;
  uint32_t to = UINT32_MAX;
  // When set, whether a chromosome name of the file is the one asked for
  // (so that "02" or "chr2" can be 2, as the run's selection has it);
  // otherwise the name must equal `chr`.
  std::function<bool(std::string_view)> sameChromosome;

  bool onChromosome(std::string_view name) const { return sameChromosome ? sameChromosome(name) : name == chr; }
  bool holds(std::string_view name, uint32_t position) const {
    return onChromosome(name) && position >= from && position <= to;
  }
};

enum class BgenCompression { kNone = 0, kZlib = 1, kZstd = 2 };

// The buffers of one reader of genotype blocks, reused from block to block:
// each thread that reads blocks at the same time as others keeps its own.
class BgenBlockBuffers {
 public:
  BgenBlockBuffers() = default;
  BgenBlockBuffers(const BgenBlockBuffers&) = delete;
  BgenBlockBuffers& operator=(const BgenBlockBuffers&) = delete;
  ~BgenBlockBuffers();

 private:
  friend class BgenFile;
  std::vector<unsigned char> stored;    // the block as the file stores it
  std::vector<unsigned char> inflated;  // its inflated form
  libdeflate_decompressor* deflate = nullptr;  // made on the first zlib block
};

class BgenFile {
 public:
  // Reads the header, the sample identifiers and the identifying data of
  // every variant (genotype blocks are stepped over by their stated length,
  // not inflated). With a region, only the records inside it are listed:
  // through `path`.bgi (a bgenix index) when that file exists, otherwise by
  // reading the whole file. Records with other than two alleles are skipped
  // and counted. Stops the run on any defect.
  explicit BgenFile(const std::string& path, const BgenRegion* region = nullptr);
  BgenFile(const BgenFile&) = delete;
  BgenFile& operator=(const BgenFile&) = delete;

  const std::string& path() const { return filePath; }
  uint32_t sampleCount() const { return samples; }
  int layout() const { return layoutNumber; }
  BgenCompression compression() const { return compressionKind; }
  // The sample identifier block's IDs, in file order; empty when the file
  // has none.
  const std::vector<std::string>& sampleIds() const { return ids; }
  // The listed variants' names and places, until releaseVariants().
  const std::vector<BgenVariant>& variants() const { return list; }
  // Frees the names once they have been copied out: the records' places
  // stay, so reading and naming a variant in a message still work, and a
  // streamed run's memory then grows by the records alone.
  void releaseVariants() { std::vector<BgenVariant>().swap(list); }
  size_t variantCount() const { return records.size(); }
  size_t skippedRecords() const { return skipped; }
  // True when the records were found through the .bgi index.
  bool listedThroughIndex() const { return throughIndex; }

  // Fills `dosages` with sampleCount() values, in the file's sample order:
  // the dosages of listed variant `index`. Any order of variants is allowed
  // (each is read at its offset); buffers are reused between calls. With
  // `variances`, each sample's variance of the copies there too (0 where
  // missing; see kVarianceOne).
  void readDosages(size_t index, uint16_t* dosages, uint16_t* variances = nullptr) {
    readDosages(index, dosages, variances, ownBuffers);
  }
  // The same through `buffers`: threads that each hold their own may read
  // at the same time (once the constructor has listed the records).
  void readDosages(size_t index, uint16_t* dosages, uint16_t* variances, BgenBlockBuffers& buffers) const;

  // "variant 12 (rs7, at byte 4567) of FILE": the message prefix for a
  // listed variant.
  std::string where(size_t index) const;

 private:
  void readHeader();
  void listAll(const BgenRegion* region);
  void listIndexed(const std::string& bgiPath, const BgenRegion& region);
  // Reads the record at `offset`: true with `variant` filled when it has two
  // alleles; `next` is the byte after it.
  bool readRecord(uint64_t offset, size_t number, BgenVariant& variant, uint64_t& next);
  // The block's data of `variant`, inflated; returns its first byte (the
  // buffer holds 8 zero bytes after its end, for whole-word bit reads).
  const unsigned char* blockData(const BgenRecord& record, size_t index, BgenBlockBuffers& buffers) const;
  // Inflates `bytes` stored bytes into `stated` bytes of `buffers.inflated`;
  // false when they do not make exactly that many.
  bool inflate(const unsigned char* data, size_t bytes, size_t stated, BgenBlockBuffers& buffers) const;
  // The rsid (or, without one, the SNPID) of a record, read again from the
  // file when the listed names have been released.
  std::string recordName(size_t index) const;
  void keep(const BgenVariant& variant);
  void decodeLayout1(const unsigned char* data, size_t index, uint16_t* dosages, uint16_t* variances) const;
  void decodeLayout2(const unsigned char* data, size_t bytes, size_t index, uint16_t* dosages,
                     uint16_t* variances) const;
  // Copies `count` bytes at `offset` into `out`; stops when the file ends
  // before them.
  void readAt(uint64_t offset, size_t count, void* out, const std::string& what) const;
  // The same without the check against the file's size: false when the
  // read fails.
  bool readFully(uint64_t offset, size_t count, void* out) const;
  // The stored bytes of the genotype block of listed variant `index`.
  void readBlock(const BgenRecord& variant, size_t index, unsigned char* out) const;

  // Closes the file however the object ends, a stop thrown by a test's or
  // fuzzer's handler in the constructor included.
  struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
  };

  std::string filePath;
  Descriptor file;
  uint64_t fileSize = 0;
  uint32_t firstVariantOffset = 0;
  uint32_t headerLength = 0;
  uint32_t statedVariants = 0;
  uint32_t samples = 0;
  int layoutNumber = 0;
  BgenCompression compressionKind = BgenCompression::kNone;
  std::vector<std::string> ids;
  std::vector<BgenVariant> list;
  std::vector<BgenRecord> records;
  size_t skipped = 0;
  bool throughIndex = false;
  // The buffers of readDosages without buffers of the caller's.
  BgenBlockBuffers ownBuffers;
  // The listing pass reads through this window of the file.
  std::vector<unsigned char> window;
  uint64_t windowStart = 0;
  size_t windowBytes = 0;
  const unsigned char* bytesAt(uint64_t offset, size_t count, const std::string& what);
};

// The records of a bgenix index (`bgiPath`, an SQLite file with a table
// Variant) on chromosome `region.chr` between `region.from` and `region.to`:
// their byte offsets in the BGEN file, in file order. Stops the run when the
// file cannot be read as such an index, or when its Metadata table states
// another size for the BGEN file than `bgenSize` (an index of an older file).
std::vector<uint64_t> indexedRecordOffsets(const std::string& bgiPath, const BgenRegion& region, uint64_t bgenSize);

}  // namespace ombra

#endif  // OMBRA_FORMATS_BGENFILE_H
