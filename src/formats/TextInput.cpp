#include "formats/TextInput.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <streambuf>
#include <thread>
#include <vector>

#include "core/RunEnd.h"
#include "core/Text.h"

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

// A stream buffer over a gzip file. Inflating costs about as much as parsing
// the text it yields, so a second thread inflates the next chunks while the
// reader parses the current one; the reader's time then stays close to that
// of the plain file. Errors found by the inflating thread are reported (the
// run stopped) on the reading thread, where the stop's exception belongs.
class TextInput::GzipBuffer : public std::streambuf {
 public:
  explicit GzipBuffer(const std::string& name) : path(name) {
    file = gzopen(path.c_str(), "rb");
    if (file == nullptr) stopRun("Open File " + path + " failed!\n");
    gzbuffer(file, 1u << 20);
    // Left uninitialised: a small file touches only the pages it fills.
    for (std::unique_ptr<char[]>& chunk : chunks) chunk.reset(new char[kChunkSize]);
    for (size_t c = 0; c < kChunks; ++c) freeChunks.push_back(c);
    worker = std::thread([this] { inflateAll(); });
  }
  ~GzipBuffer() override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    worker.join();
    gzclose(file);
  }

 protected:
  std::streamsize xsgetn(char* out, std::streamsize wanted) override {
    std::streamsize done = 0;
    while (done < wanted) {
      if (gptr() == egptr() && !nextChunk()) break;
      const std::streamsize take = std::min<std::streamsize>(egptr() - gptr(), wanted - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(take));
      gbump(static_cast<int>(take));
      done += take;
    }
    return done;
  }

  int_type underflow() override {
    if (gptr() == egptr() && !nextChunk()) return traits_type::eof();
    return traits_type::to_int_type(*gptr());
  }

 private:
  static constexpr size_t kChunks = 3;
  static constexpr size_t kChunkSize = size_t{4} << 20;

  struct Ready {
    size_t chunk;
    size_t size;
  };

  // Hands the chunk being read back to the inflating thread and makes the
  // next inflated one the get area; false at the end of the text.
  bool nextChunk() {
    std::unique_lock<std::mutex> lock(mutex);
    if (current != kNone) {
      freeChunks.push_back(current);
      current = kNone;
      changed.notify_all();
    }
    changed.wait(lock, [this] { return !ready.empty() || finished; });
    if (ready.empty()) {
      setg(nullptr, nullptr, nullptr);
      if (!failure.empty()) {
        const std::string message = failure;
        lock.unlock();
        stopRun(message);
      }
      return false;
    }
    const Ready next = ready.front();
    ready.pop_front();
    current = next.chunk;
    char* begin = chunks[current].get();
    setg(begin, begin, begin + next.size);
    return true;
  }

  void inflateAll() {
    for (;;) {
      size_t chunk = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !freeChunks.empty() || stopping; });
        if (stopping) return;
        chunk = freeChunks.front();
        freeChunks.pop_front();
      }
      std::string error;
      const size_t size = fill(chunks[chunk].get(), error);
      std::lock_guard<std::mutex> lock(mutex);
      if (size > 0) ready.push_back(Ready{chunk, size});
      if (size == 0 || !error.empty()) {
        failure = error;
        finished = true;
        changed.notify_all();
        return;
      }
      changed.notify_all();
    }
  }

  // Inflates up to a chunk into `out`; a short chunk only at the end of the
  // stream or with `error` set.
  size_t fill(char* out, std::string& error) {
    size_t size = 0;
    while (size < kChunkSize) {
      const int got = gzread(file, out + size, static_cast<unsigned>(kChunkSize - size));
      int code = Z_OK;
      const char* message = gzerror(file, &code);
      if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
        error = describe(message);
        return size;
      }
      if (got == 0) break;
      size += static_cast<size_t>(got);
    }
    return size;
  }

  std::string describe(const char* message) {
    std::string reason = message != nullptr ? message : "error";
    // zlib puts the file's name in front of its message.
    if (reason.compare(0, path.size() + 2, path + ": ") == 0) reason.erase(0, path.size() + 2);
    return "The file " + path + " is not a readable gzip file: " + reason + " (near byte " +
           std::to_string(static_cast<long long>(gzoffset(file))) +
           " of the compressed file). Please check it or compress it again.\n";
  }

  static constexpr size_t kNone = ~size_t{0};

  std::string path;
  gzFile file = nullptr;
  std::unique_ptr<char[]> chunks[kChunks];
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<size_t> freeChunks;  // chunks the inflating thread may fill
  std::deque<Ready> ready;        // inflated chunks in file order
  size_t current = kNone;         // the chunk being read
  bool finished = false;          // no more chunks will be inflated
  bool stopping = false;
  std::string failure;            // the stop message of a broken stream
  std::thread worker;
};

TextInput::TextInput() = default;
TextInput::~TextInput() = default;

std::istream& TextInput::open(std::ifstream& plain, const std::string& path) {
  gzipStream.reset();
  gzipBuffer.reset();
  if (!endsWith(path, ".gz")) {
    openInput(plain, path);
    return plain;
  }
  openInput(plain, path);  // the same messages for a missing, unreadable or directory path
  plain.close();
  gzipBuffer = std::make_unique<GzipBuffer>(path);
  gzipStream = std::make_unique<std::istream>(gzipBuffer.get());
  // A stop raised while reading reaches the caller instead of turning into
  // the end of the stream.
  gzipStream->exceptions(std::ios_base::badbit);
  return *gzipStream;
}

}  // namespace ombra
