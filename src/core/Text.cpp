#include "core/Text.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/Memory.h"
#include "core/RunEnd.h"

namespace ombra {

FieldSplitter::FieldSplitter(std::string_view separators, bool nulSeparates) {
  for (char c : separators) table[static_cast<unsigned char>(c)] = true;
  if (nulSeparates) table[0] = true;
}

void FieldSplitter::split(std::string_view text, std::vector<std::string_view>& fields, int minLength) const {
  const char* data = text.data();
  const size_t size = text.size();
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (!isSeparator(data[i])) continue;
    if (static_cast<long>(i - start) >= minLength) fields.emplace_back(data + start, i - start);
    start = i + 1;
  }
  if (static_cast<long>(size - start) >= minLength) fields.emplace_back(data + start, size - start);
}

size_t FieldSplitter::splitFirst(std::string_view text, size_t count, std::vector<std::string_view>& fields) const {
  const size_t size = text.size();
  size_t i = 0;
  size_t afterLast = 0;
  for (size_t found = 0; found < count; ++found) {
    while (i < size && isSeparator(text[i])) ++i;
    if (i == size) break;
    const size_t start = i;
    while (i < size && !isSeparator(text[i])) ++i;
    fields.emplace_back(text.data() + start, i - start);
    afterLast = i;
  }
  return afterLast;
}

LineReader::LineReader(std::istream& in, size_t blockSize)
    : input(in), capacity(blockSize < 16 ? 16 : blockSize) {
  buffer.reset(new char[capacity]);
}

bool LineReader::refill() {
  if (exhausted) return false;
  if (begin > 0) {
    std::memmove(buffer.get(), buffer.get() + begin, end - begin);
    end -= begin;
    begin = 0;
  }
  if (end == capacity) {  // a line longer than the block
    // A file without line feeds (a binary file given as text) would
    // otherwise be taken whole into memory until the allocator gives up.
    const double grown = 2.0 * static_cast<double>(capacity);
    if (grown > 256.0 * 1048576.0) {
      requireMemory(grown, "A line of more than " + std::to_string(capacity / 1048576) + " MB",
                    "Please check that the input is a text file of the expected format.");
    }
    std::unique_ptr<char[]> larger(new char[2 * capacity]);
    std::memcpy(larger.get(), buffer.get(), end);
    buffer = std::move(larger);
    capacity *= 2;
  }
  input.read(buffer.get() + end, static_cast<std::streamsize>(capacity - end));
  const std::streamsize got = input.gcount();
  end += static_cast<size_t>(got);
  if (!input) exhausted = true;  // end of file or a stream error: no more reads
  return got > 0;
}

bool LineReader::next(std::string_view& line) {
  size_t searched = begin;
  for (;;) {
    const void* hit = std::memchr(buffer.get() + searched, '\n', end - searched);
    if (hit != nullptr) {
      const size_t stop = static_cast<size_t>(static_cast<const char*>(hit) - buffer.get());
      line = std::string_view(buffer.get() + begin, stop - begin);
      begin = stop + 1;
      ++lineCount;
      return true;
    }
    searched = end - begin;  // offset from the new front after refill
    if (!refill()) break;
    searched += begin;
  }
  if (begin == end) return false;
  line = std::string_view(buffer.get() + begin, end - begin);  // last line without a line feed
  begin = end;
  ++lineCount;
  return true;
}

long leadingLong(std::string_view text) {
  return std::strtol(std::string(text).c_str(), nullptr, 10);
}

double leadingDouble(std::string_view text) {
  return std::strtod(std::string(text).c_str(), nullptr);
}

bool fileExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

void openInput(std::ifstream& in, const std::string& path, std::ios_base::openmode mode) {
  if (in.is_open()) in.close();
  in.clear();
  // A directory opens as a stream on Linux and then fails on the first read;
  // refuse it here so that it is reported like any other unreadable input.
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) stopRun("Open File " + path + " failed!\n");
  in.open(path, mode | std::ios_base::in);
  if (!in.good()) stopRun("Open File " + path + " failed!\n");
}

}  // namespace ombra
