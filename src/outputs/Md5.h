// The MD5 digest of a stream of bytes (RFC 1321), which GWAS-SSF metadata
// gives for its data file so that a reader can check the file it got.
#ifndef OMBRA_OUTPUTS_MD5_H
#define OMBRA_OUTPUTS_MD5_H

#include <cstdint>
#include <string>
#include <string_view>

namespace ombra {

class Md5 {
 public:
  Md5();
  void add(std::string_view bytes);
  // The digest of every byte added, as 32 lower-case hex digits; ends the
  // stream.
  std::string hex();

 private:
  void compress(const unsigned char* block);

  uint32_t state[4];
  uint64_t length = 0;  // bytes added
  unsigned char pending[64];
  size_t held = 0;      // bytes of `pending` in use
};

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_MD5_H
