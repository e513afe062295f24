// Text and file services shared by every reader: opening an input with a
// uniform failure message, splitting lines into fields, reading lines from
// large blocks, and the numbers at the start of a field.
#ifndef OMBRA_CORE_TEXT_H
#define OMBRA_CORE_TEXT_H

#include <array>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ombra {

// A set of separator characters, tested in one table lookup.
class FieldSplitter {
 public:
  // `nulSeparates`: the character with code 0 also separates fields, as it
  // does for the multi-character separator sets of the readers.
  explicit FieldSplitter(std::string_view separators, bool nulSeparates = true);
  bool isSeparator(char c) const { return table[static_cast<unsigned char>(c)]; }
  // Appends to `fields` the fields of `text`: every separator closes the
  // current field, which is kept when it has at least `minLength` characters
  // (minLength 1: runs of separators count as one and no field is empty).
  // The views point into `text`.
  void split(std::string_view text, std::vector<std::string_view>& fields, int minLength = 1) const;
  // Appends the first `count` fields of `text` (fewer when it has fewer)
  // as split() with minLength 1 does; returns the offset just past the last
  // field appended, so that split() of the rest appends the fields after
  // them.
  size_t splitFirst(std::string_view text, size_t count, std::vector<std::string_view>& fields) const;

 private:
  std::array<bool, 256> table{};
};

// Hands out the lines of a stream (without their line feed) as views into a
// large buffer, so that a multi-gigabyte file is read in big blocks and never
// copied line by line. A view stays valid until the next call. A carriage
// return stays part of its line. Reading ends at the end of the stream or at
// the first stream error.
class LineReader {
 public:
  explicit LineReader(std::istream& in, size_t blockSize = size_t{1} << 22);
  // Sets `line` to the next line; false when there is none.
  bool next(std::string_view& line);
  // 1-based number of the line last returned, counting empty lines.
  long lineNumber() const { return lineCount; }

 private:
  bool refill();

  std::istream& input;
  // Left uninitialised: a small file then touches only the pages it fills,
  // instead of every page of a block of megabytes.
  std::unique_ptr<char[]> buffer;
  size_t capacity;
  size_t begin = 0;
  size_t end = 0;
  bool exhausted = false;
  long lineCount = 0;
};

// The number at the start of `text` as strtol (base 10) and strtod read it:
// the longest valid prefix, 0 when there is none.
long leadingLong(std::string_view text);
double leadingDouble(std::string_view text);

// True when the file system reports a status for `path` (directories too).
bool fileExists(const std::string& path);
// Opens `path` for reading; a missing file, an unreadable one or a directory
// prints "Open File <path> failed!" and stops the run.
void openInput(std::ifstream& in, const std::string& path, std::ios_base::openmode mode = std::ios_base::in);

}  // namespace ombra

#endif  // OMBRA_CORE_TEXT_H
