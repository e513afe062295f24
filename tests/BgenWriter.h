// A small BGEN writer for the tests, the fuzz seeds and the benchmark: it
// stores exactly the integers it is given, so that a reader's dosages can be
// checked against them.
#ifndef OMBRA_TESTS_BGENWRITER_H
#define OMBRA_TESTS_BGENWRITER_H

#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bgen_writer {

struct Sample {
  int ploidy = 2;
  bool missing = false;
  // The stored probabilities: layout 1 three (P11, P12, P22 in 1/32768);
  // layout 2 `ploidy` values of `bits` bits (unphased diploid P11, P12;
  // haploid P1; phased P(allele1) per haplotype).
  std::vector<uint32_t> values;
};

struct Variant {
  std::string id = "snp";
  std::string rsid = "rs";
  std::string chr = "1";
  uint32_t position = 1;
  std::vector<std::string> alleles = {"A", "G"};
  bool phased = false;
  std::vector<Sample> samples;
};

struct Options {
  int layout = 2;
  int compression = 1;  // 0 none, 1 zlib, 2 zstd
  int bits = 8;
  bool zeroMagic = false;
  std::vector<std::string> ids;  // the identifier block; none when empty
  uint32_t samples = 0;
  int zlibLevel = 6;
  std::string zlibTail;  // bytes after each zlib stream, inside its block (a reader ignores them)
};

inline void put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 255);
  out += static_cast<char>(v >> 8 & 255);
}
inline void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

inline std::string compress(const std::string& raw, int compression, const Options& o) {
  if (compression == 1) {
    uLongf size = compressBound(raw.size());
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(),
              o.zlibLevel);
    out.resize(size);
    return out + o.zlibTail;
  }
  std::string out(ZSTD_compressBound(raw.size()), '\0');
  out.resize(ZSTD_compress(&out[0], out.size(), raw.data(), raw.size(), 3));
  return out;
}

inline std::string genotypeBlock(const Options& o, const Variant& v) {
  std::string raw;
  if (o.layout == 1) {
    for (const Sample& s : v.samples) {
      for (int k = 0; k < 3; ++k) put16(raw, s.values.size() == 3 ? s.values[k] : 0);
    }
    if (o.compression == 0) return raw;
    std::string out;
    const std::string packed = compress(raw, 1, o);
    put32(out, static_cast<uint32_t>(packed.size()));
    return out + packed;
  }
  put32(raw, static_cast<uint32_t>(v.samples.size()));
  put16(raw, static_cast<uint32_t>(v.alleles.size()));
  raw += static_cast<char>(1);
  raw += static_cast<char>(2);
  for (const Sample& s : v.samples) raw += static_cast<char>(s.ploidy | (s.missing ? 0x80 : 0));
  raw += static_cast<char>(v.phased ? 1 : 0);
  raw += static_cast<char>(o.bits);
  uint64_t buffer = 0;
  int held = 0;
  for (const Sample& s : v.samples) {
    for (uint32_t value : s.values) {
      buffer |= uint64_t{value} << held;
      held += o.bits;
      while (held >= 8) {
        raw += static_cast<char>(buffer & 255);
        buffer >>= 8;
        held -= 8;
      }
    }
  }
  if (held > 0) raw += static_cast<char>(buffer & 255);
  std::string out;
  if (o.compression == 0) {
    put32(out, static_cast<uint32_t>(raw.size()));
    return out + raw;
  }
  const std::string packed = compress(raw, o.compression, o);
  put32(out, static_cast<uint32_t>(packed.size() + 4));
  put32(out, static_cast<uint32_t>(raw.size()));
  return out + packed;
}

inline std::string write(const Options& o, const std::vector<Variant>& variants) {
  std::string idBlock;
  if (!o.ids.empty()) {
    std::string names;
    for (const std::string& id : o.ids) {
      put16(names, static_cast<uint32_t>(id.size()));
      names += id;
    }
    put32(idBlock, static_cast<uint32_t>(names.size() + 8));
    put32(idBlock, static_cast<uint32_t>(o.ids.size()));
    idBlock += names;
  }
  const uint32_t headerLength = 20;
  std::string out;
  put32(out, headerLength + static_cast<uint32_t>(idBlock.size()));
  put32(out, headerLength);
  put32(out, static_cast<uint32_t>(variants.size()));
  put32(out, o.samples);
  out += o.zeroMagic ? std::string(4, '\0') : std::string("bgen");
  put32(out, static_cast<uint32_t>(o.compression) | static_cast<uint32_t>(o.layout) << 2 |
                 (o.ids.empty() ? 0u : 1u << 31));
  out += idBlock;
  for (const Variant& v : variants) {
    if (o.layout == 1) put32(out, o.samples);
    put16(out, static_cast<uint32_t>(v.id.size()));
    out += v.id;
    put16(out, static_cast<uint32_t>(v.rsid.size()));
    out += v.rsid;
    put16(out, static_cast<uint32_t>(v.chr.size()));
    out += v.chr;
    put32(out, v.position);
    if (o.layout == 2) put16(out, static_cast<uint32_t>(v.alleles.size()));
    for (const std::string& allele : v.alleles) {
      put32(out, static_cast<uint32_t>(allele.size()));
      out += allele;
    }
    out += genotypeBlock(o, v);
  }
  return out;
}

}  // namespace bgen_writer

#endif  // OMBRA_TESTS_BGENWRITER_H
