// The text inputs of the readers (.ped, .map): plain files as before, and
// gzip-compressed ones inflated through zlib when the plain file is absent.
#ifndef OMBRA_FORMATS_TEXTINPUT_H
#define OMBRA_FORMATS_TEXTINPUT_H

#include <fstream>
#include <istream>
#include <memory>
#include <string>


namespace ombra {

// The file to read for `prefix` + `extension` (".ped", ".map"): the plain
// file when it exists, otherwise the same name with ".gz" when that exists,
// otherwise the plain name (whose absence the reader reports as before).
std::string textInputPath(const std::string& prefix, const std::string& extension);

// Opens one text input at a time. A name ending in ".gz" is inflated;
// concatenated gzip members (bgzip) read as one text. A corrupt or truncated
// stream stops the run with a message naming the file, never ends it early
// as if it were a short file: the stream returned rethrows what the stop
// throws in tests.
class TextInput {
 public:
  TextInput();
  ~TextInput();
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;
  // Opens `path`: any other name through `plain` with openInput (its
  // messages unchanged). The stream stays valid until the next open.
  std::istream& open(std::ifstream& plain, const std::string& path);

 private:
  class GzipBuffer;
  std::unique_ptr<GzipBuffer> gzipBuffer;
  std::unique_ptr<std::istream> gzipStream;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_TEXTINPUT_H
