#include "formats/SampleMatch.h"

#include <unordered_map>

#include "core/RunEnd.h"

namespace ombra {

namespace {

std::string nameOf(const SampleName& individual) { return individual.famId + " " + individual.indId; }

// The individuals of a .fam by individual ID and by "FID_IID".
class SampleIndex {
 public:
  explicit SampleIndex(const std::vector<SampleName>& individuals) {
    for (size_t i = 0; i < individuals.size(); ++i) {
      const int seq = static_cast<int>(i);
      const auto added = byIndId.emplace(individuals[i].indId, seq);
      if (!added.second) added.first->second = kSeveral;
      // "A_B" "C" and "A" "B_C" join alike.
      const auto joined = byJoinedIds.emplace(individuals[i].famId + "_" + individuals[i].indId, seq);
      if (!joined.second) joined.first->second = kSeveral;
    }
  }
  // The seq of the individual whose individual ID is `name`, else of the one
  // whose FID_IID is; -1 for none. Stops the run when several share it.
  int find(const std::string& name, const std::string& path, const std::string& famPath) const {
    const auto byId = byIndId.find(name);
    if (byId != byIndId.end()) {
      if (byId->second == kSeveral) {
        stopRun("The sample " + name + " of " + path + " is the individual ID of several individuals of " + famPath +
                "; name the samples FID_IID to tell them apart.\n");
      }
      return byId->second;
    }
    const auto joined = byJoinedIds.find(name);
    if (joined == byJoinedIds.end()) return -1;
    if (joined->second == kSeveral) {
      stopRun("The sample " + name + " of " + path + " is the family ID and individual ID, joined by _, of several "
              "individuals of " + famPath + ".\n");
    }
    return joined->second;
  }

 private:
  static constexpr int kSeveral = -2;
  std::unordered_map<std::string, int> byIndId;
  std::unordered_map<std::string, int> byJoinedIds;
};

}  // namespace

SampleMatch matchSamples(const std::vector<std::string>& names, const std::vector<std::string>& otherNames,
                         const std::vector<SampleName>& individuals, const std::string& path,
                         const std::string& famPath) {
  const SampleIndex index(individuals);
  SampleMatch match;
  std::vector<int> sampleOfSeq(individuals.size(), -1);
  match.seqOfSample.assign(names.size(), -1);
  for (size_t c = 0; c < names.size(); ++c) {
    int seq = index.find(names[c], path, famPath);
    if (seq < 0 && c < otherNames.size()) seq = index.find(otherNames[c], path, famPath);
    if (seq < 0) {
      ++match.ignored;
      continue;
    }
    const int earlier = sampleOfSeq[static_cast<size_t>(seq)];
    if (earlier >= 0) {
      stopRun("The individual " + nameOf(individuals[static_cast<size_t>(seq)]) + " of " + famPath +
              " matches two samples of " + path + ": " + names[static_cast<size_t>(earlier)] + " and " + names[c] +
              ".\n");
    }
    sampleOfSeq[static_cast<size_t>(seq)] = static_cast<int>(c);
    match.seqOfSample[c] = seq;
  }
  match.inFileOrder = true;
  for (size_t i = 0; i < individuals.size(); ++i) {
    match.inFileOrder = match.inFileOrder && sampleOfSeq[i] == static_cast<int>(i);
    if (sampleOfSeq[i] < 0) {
      stopRun("The individual " + nameOf(individuals[i]) + " of " + famPath + " is not a sample of " + path + ".\n");
    }
  }
  return match;
}

}  // namespace ombra
