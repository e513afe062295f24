#include "design/SampleTable.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

const FieldSplitter kBlanks(" \t");

std::vector<std::string> fieldsOf(std::string_view line) {
  std::vector<std::string_view> views;
  kBlanks.split(line, views);
  return std::vector<std::string>(views.begin(), views.end());
}

bool sameName(const std::string& a, const char* b) {
  if (a.size() != std::char_traits<char>::length(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

}  // namespace

SampleTable::SampleTable(const std::string& path) : path_(path) {
  std::ifstream in(path, std::ios_base::binary);
  if (!in) stopRun("Open File " + path + " failed!\n");
  LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  bool header = false;
  while (reader.next(line)) {
    const std::string where = "Line " + std::to_string(reader.lineNumber()) + " of " + path;
    if (line.find('\r') != std::string_view::npos) {
      stopRun(where + " has a carriage return: the file has Windows line endings. Please convert it to Unix line "
                      "endings (for example with dos2unix).\n");
    }
    std::vector<std::string> fields = fieldsOf(line);
    if (fields.empty()) continue;
    if (!header) {
      std::string first = fields[0];
      if (!first.empty() && first[0] == '#') first.erase(0, 1);
      if (fields.size() < 2 || !sameName(first, "FID") || !sameName(fields[1], "IID")) {
        stopRun("The first line of " + path + " must be a header whose first two names are FID and IID (or #FID "
                "IID).\n");
      }
      names_.assign(fields.begin() + 2, fields.end());
      header = true;
      continue;
    }
    if (fields.size() != names_.size() + 2) {
      stopRun(where + " has " + std::to_string(fields.size()) + " fields, but the header names " +
              std::to_string(names_.size() + 2) + ".\n");
    }
    const auto added = rowOf_.emplace(fields[0] + "\t" + fields[1], rows_.size());
    if (!added.second) {
      stopRun(where + " gives the individual " + fields[0] + " " + fields[1] + " a second time.\n");
    }
    rows_.emplace_back(fields.begin() + 2, fields.end());
  }
  if (!in.eof()) stopRun("Read File " + path + " failed!\n");
  if (!header) stopRun("The file " + path + " is empty: it needs a header whose first two names are FID and IID.\n");
}

size_t SampleTable::column(const std::string& name, const std::string& option) const {
  for (size_t k = 0; k < names_.size(); ++k) {
    if (names_[k] == name) return k;
  }
  stopRun("The column " + name + " named by " + option + " is not in the header of " + path_ + ".\n");
}

const std::vector<std::string>* SampleTable::row(const std::string& famId, const std::string& indId) const {
  const auto found = rowOf_.find(famId + "\t" + indId);
  return found == rowOf_.end() ? nullptr : &rows_[found->second];
}

bool isMissingValue(const std::string& value, const std::string& missingTrait) {
  return value == "NA" || value == "-9" || value == missingTrait;
}

bool isNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno == 0 && std::isfinite(value);
}

}  // namespace ombra
