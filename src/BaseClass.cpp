#include "BaseClass.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "outputs/OutputFile.h"
#include "outputs/RunLog.h"

namespace ombra {

namespace {
EndRunHandler endRunHandler = nullptr;
}

EndRunHandler setEndRunHandler(EndRunHandler handler) {
  EndRunHandler old = endRunHandler;
  endRunHandler = handler;
  return old;
}

void endRun(int status) {
  std::cout.flush();
  if (status == 0) {
    commitOutputs();
  } else {
    discardOutputs();
  }
  // The log comes last, so that it records how the run really ended.
  status = finishRunLog(status);
  if (endRunHandler != nullptr) endRunHandler(status);
  std::exit(status);
}

void stopRun(const std::string& message) {
  std::cout << message;
  endRun(1);
}

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

double availableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kilobytes = 0;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemAvailable:") return kilobytes * 1024.0;
    meminfo.ignore(256, '\n');
  }
  return 1e300;
}

void requireMemory(double bytes, const std::string& purpose, const std::string& advice) {
  const double available = availableMemoryBytes();
  if (bytes <= available) return;
  const auto megabytes = [](double b) { return std::to_string(static_cast<long long>(b / 1048576.0 + 0.5)); };
  stopRun(purpose + " needs about " + megabytes(bytes) + " MB of memory, but only " + megabytes(available) +
          " MB are available. " + advice + "\n");
}

long leadingLong(std::string_view text) {
  return std::strtol(std::string(text).c_str(), nullptr, 10);
}

double leadingDouble(std::string_view text) {
  return std::strtod(std::string(text).c_str(), nullptr);
}

}  // namespace ombra

bool BaseClass::fileExists(std::string path) {
  return stat(path.c_str(), &statBuffer) == 0;
}

void BaseClass::OpenFile(std::ifstream& in, std::string path) {
  OpenFile(in, path, std::ios_base::in);
}

void BaseClass::OpenFile(std::ifstream& in, std::string path, std::ios_base::openmode mode) {
  if (in.is_open()) in.close();
  in.clear();
  // A directory opens as a stream on Linux and then fails on the first read;
  // refuse it here so that it is reported like any other unreadable input.
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    ombra::stopRun("Open File " + path + " failed!\n");
  }
  in.open(path, mode | std::ios_base::in);
  if (!in.good()) ombra::stopRun("Open File " + path + " failed!\n");
}

void BaseClass::appendFields(std::string_view text, const ombra::FieldSplitter& splitter, int minLength,
                             std::vector<std::string>& fields) {
  std::vector<std::string_view> views;
  splitter.split(text, views, minLength);
  for (std::string_view view : views) fields.emplace_back(view);
}

void BaseClass::splitString(std::string text, std::vector<std::string>& fields, std::string delimiters,
                            int minLength) {
  appendFields(text, ombra::FieldSplitter(delimiters), minLength, fields);
}

void BaseClass::splitString(std::string text, std::vector<std::string>& fields, char delimiter, int minLength) {
  appendFields(text, ombra::FieldSplitter(std::string_view(&delimiter, 1), false), minLength, fields);
}

void BaseClass::splitString(std::string text, std::vector<std::string>& fields, char delimiter) {
  splitString(text, fields, delimiter, 1);
}

void BaseClass::PrintIt(std::string path, std::vector<std::string>& lines) {
  ombra::OutputFile out(path);
  for (const std::string& line : lines) {
    out.put(line);
    out.endLine();
  }
  out.close();
}

std::string BaseClass::TrimSpecialCharacter(std::string text, char c) {
  std::string kept;
  kept.reserve(text.size());
  for (char ch : text) {
    if (ch != c) kept.push_back(ch);
  }
  return kept;
}
