#include "design/Covariates.h"

#include <algorithm>
#include <limits>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace ombra {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// The raw text of one named column for every individual ("" when missing).
std::vector<std::string> columnTexts(const SampleTable* table, const std::string& name,
                                     const std::vector<SampleKey>& people, const std::string& missingTrait) {
  std::vector<std::string> texts;
  texts.reserve(people.size());
  const bool fromTable = table != nullptr && std::count(table->names().begin(), table->names().end(), name) > 0;
  if (!fromTable && name != "SEX") {
    if (table == nullptr) stopRun("The covariate " + name + " named by --covar-name needs a covariate file (--covar).\n");
    table->column(name, "--covar-name");  // stops, naming the file
  }
  const size_t column = fromTable ? table->column(name, "--covar-name") : 0;
  for (const SampleKey& person : people) {
    std::string text;
    if (fromTable) {
      const std::vector<std::string>* row = table->row(*person.famId, *person.indId);
      if (row != nullptr) text = (*row)[column];
    } else if (person.sex != Sex::kUnknown) {
      text = person.sex == Sex::kMale ? "1" : "2";
    }
    if (isMissingValue(text, missingTrait)) text.clear();
    texts.push_back(std::move(text));
  }
  return texts;
}

void addColumn(CovariateColumns& out, const std::string& name, const std::vector<double>& values) {
  out.names.push_back(name);
  for (size_t i = 0; i < values.size(); ++i) out.values[i].push_back(values[i]);
}

}  // namespace

CovariateColumns buildCovariates(const SampleTable* table, std::vector<std::string> names,
                                 const std::vector<SampleKey>& people, const std::string& missingTrait) {
  if (names.empty() && table != nullptr) names = table->names();
  CovariateColumns out;
  out.values.resize(people.size());
  for (const std::string& name : names) {
    const std::vector<std::string> texts = columnTexts(table, name, people, missingTrait);
    std::vector<double> numbers(texts.size(), kMissing);
    bool numeric = true;
    for (size_t i = 0; i < texts.size() && numeric; ++i) {
      if (!texts[i].empty()) numeric = isNumber(texts[i], numbers[i]);
    }
    if (numeric) {
      addColumn(out, name, numbers);
      continue;
    }
    std::vector<std::string> levels;
    for (const std::string& text : texts) {
      if (!text.empty() && std::find(levels.begin(), levels.end(), text) == levels.end()) levels.push_back(text);
    }
    // A single level still goes in, as a constant the design then drops,
    // so that its missing values still count.
    for (size_t level = levels.size() == 1 ? 0 : 1; level < levels.size(); ++level) {
      std::vector<double> indicator(texts.size(), kMissing);
      for (size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].empty()) indicator[i] = texts[i] == levels[level] ? 1.0 : 0.0;
      }
      addColumn(out, name + "=" + levels[level], indicator);
    }
  }
  return out;
}

}  // namespace ombra
