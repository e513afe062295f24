#include "formats/OxfordSample.h"

#include <algorithm>
#include <fstream>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

std::vector<std::string> fieldsOf(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> fields;
  size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) break;
    const size_t end = std::min(line.find_first_of(" \t", at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

}  // namespace

std::vector<OxfordSampleId> readOxfordSample(const std::string& path) {
  std::ifstream in;
  openInput(in, path);
  std::string line;
  std::vector<std::string> names;
  std::vector<std::string> types;
  if (std::getline(in, line)) names = fieldsOf(line);
  if (std::getline(in, line)) types = fieldsOf(line);
  if (names.size() < 2 || names[0] != "ID_1" || names[1] != "ID_2") {
    stopRun("The sample file " + path + " does not start with the line \"ID_1 ID_2 missing ...\".\n");
  }
  if (types.size() != names.size() || types[0] != "0" || types[1] != "0") {
    stopRun("Line 2 of the sample file " + path + " is not the line of column types (\"0 0 0 ...\", one per column " +
            "of line 1).\n");
  }
  std::vector<OxfordSampleId> samples;
  long number = 2;
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string> fields = fieldsOf(line);
    if (fields.empty()) continue;
    if (fields.size() != names.size()) {
      stopRun("Line " + std::to_string(number) + " of the sample file " + path + " has " +
              std::to_string(fields.size()) + " fields, but its first line names " + std::to_string(names.size()) +
              " columns.\n");
    }
    samples.push_back({fields[0], fields[1]});
  }
  if (in.bad()) stopRun("The sample file " + path + " could not be read.\n");
  return samples;
}

}  // namespace ombra
