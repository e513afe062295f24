#include "formats/BgenFile.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Records.h"
#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit reads of BGEN probabilities assume a little-endian host");

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The window of the listing pass: large enough that identifying data costs
// few reads, small beside any genotype data.
constexpr size_t kWindowBytes = size_t{1} << 20;
// The bytes after a buffer's data that a whole-word read may touch.
constexpr size_t kPadBytes = 8;
// Deflate cannot make more than 1032 bytes of one; zstd's densest block (a
// run of one byte) turns 4 bytes into 128 KiB. A block stating a larger
// inflated size is corrupt, and is refused before its buffer is allocated.
constexpr uint64_t kZlibMaxRatio = 1032;
constexpr uint64_t kZstdMaxRatio = 32768;

// Dosage units of x / max copies of allele2, x <= 2 max, to the nearest
// (x = 0, max and 2 max exactly 0, kDosageOne, 2 kDosageOne).
inline uint16_t scaled(uint64_t x, uint64_t max) {
  return static_cast<uint16_t>((x * (2 * uint64_t{kDosageOne}) + max) / (2 * max));
}

// The variance of the copies of allele2 of a sample with the
// probabilities P(one copy) = het and P(two copies) = homSecond (a haploid
// sample's one copy counting two).
inline uint16_t copiesVariance(double het, double homSecond) {
  const double mean = het + 2 * homSecond;
  return varianceUnits(het + 4 * homSecond - mean * mean);
}

// The variance of a diploid sample's stored pair (units of 1/max): phased,
// the probabilities of allele1 on each haplotype; unphased, P(hom allele1)
// and P(het).
inline uint16_t pairVariance(uint64_t a, uint64_t b, bool phased, uint64_t max) {
  const double x = static_cast<double>(a) / static_cast<double>(max);
  const double y = static_cast<double>(b) / static_cast<double>(max);
  if (phased) return copiesVariance(x * (1 - y) + (1 - x) * y, (1 - x) * (1 - y));
  return copiesVariance(y, 1 - x - y);
}

// 8-bit probabilities of a diploid sample, the commonest layout-2 block:
// the dosage of every stored pair (a = P(hom allele1), b = P(het)),
// kBadPair where a + b > 255; and of every phased pair by its sum. The
// variances of every pair, unphased and phased.
constexpr uint16_t kBadPair = 0xFFFE;
const struct EightBitTables {
  uint16_t unphased[65536];
  uint16_t phasedBySum[511];
  uint16_t variance[2][65536];  // unphased, phased
  EightBitTables() : unphased(), phasedBySum(), variance() {
    for (unsigned a = 0; a < 256; ++a) {
      for (unsigned b = 0; b < 256; ++b) {
        unphased[a | b << 8] = a + b > 255 ? kBadPair : scaled(b + 2 * (255 - a - b), 255);
        variance[0][a | b << 8] = a + b > 255 ? 0 : pairVariance(a, b, false, 255);
        variance[1][a | b << 8] = pairVariance(a, b, true, 255);
      }
    }
    for (unsigned sum = 0; sum < 511; ++sum) phasedBySum[sum] = scaled(510 - sum, 255);
  }
} kEightBit;

}  // namespace

BgenFile::BgenFile(const std::string& path, const BgenRegion* region) : filePath(path) {
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    stopRun("Open File " + path + " failed!\n");
  }
  fileSize = static_cast<uint64_t>(status.st_size);
  readHeader();
  const std::string bgiPath = path + ".bgi";
  if (region != nullptr && fileExists(bgiPath)) {
    listIndexed(bgiPath, *region);
  } else {
    listAll(region);
  }
  // The listing pass is over: its window goes back.
  std::vector<unsigned char>().swap(window);
}

BgenFile::Descriptor::~Descriptor() {
  if (fd >= 0) ::close(fd);
}

void BgenFile::readAt(uint64_t offset, size_t count, void* out, const std::string& what) const {
  if (offset > fileSize || count > fileSize - offset) {
    stopRun("The BGEN file " + filePath + " ends inside " + what + ": it is truncated.\n");
  }
  if (!readFully(offset, count, out)) stopRun("The BGEN file " + filePath + " could not be read (" + what + ").\n");
}

bool BgenFile::readFully(uint64_t offset, size_t count, void* out) const {
  auto* to = static_cast<unsigned char*>(out);
  while (count > 0) {
    const ssize_t got = ::pread(file.fd, to, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
  return true;
}

void BgenFile::readBlock(const BgenRecord& variant, size_t index, unsigned char* out) const {
  // Within the file, checked when listed: only the read itself can fail,
  // and the message (which reads the record's name again) is made then.
  if (!readFully(variant.blockStart, variant.blockBytes, out)) {
    stopRun("The BGEN file " + filePath + " could not be read (the genotype block of " + where(index) + ").\n");
  }
}

const unsigned char* BgenFile::bytesAt(uint64_t offset, size_t count, const std::string& what) {
  if (offset >= windowStart && offset - windowStart <= windowBytes && count <= windowBytes - (offset - windowStart)) {
    return window.data() + (offset - windowStart);
  }
  if (offset > fileSize || count > fileSize - offset) {
    stopRun("The BGEN file " + filePath + " ends inside " + what + ": it is truncated.\n");
  }
  // count fits in the file, so the window never outgrows it.
  const size_t bytes = static_cast<size_t>(std::min<uint64_t>(std::max(count, kWindowBytes), fileSize - offset));
  if (window.size() < bytes) window.resize(bytes);
  readAt(offset, bytes, window.data(), what);
  windowStart = offset;
  windowBytes = bytes;
  return window.data();
}

void BgenFile::readHeader() {
  if (fileSize < 24) stopRun("The file " + filePath + " is too short to be a BGEN file.\n");
  const unsigned char* p = bytesAt(0, 24, "its header");
  firstVariantOffset = le32(p);
  headerLength = le32(p + 4);
  statedVariants = le32(p + 8);
  samples = le32(p + 12);
  const bool magic = std::memcmp(p + 16, "bgen", 4) == 0 || std::memcmp(p + 16, "\0\0\0\0", 4) == 0;
  if (!magic) stopRun("The file " + filePath + " is not a BGEN file: its header lacks the magic bytes \"bgen\".\n");
  if (headerLength < 20 || headerLength > firstVariantOffset) {
    stopRun("The BGEN file " + filePath + " states a header of " + std::to_string(headerLength) +
            " bytes, which does not fit before its first variant at byte " + std::to_string(firstVariantOffset) +
            ".\n");
  }
  if (uint64_t{firstVariantOffset} + 4 > fileSize) {
    stopRun("The BGEN file " + filePath + " states its first variant at byte " +
            std::to_string(uint64_t{firstVariantOffset} + 4) + ", beyond its end (" + std::to_string(fileSize) +
            " bytes): it is truncated.\n");
  }
  const uint32_t flags = le32(bytesAt(4 + uint64_t{headerLength} - 4, 4, "its header flags"));
  const uint32_t compression = flags & 3;
  layoutNumber = static_cast<int>((flags >> 2) & 15);
  if (compression == 3 || (layoutNumber != 1 && layoutNumber != 2) || (layoutNumber == 1 && compression == 2)) {
    stopRun("The BGEN file " + filePath + " has header flags " + std::to_string(flags) + " (compression " +
            std::to_string(compression) + ", layout " + std::to_string(layoutNumber) +
            "), which are not those of BGEN 1.1, 1.2 or 1.3.\n");
  }
  compressionKind = static_cast<BgenCompression>(compression);
  if ((flags >> 31) == 0) return;

  // The sample identifier block lies between the header and the first variant.
  const uint64_t blockStart = 4 + uint64_t{headerLength};
  const std::string what = "its sample identifier block";
  const unsigned char* q = bytesAt(blockStart, 8, what);
  const uint32_t blockLength = le32(q);
  const uint32_t count = le32(q + 4);
  if (blockLength < 8 || uint64_t{headerLength} + blockLength > firstVariantOffset) {
    stopRun("The BGEN file " + filePath + " states a sample identifier block of " + std::to_string(blockLength) +
            " bytes, which does not fit before its first variant.\n");
  }
  if (count != samples) {
    stopRun("The BGEN file " + filePath + " names " + std::to_string(count) + " samples in its identifier block, but " +
            "its header states " + std::to_string(samples) + ".\n");
  }
  const uint64_t blockEnd = blockStart + blockLength;
  uint64_t at = blockStart + 8;
  ids.reserve(std::min<uint64_t>(count, blockLength / 2));
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t length = at + 2 <= blockEnd ? le16(bytesAt(at, 2, what)) : 0;
    if (at + 2 + length > blockEnd) {
      stopRun("The sample identifier block of the BGEN file " + filePath + " ends before its sample " +
              std::to_string(i + 1) + " of " + std::to_string(count) + ".\n");
    }
    const unsigned char* text = bytesAt(at + 2, length, what);
    ids.emplace_back(reinterpret_cast<const char*>(text), length);
    at += 2 + uint64_t{length};
  }
}

bool BgenFile::readRecord(uint64_t offset, size_t number, BgenVariant& variant, uint64_t& next) {
  const std::string what = "its variant " + std::to_string(number) + " (at byte " + std::to_string(offset) + ")";
  uint64_t at = offset;
  auto u16 = [&] {
    const uint16_t value = le16(bytesAt(at, 2, what));
    at += 2;
    return value;
  };
  auto u32 = [&] {
    const uint32_t value = le32(bytesAt(at, 4, what));
    at += 4;
    return value;
  };
  auto text = [&](size_t length) {
    const unsigned char* p = bytesAt(at, length, what);
    at += length;
    return std::string(reinterpret_cast<const char*>(p), length);
  };
  if (layoutNumber == 1) {
    const uint32_t count = u32();
    if (count != samples) {
      stopRun("The BGEN file " + filePath + " states " + std::to_string(count) + " samples in " + what +
              ", but its header states " + std::to_string(samples) + ".\n");
    }
  }
  variant.id = text(u16());
  variant.rsid = text(u16());
  variant.chr = text(u16());
  variant.position = u32();
  const uint16_t alleles = layoutNumber == 1 ? 2 : u16();
  for (uint16_t k = 0; k < alleles; ++k) {
    const uint32_t length = u32();
    if (k < 2) {
      (k == 0 ? variant.allele1 : variant.allele2) = text(length);
    } else {
      if (length > fileSize - std::min(at, fileSize)) bytesAt(at, length, what);  // stops: truncated
      at += length;
    }
  }
  variant.recordStart = offset;
  variant.number = number;
  if (layoutNumber == 1) {
    const uint64_t plain = 6 * uint64_t{samples};
    variant.blockBytes = compressionKind == BgenCompression::kNone ? plain : u32();
    variant.inflatedBytes = plain;
  } else {
    const uint32_t length = u32();
    if (compressionKind == BgenCompression::kNone) {
      variant.blockBytes = variant.inflatedBytes = length;
    } else {
      if (length < 4) {
        stopRun("The BGEN file " + filePath + " states a genotype block of " + std::to_string(length) + " bytes in " +
                what + ", too short to hold its inflated size.\n");
      }
      variant.inflatedBytes = u32();
      variant.blockBytes = length - 4;
    }
  }
  variant.blockStart = at;
  if (at > fileSize || variant.blockBytes > fileSize - at) {
    stopRun("The genotype block of " + what + " in the BGEN file " + filePath + " runs past the end of the file (" +
            std::to_string(variant.blockBytes) + " bytes stated from byte " + std::to_string(at) +
            "): it is truncated.\n");
  }
  next = at + variant.blockBytes;
  return alleles == 2;
}

void BgenFile::listAll(const BgenRegion* region) {
  uint64_t at = uint64_t{firstVariantOffset} + 4;
  BgenVariant variant;
  for (uint32_t r = 0; r < statedVariants; ++r) {
    if (at >= fileSize) {
      stopRun("The BGEN file " + filePath + " ends after " + std::to_string(r) + " variants, but its header states " +
              std::to_string(statedVariants) + ": it is truncated.\n");
    }
    uint64_t next = 0;
    const bool biallelic = readRecord(at, r + 1, variant, next);
    at = next;
    if (!biallelic) {
      ++skipped;
    } else if (region == nullptr || region->holds(variant.chr, variant.position)) {
      keep(variant);
    }
  }
}

void BgenFile::listIndexed(const std::string& bgiPath, const BgenRegion& region) {
  throughIndex = true;
  const std::vector<uint64_t> offsets = indexedRecordOffsets(bgiPath, region, fileSize);
  BgenVariant variant;
  for (size_t r = 0; r < offsets.size(); ++r) {
    const uint64_t at = offsets[r];
    if (r > 0 && at == offsets[r - 1]) {
      stopRun("The index " + bgiPath + " lists the variant at byte " + std::to_string(at) +
              " twice; make the index again with bgenix.\n");
    }
    if (at < uint64_t{firstVariantOffset} + 4 || at >= fileSize) {
      stopRun("The index " + bgiPath + " places a variant at byte " + std::to_string(at) +
              ", outside the variants of " + filePath + "; make the index again with bgenix.\n");
    }
    uint64_t next = 0;
    const bool biallelic = readRecord(at, r + 1, variant, next);
    if (!region.holds(variant.chr, variant.position)) {
      stopRun("The index " + bgiPath + " does not belong to " + filePath + ": the variant at byte " +
              std::to_string(at) + " is " + variant.chr + ":" + std::to_string(variant.position) +
              ", outside the region it was asked for; make the index again with bgenix.\n");
    }
    if (biallelic) {
      keep(variant);
    } else {
      ++skipped;
    }
  }
}

void BgenFile::keep(const BgenVariant& variant) {
  list.push_back(variant);
  records.push_back(
      BgenRecord{variant.recordStart, variant.blockStart, variant.blockBytes, variant.inflatedBytes, variant.number});
}

std::string BgenFile::recordName(size_t index) const {
  if (index < list.size()) {
    const BgenVariant& v = list[index];
    return v.rsid.empty() || v.rsid == "." ? v.id : v.rsid;
  }
  // Checked to lie within the file when the record was listed.
  uint64_t at = records[index].recordStart + (layoutNumber == 1 ? 4 : 0);
  auto field = [&] {
    unsigned char length[2];
    readAt(at, 2, length, "the identifiers of a variant");
    std::string text(le16(length), '\0');
    readAt(at + 2, text.size(), text.data(), "the identifiers of a variant");
    at += 2 + text.size();
    return text;
  };
  const std::string id = field();
  const std::string rsid = field();
  return rsid.empty() || rsid == "." ? id : rsid;
}

std::string BgenFile::where(size_t index) const {
  const BgenRecord& r = records[index];
  return "variant " + std::to_string(r.number) + " (" + recordName(index) + ", at byte " +
         std::to_string(r.recordStart) + ") of " + filePath;
}

BgenBlockBuffers::~BgenBlockBuffers() {
  if (deflate != nullptr) libdeflate_free_decompressor(deflate);
}

bool BgenFile::inflate(const unsigned char* data, size_t bytes, size_t stated, BgenBlockBuffers& buffers) const {
  if (compressionKind == BgenCompression::kZstd) {
    const size_t made = ZSTD_decompress(buffers.inflated.data(), stated, data, bytes);
    return !ZSTD_isError(made) && made == stated;
  }
  if (buffers.deflate == nullptr) buffers.deflate = libdeflate_alloc_decompressor();
  if (buffers.deflate == nullptr) stopRun("Out of memory while inflating the genotype blocks of " + filePath + ".\n");
  // As zlib's uncompress: the checksum is checked, bytes after the stream
  // are ignored, and the stream must fill the stated size exactly.
  size_t made = 0;
  return libdeflate_zlib_decompress(buffers.deflate, data, bytes, buffers.inflated.data(), stated, &made) ==
             LIBDEFLATE_SUCCESS &&
         made == stated;
}

const unsigned char* BgenFile::blockData(const BgenRecord& variant, size_t index, BgenBlockBuffers& buffers) const {
  std::vector<unsigned char>& stored = buffers.stored;
  std::vector<unsigned char>& inflated = buffers.inflated;
  const uint64_t stated = variant.inflatedBytes;
  const uint64_t bytes = variant.blockBytes;  // within the file, checked when listed
  if (compressionKind == BgenCompression::kNone) {
    stored.resize(bytes + kPadBytes);
    readBlock(variant, index, stored.data());
    std::memset(stored.data() + bytes, 0, kPadBytes);
    return stored.data();
  }
  // Haploid and diploid samples of two alleles need at most two 32-bit
  // probabilities each, beside their ploidy byte and 10 bytes of fields.
  const uint64_t largest = layoutNumber == 1 ? 6 * uint64_t{samples} : 12 + 9 * uint64_t{samples};
  const uint64_t ratio = compressionKind == BgenCompression::kZlib ? kZlibMaxRatio : kZstdMaxRatio;
  if (stated > largest || stated > ratio * bytes + 1024) {
    stopRun("The genotype block of " + where(index) + " states an inflated size of " + std::to_string(stated) +
            " bytes, more than " + std::to_string(samples) + " samples can need or its " + std::to_string(bytes) +
            " compressed bytes can hold.\n");
  }
  stored.resize(bytes);
  readBlock(variant, index, stored.data());
  inflated.resize(stated + kPadBytes);
  if (!inflate(stored.data(), bytes, stated, buffers)) {
    stopRun("The genotype block of " + where(index) + " does not inflate to its stated " + std::to_string(stated) +
            " bytes: the file is corrupt.\n");
  }
  std::memset(inflated.data() + stated, 0, kPadBytes);
  return inflated.data();
}

void BgenFile::readDosages(size_t index, uint16_t* dosages, uint16_t* variances, BgenBlockBuffers& buffers) const {
  if (index >= records.size()) stopRun("A variant beyond the last one of " + filePath + " was asked for.\n");
  const BgenRecord& variant = records[index];
  const unsigned char* data = blockData(variant, index, buffers);
  if (layoutNumber == 1) {
    decodeLayout1(data, index, dosages, variances);
  } else {
    decodeLayout2(data, variant.inflatedBytes, index, dosages, variances);
  }
}

void BgenFile::decodeLayout1(const unsigned char* data, size_t index, uint16_t* dosages, uint16_t* variances) const {
  // Three probabilities in 1/32768 units, which need not sum to 1 (imputed
  // data of this version often do not); each is rounded, so a sum above 1
  // by up to two units is rounding. All three 0 is a missing sample.
  for (uint32_t i = 0; i < samples; ++i) {
    const unsigned char* p = data + 6 * size_t{i};
    const uint32_t homFirst = le16(p), het = le16(p + 2), homSecond = le16(p + 4);
    const uint32_t sum = homFirst + het + homSecond;
    if (variances != nullptr) variances[i] = copiesVariance(het / 32768.0, homSecond / 32768.0);
    if (sum == 0) {
      dosages[i] = kMissingDosage;
      continue;
    }
    if (sum > 32768 + 2) {
      stopRun("The probabilities of sample " + std::to_string(i + 1) + " in " + where(index) + " sum to " +
              std::to_string(sum) + "/32768, above 1.\n");
    }
    dosages[i] = static_cast<uint16_t>(std::min<uint32_t>((het + 2 * homSecond + 1) / 2, 2 * kDosageOne));
  }
}

void BgenFile::decodeLayout2(const unsigned char* data, size_t bytes, size_t index, uint16_t* dosages,
                             uint16_t* variances) const {
  const size_t n = samples;
  if (bytes < 10 + n) {
    stopRun("The genotype block of " + where(index) + " is " + std::to_string(bytes) + " bytes long, too short for " +
            std::to_string(n) + " samples.\n");
  }
  const uint32_t blockSamples = le32(data);
  const uint16_t alleles = le16(data + 4);
  if (blockSamples != samples) {
    stopRun("The genotype block of " + where(index) + " holds " + std::to_string(blockSamples) +
            " samples, but the header states " + std::to_string(samples) + ".\n");
  }
  if (alleles != 2) {
    stopRun("The genotype block of " + where(index) + " states " + std::to_string(alleles) +
            " alleles, but its identifying data 2.\n");
  }
  const unsigned char* ploidy = data + 8;
  const unsigned phased = data[8 + n];
  const unsigned bits = data[9 + n];
  if (phased > 1) {
    stopRun("The genotype block of " + where(index) + " has the phase flag " + std::to_string(phased) +
            " (0 or 1 allowed).\n");
  }
  if (bits == 0 || bits > 32) {
    stopRun("The genotype block of " + where(index) + " stores probabilities of " + std::to_string(bits) +
            " bits (1 to 32 allowed).\n");
  }
  // With two alleles a sample of ploidy Z stores Z probabilities, phased or
  // not; every ploidy is checked before any bit is read.
  const unsigned char* probs = data + 10 + n;
  const uint64_t available = 8 * uint64_t{bytes - 10 - n};
  uint64_t needed = 0;
  bool allDiploid = true;  // called or missing
  for (size_t i = 0; i < n; ++i) {
    allDiploid = allDiploid && (ploidy[i] & 63) == 2;
    const unsigned z = ploidy[i] & 63;
    if (z > 2) {
      stopRun("Sample " + std::to_string(i + 1) + " of " + where(index) + " has ploidy " + std::to_string(z) +
              "; this program reads haploid and diploid samples only.\n");
    }
    needed += z;
  }
  if (needed * bits > available) {
    stopRun("The genotype block of " + where(index) + " ends before the probabilities of its samples: it holds " +
            std::to_string(available / 8) + " bytes for them, " + std::to_string((needed * bits + 7) / 8) +
            " are needed.\n");
  }
  const uint64_t max = (uint64_t{1} << bits) - 1;
  auto bad = [&](size_t i) {
    stopRun("The probabilities of sample " + std::to_string(i + 1) + " in " + where(index) + " sum above 1.\n");
  };
  if (bits == 8 && allDiploid && !phased) {
    // The commonest block, without a branch per sample; a missing sample's
    // stored pair is not looked at.
    static_assert(kMissingDosage != kBadPair, "a missing sample is not a bad pair");
    for (size_t i = 0; i < n; ++i) {
      const uint16_t dosage = kEightBit.unphased[probs[2 * i] | probs[2 * i + 1] << 8];
      dosages[i] = (ploidy[i] & 0x80) ? kMissingDosage : dosage;
    }
    for (size_t i = 0; i < n; ++i) {
      if (dosages[i] == kBadPair) bad(i);
    }
    if (variances == nullptr) return;
    for (size_t i = 0; i < n; ++i) {
      const uint16_t variance = kEightBit.variance[0][probs[2 * i] | probs[2 * i + 1] << 8];
      variances[i] = (ploidy[i] & 0x80) ? 0 : variance;
    }
    return;
  }
  uint64_t at = 0;  // bit of the next probability
  auto next = [&] {
    uint64_t word;
    std::memcpy(&word, probs + (at >> 3), 8);  // within the padding: at + bits <= available
    const uint64_t value = (word >> (at & 7)) & max;
    at += bits;
    return value;
  };
  for (size_t i = 0; i < n; ++i) {
    const unsigned z = ploidy[i] & 63;
    if (bits == 8 && z == 2) {
      const unsigned char* pair = probs + (at >> 3);
      at += 16;
      if (ploidy[i] & 0x80) {
        dosages[i] = kMissingDosage;
      } else if (phased) {
        dosages[i] = kEightBit.phasedBySum[pair[0] + pair[1]];
      } else {
        const uint16_t dosage = kEightBit.unphased[pair[0] | pair[1] << 8];
        if (dosage == kBadPair) bad(i);
        dosages[i] = dosage;
      }
      if (variances != nullptr) {
        variances[i] = (ploidy[i] & 0x80) ? 0 : kEightBit.variance[phased][pair[0] | pair[1] << 8];
      }
      continue;
    }
    if ((ploidy[i] & 0x80) || z == 0) {
      at += uint64_t{z} * bits;
      dosages[i] = kMissingDosage;
      if (variances != nullptr) variances[i] = 0;
      continue;
    }
    uint64_t second = 0;  // copies of allele2, in units of 1/max
    uint64_t stored[2] = {0, 0};  // the sample's stored probabilities
    if (phased) {
      for (unsigned h = 0; h < z; ++h) second += max - (stored[h] = next());
      if (z == 1) second *= 2;
    } else if (z == 2) {
      const uint64_t homFirst = stored[0] = next();
      const uint64_t het = stored[1] = next();
      if (homFirst + het > max) bad(i);
      second = het + 2 * (max - homFirst - het);
    } else {
      second = 2 * (max - (stored[0] = next()));
    }
    dosages[i] = scaled(second, max);
    if (variances == nullptr) continue;
    if (z == 1) {
      variances[i] = copiesVariance(0, static_cast<double>(max - stored[0]) / static_cast<double>(max));
    } else {
      variances[i] = pairVariance(stored[0], stored[1], phased != 0, max);
    }
  }
}

}  // namespace ombra
