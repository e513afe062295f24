#include "design/Selection.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "design/SampleTable.h"

namespace ombra {

namespace {

const FieldSplitter kBlanks(" \t\r");

const char* const kOptionWords[] = {"--keep", "--remove", "--extract", "--exclude", "--chr", "--from-bp",
                                    "--to-bp", "--maf",   "--geno",    "--mind",    "--hwe",
                                    "--minfo"};

// Calls visit(fields, lineNumber) for every line of `path` with a field.
template <typename Visit>
void forEachLine(const std::string& path, const char* option, Visit visit) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    stopRun("The file " + path + " given to " + option + " does not exist.\n");
  }
  std::ifstream in(path, std::ios_base::binary);
  if (!in) stopRun("Open File " + path + " failed!\n");
  LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  std::vector<std::string_view> fields;
  while (reader.next(line)) {
    fields.clear();
    kBlanks.split(line, fields);
    if (!fields.empty()) visit(fields, reader.lineNumber());
  }
  if (!in.eof()) stopRun("Read File " + path + " failed!\n");
}

std::string pairKey(std::string_view famId, std::string_view indId) {
  std::string key(famId);
  key += '\t';
  key.append(indId.data(), indId.size());
  return key;
}

std::unordered_set<std::string> readIdPairs(const std::string& path, const char* option) {
  std::unordered_set<std::string> pairs;
  forEachLine(path, option, [&](const std::vector<std::string_view>& fields, long line) {
    if (fields.size() < 2) {
      stopRun("Line " + std::to_string(line) + " of " + path + " (" + option +
              ") has one field, but a family ID and an individual ID are needed.\n");
    }
    pairs.insert(pairKey(fields[0], fields[1]));
  });
  return pairs;
}

std::unordered_set<std::string> readSnpNames(const std::string& path, const char* option) {
  std::unordered_set<std::string> names;
  forEachLine(path, option, [&](const std::vector<std::string_view>& fields, long) {
    for (std::string_view name : fields) names.emplace(name);
  });
  return names;
}

// A position: digits only, at most 10 of them.
long parsePosition(const std::string& value, const char* option) {
  const bool digits = !value.empty() && value.size() <= 10 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) stopRun(std::string("The option ") + option + " takes a base-pair position (a whole number).\n");
  return std::stol(value);
}

double parseThreshold(const std::string& value, const char* option, double high) {
  if (value.empty()) return -1;
  double x = 0;
  if (!isNumber(value, x) || x < 0 || x > high) {
    stopRun(std::string("The option ") + option + " takes a number from 0 to " + (high == 1 ? "1" : "0.5") +
            ", not " + value + ".\n");
  }
  return x;
}

void printRemoved(const std::string& what, long count, const char* unit, const char* why) {
  if (what.empty()) return;
  std::cout << what << ": " << count << " " << unit << (count == 1 ? "" : "s") << " removed (" << why << ").\n";
}

}  // namespace

bool SelectionOptions::knows(const std::string& word) {
  return std::find(std::begin(kOptionWords), std::end(kOptionWords), word) != std::end(kOptionWords);
}

std::vector<std::string> SelectionOptions::words() {
  return std::vector<std::string>(std::begin(kOptionWords), std::end(kOptionWords));
}

void SelectionOptions::set(const std::string& word, const std::string& value) {
  std::string* const slots[] = {&keepFile, &removeFile, &extractFile, &excludeFile, &chrList, &fromBp,
                                &toBp,     &maf,        &geno,        &mind,        &hwe,
                                &minfo};
  const auto found = std::find(std::begin(kOptionWords), std::end(kOptionWords), word);
  if (found != std::end(kOptionWords)) *slots[found - std::begin(kOptionWords)] = value;
}

SampleSelection::SampleSelection(const SelectionOptions& options)
    : hasKeep_(!options.keepFile.empty()), hasRemove_(!options.removeFile.empty()),
      keepFile_(options.keepFile), removeFile_(options.removeFile) {
  if (hasKeep_) keep_ = readIdPairs(keepFile_, "--keep");
  if (hasRemove_) remove_ = readIdPairs(removeFile_, "--remove");
}

bool SampleSelection::admit(std::string_view famId, std::string_view indId) {
  ++seen_;
  key_.assign(famId.data(), famId.size());
  key_ += '\t';
  key_.append(indId.data(), indId.size());
  const bool listedKeep = hasKeep_ && keep_.count(key_) != 0;
  const bool listedRemove = hasRemove_ && remove_.count(key_) != 0;
  keepMatched_ += listedKeep;
  removeMatched_ += listedRemove;
  if (hasKeep_ && !listedKeep) {
    ++notKept_;
    leftOut_.insert(key_);
    return false;
  }
  if (listedRemove) {
    ++removed_;
    leftOut_.insert(key_);
    return false;
  }
  ++kept_;
  return true;
}

void SampleSelection::report() const {
  if (hasKeep_ && keepMatched_ == 0) {
    std::cout << "Warning: the file " << keepFile_ << " (--keep) names none of the individuals of the data.\n";
  }
  if (hasRemove_ && removeMatched_ == 0) {
    std::cout << "Warning: the file " << removeFile_ << " (--remove) names none of the individuals of the data.\n";
  }
  printRemoved(hasKeep_ ? "--keep " + keepFile_ : "", notKept_, "individual", "not listed");
  printRemoved(hasRemove_ ? "--remove " + removeFile_ : "", removed_, "individual", "listed");
  std::cout << "Sample selection: " << kept_ << " of " << seen_ << " individuals kept.\n";
}

SnpSelection::SnpSelection(const SelectionOptions& options) : active_(options.selectsSnps()), options_(options) {
  if (!options.extractFile.empty()) extract_ = readSnpNames(options.extractFile, "--extract");
  if (!options.excludeFile.empty()) exclude_ = readSnpNames(options.excludeFile, "--exclude");
  std::vector<std::string_view> items;
  const FieldSplitter commas(",");
  commas.split(options.chrList, items);
  for (std::string_view item : items) {
    ChrRange range;
    const size_t dash = item.find('-', 1);
    if (dash != std::string_view::npos) {
      range.low = chromosomeCode(item.substr(0, dash));
      range.high = chromosomeCode(item.substr(dash + 1));
      if (range.low < 0 || range.high < range.low) {
        stopRun("The option --chr has the range " + std::string(item) +
                ", which is not from a lower chromosome code to a higher one.\n");
      }
    } else {
      range.low = range.high = chromosomeCode(item);
      if (range.low < 0) range.name = std::string(item);
    }
    chromosomes_.push_back(std::move(range));
  }
  if (!options.chrList.empty() && chromosomes_.empty()) stopRun("The option --chr takes a list of chromosomes.\n");
  const bool positions = !options.fromBp.empty() || !options.toBp.empty();
  if (positions && (chromosomes_.size() != 1 || chromosomes_[0].low != chromosomes_[0].high)) {
    stopRun("The options --from-bp and --to-bp need --chr with one chromosome.\n");
  }
  if (!options.fromBp.empty()) fromBp_ = parsePosition(options.fromBp, "--from-bp");
  if (!options.toBp.empty()) toBp_ = parsePosition(options.toBp, "--to-bp");
  if (fromBp_ >= 0 && toBp_ >= 0 && fromBp_ > toBp_) stopRun("The position of --from-bp is after that of --to-bp.\n");
}

bool SnpSelection::onListedChromosome(const Marker& marker) const {
  const int code = marker.chrCode;
  return std::any_of(chromosomes_.begin(), chromosomes_.end(), [&](const ChrRange& range) {
    return range.name.empty() ? code >= range.low && code <= range.high : marker.chr == range.name;
  });
}

// The rule that drops a SNP: 0 when it stays, else 1 --extract, 2
// --exclude, 3 --chr, 4 the positions.
int SnpSelection::ruleDropping(const Marker& marker) const {
  if (!options_.extractFile.empty() && extract_.count(marker.snpId) == 0) return 1;
  if (exclude_.count(marker.snpId) != 0) return 2;
  if (!chromosomes_.empty() && !onListedChromosome(marker)) return 3;
  if ((fromBp_ >= 0 && marker.position < fromBp_) || (toBp_ >= 0 && marker.position > toBp_)) return 4;
  return 0;
}

bool SnpSelection::admit(const Marker& marker) {
  ++seen_;
  long* const tallies[] = {&kept_, &notExtracted_, &excluded_, &otherChr_, &outside_};
  const int rule = ruleDropping(marker);
  ++*tallies[rule];
  return rule == 0;
}

bool SnpSelection::keeps(const Marker& marker) const { return ruleDropping(marker) == 0; }

void SnpSelection::report() const {
  const SelectionOptions& o = options_;
  printRemoved(o.extractFile.empty() ? "" : "--extract " + o.extractFile, notExtracted_, "snp", "not listed");
  printRemoved(o.excludeFile.empty() ? "" : "--exclude " + o.excludeFile, excluded_, "snp", "listed");
  printRemoved(o.chrList.empty() ? "" : "--chr " + o.chrList, otherChr_, "snp", "on other chromosomes");
  if (fromBp_ >= 0 || toBp_ >= 0) {
    const std::string range = (fromBp_ >= 0 ? std::to_string(fromBp_) : std::string("start")) + " to " +
                              (toBp_ >= 0 ? std::to_string(toBp_) : std::string("end"));
    printRemoved("--from-bp/--to-bp", outside_, "snp", ("outside positions " + range).c_str());
  }
  std::cout << "Snp selection: " << kept_ << " of " << seen_ << " snps kept.\n";
}

FilterThresholds::FilterThresholds(const SelectionOptions& options)
    : maf(parseThreshold(options.maf, "--maf", 0.5)), geno(parseThreshold(options.geno, "--geno", 1)),
      mind(parseThreshold(options.mind, "--mind", 1)), hwe(parseThreshold(options.hwe, "--hwe", 1)),
      minfo(parseThreshold(options.minfo, "--minfo", 1)) {}

}  // namespace ombra
