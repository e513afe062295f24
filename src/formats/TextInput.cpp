#include "formats/TextInput.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <streambuf>

#include "BaseClass.h"

namespace ombra {

namespace {

bool exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string textInputPath(const std::string& prefix, const std::string& extension) {
  const std::string plain = prefix + extension;
  if (!exists(plain) && exists(plain + ".gz")) return plain + ".gz";
  return plain;
}

// A stream buffer over gzread. Large reads (the line reader asks for
// megabytes at a time) inflate straight into the caller's memory.
class TextInput::GzipBuffer : public std::streambuf {
 public:
  explicit GzipBuffer(const std::string& name) : path(name) {
    file = gzopen(path.c_str(), "rb");
    if (file == nullptr) stopRun("Open File " + path + " failed!\n");
    gzbuffer(file, 1u << 20);
  }
  ~GzipBuffer() override {
    if (file != nullptr) gzclose(file);
  }

 protected:
  std::streamsize xsgetn(char* out, std::streamsize wanted) override {
    std::streamsize done = 0;
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      done = std::min(buffered, wanted);
      std::copy(gptr(), gptr() + done, out);
      gbump(static_cast<int>(done));
    }
    while (done < wanted) {
      const std::streamsize chunk = std::min<std::streamsize>(wanted - done, INT_MAX / 2);
      const int got = inflateInto(out + done, static_cast<unsigned>(chunk));
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const int got = inflateInto(small, sizeof small);
    if (got == 0) return traits_type::eof();
    setg(small, small, small + got);
    return traits_type::to_int_type(*gptr());
  }

 private:
  // Inflates up to `size` bytes; 0 only at the true end of the stream.
  int inflateInto(char* out, unsigned size) {
    const int got = gzread(file, out, size);
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
      std::string reason = message != nullptr ? message : "error";
      // zlib puts the file's name in front of its message.
      if (reason.compare(0, path.size() + 2, path + ": ") == 0) reason.erase(0, path.size() + 2);
      stopRun("The file " + path + " is not a readable gzip file: " + reason + " (near byte " +
              std::to_string(static_cast<long long>(gzoffset(file))) +
              " of the compressed file). Please check it or compress it again.\n");
    }
    return got;
  }

  std::string path;
  gzFile file = nullptr;
  char small[4096];
};

TextInput::TextInput() = default;
TextInput::~TextInput() = default;

std::istream& TextInput::open(BaseClass& base, std::ifstream& plain, const std::string& path) {
  gzipStream.reset();
  gzipBuffer.reset();
  if (!endsWith(path, ".gz")) {
    base.OpenFile(plain, path);
    return plain;
  }
  base.OpenFile(plain, path);  // the same messages for a missing, unreadable or directory path
  plain.close();
  gzipBuffer = std::make_unique<GzipBuffer>(path);
  gzipStream = std::make_unique<std::istream>(gzipBuffer.get());
  // A stop raised while inflating reaches the caller instead of turning
  // into the end of the stream.
  gzipStream->exceptions(std::ios_base::badbit);
  return *gzipStream;
}

}  // namespace ombra
