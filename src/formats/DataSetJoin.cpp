// Joining the unrelated data set to the family set's markers: aligned SNP by
// SNP when the two sets list the same SNPs in the same order, matched
// (formats/SnpMatch.h) when they do not.
#include <iostream>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "formats/DataSetLoader.h"
#include "formats/DosageCounts.h"

namespace ombra {

namespace {

const char* const kByPositionHint = " Sets whose IDs differ are matched by place with --match-by position.";

MarkerStream::Same sameSnp(MatchBy by) {
  if (by == MatchBy::kId) return [](const Marker& a, const Marker& b) { return a.snpId == b.snpId; };
  return [](const Marker& a, const Marker& b) {
    return a.position == b.position && sameChromosome(a.chrCode, a.chr, b.chrCode, b.chr);
  };
}

std::vector<Marker> readAll(MarkerReader& reader) {
  std::vector<Marker> list;
  Marker marker;
  while (reader.next(marker)) list.push_back(marker);
  reader.rewind();
  return list;
}

const char* optionName(bool unrelated, int form) {
  static const char* const kFamily[] = {"--f", "--bf", "--vf", "--gf"};
  static const char* const kUnrelated[] = {"--i", "--bi", "--vi", "--gi"};
  return unrelated ? kUnrelated[form] : kFamily[form];
}

}  // namespace

// A binary unrelated set codes its genotypes against the alleles of its own
// .bim, which need not be in the order of the shared marker list taken from
// the family set. Its codes are turned to count the shared second allele, and
// its individuals join the allele counts, so that pooling two binary sets
// made separately gives what pooling their text sets gives.
void DataSetLoader::loadUnrelatedBinarySet(const std::string& prefix, DataSet& set) {
  const std::string bimPath = prefix + ".bim";
  readPedigree(prefix + ".fam", set, true);
  std::vector<Marker> own;
  if (fileExists(bimPath)) {
    openInput(inputStream, bimPath);
    readMarkers(inputStream, bimPath, true, own);
  }
  if (own.empty() || sameSnpList(store.markers, own, settings.matchBy)) {
    readGenotype(prefix + ".bed", set);
    if (!own.empty()) joinUnrelated(own, bimPath, set);
    return;
  }
  readWithOwnMarkers(own, [&] { readGenotype(prefix + ".bed", set); });
  joinUnrelated(own, bimPath, set);
}

// A text set with its own map that lists other SNPs is coded against that
// map, then matched.
void DataSetLoader::readUnrelatedOwnMap(const std::string& mapPath, const std::string& pedPath, DataSet& set) {
  std::istream& in = textInput.open(inputStream, mapPath);
  std::vector<Marker> own;
  readMarkers(in, mapPath, false, own);
  if (sameSnpList(store.markers, own, settings.matchBy)) {
    readPedigree(pedPath, set, false);
    return;
  }
  readWithOwnMarkers(own, [&] { readPedigree(pedPath, set, false); });
  joinUnrelated(own, mapPath, set);
}

void DataSetLoader::readWithOwnMarkers(std::vector<Marker>& own, const std::function<void()>& read) {
  std::swap(store.markers, own);
  read();
  std::swap(store.markers, own);
}

std::vector<size_t> DataSetLoader::swappedSnps(const std::vector<Marker>& own) {
  std::vector<size_t> swapped;
  for (size_t s = 0; s < store.markers.size(); ++s) {
    if (codesCountFirstAllele(store.markers[s], own[s])) swapped.push_back(s);
  }
  return swapped;
}

void DataSetLoader::alignUnrelatedMarkers(const std::vector<Marker>& own, DataSet& set) {
  std::vector<unsigned char> flipSlots(static_cast<size_t>(rowBytes(static_cast<long>(store.markers.size()))), 0);
  const std::vector<size_t> swapped = swappedSnps(own);
  for (size_t s : swapped) flipSlots[s / 4] |= static_cast<unsigned char>(0x40 >> (2 * (s % 4)));
  std::vector<const unsigned char*> rows;
  std::vector<const uint16_t*> dosageRows;
  for (GenotypeRow& row : set.rows) {
    for (size_t b = 0; b < flipSlots.size(); ++b) {
      // Codes 0 and 2 swap (their low bit is 0); 1 and 3 stay.
      const unsigned char evenCodes = static_cast<unsigned char>(~row.codes[b] & flipSlots[b]);
      row.codes[b] ^= static_cast<unsigned char>(evenCodes << 1);
    }
    if (row.dosages == nullptr) {
      rows.push_back(row.codes);
      continue;
    }
    for (size_t s : swapped) row.dosages[s] = otherAlleleDosage(row.dosages[s]);
    dosageRows.push_back(row.dosages);
  }
  // Whole-number counts: adding them at once gives the sum code by code.
  DosageCounts counts;
  addDosageCounts(rows.data(), rows.size(), store.markers.size(), counts);
  addDosageUnits(dosageRows.data(), dosageRows.size(), store.markers.size(), counts);
  for (size_t s = 0; s < store.markers.size() && s < counts.copies.size(); ++s) {
    store.markers[s].allele2Count += static_cast<double>(counts.copies[s]) + static_cast<double>(counts.units[s]) / kDosageOne;
  }
  store.alleleCountBase += set.size;
}

void DataSetLoader::joinUnrelated(const std::vector<Marker>& own, const std::string& name, DataSet& set) {
  if (sameSnpList(store.markers, own, settings.matchBy)) {
    reportDuplicatedIds([&own](const std::function<void(const Marker&)>& visit) {
      for (const Marker& marker : own) visit(marker);
    });
    alignUnrelatedMarkers(own, set);
    set.markerCount = static_cast<long>(own.size());
    return;
  }
  SnpMatch match = matchLists(store.markers, own, name);
  keepSnpsOfRows(cohort.family.rows, store.markers.size(), match.familySnps, {});
  keepSnpsOfRows(set.rows, own.size(), match.unrelatedSnps, match.swapped);
  store.markers = std::move(match.markers);
  cohort.family.markerCount = set.markerCount = static_cast<long>(store.markers.size());
  recountAlleles();
}

// The counts as loading the matched sets would have made them: copies of
// allele2 over every row.
void DataSetLoader::recountAlleles() {
  const DosageCounts counts = cohortDosageCounts(cohort, store.markers.size());
  for (size_t s = 0; s < store.markers.size(); ++s) {
    store.markers[s].allele2Count =
        static_cast<double>(counts.copies[s]) + static_cast<double>(counts.units[s]) / kDosageOne;
  }
  store.alleleCountBase = cohort.family.size + cohort.unrelated.size;
  store.bimCountPending = false;
}

std::vector<bool> DataSetLoader::joinStreamed(std::unique_ptr<MarkerReader> reader, const std::string& name) {
  std::vector<bool> swapped;
  streamedUnrelatedSnps.clear();
  // One list: joined as the run reads on, never held.
  if (store.joinMarkers(reader, sameSnp(settings.matchBy), swapped)) {
    reportDuplicatedIds([this](const std::function<void(const Marker&)>& visit) {
      store.markerStream()->forEach([&visit](size_t, const Marker& marker) { visit(marker); });
    });
    return swapped;
  }
  const std::vector<Marker> own = readAll(*reader);
  SnpMatch match = matchLists(store.streamedMarkers(), own, name);
  swapped.assign(own.size(), false);
  for (size_t k = 0; k < match.unrelatedSnps.size(); ++k) swapped[match.unrelatedSnps[k]] = match.swapped[k];
  streamedUnrelatedSnps = std::move(match.unrelatedSnps);
  store.matchStreamedMarkers(std::move(match.markers), std::move(match.familySnps));
  cohort.family.markerCount = static_cast<long>(streamedUnrelatedSnps.size());
  return swapped;
}

void DataSetLoader::matchStreamedSource(DataSet& set) {
  if (streamedUnrelatedSnps.empty()) return;
  set.markerCount = static_cast<long>(streamedUnrelatedSnps.size());
  store.stream(SetKind::kUnrelated)->matchSnps(std::move(streamedUnrelatedSnps));
  streamedUnrelatedSnps.clear();
}

SnpMatch DataSetLoader::matchLists(const std::vector<Marker>& family, const std::vector<Marker>& own,
                                   const std::string& name) {
  SnpMatch match =
      matchSnps(family, own, settings.matchBy, settings.admitSnp, settings.keepsSnp, familyMarkerFile, name);
  store.snpsSelectedOnLoad = static_cast<bool>(settings.admitSnp);
  const std::string by = settings.matchBy == MatchBy::kId ? "ID" : "position";
  if (match.familySnps.empty()) {
    const std::string selected = settings.admitSnp ? " kept by the selection" : "";
    stopRun("No snp is shared by " + familyMarkerFile + " (" +
            std::to_string(family.size() - match.familyUnselected) + " snps" + selected + ") and " + name + " (" +
            std::to_string(own.size() - match.unrelatedUnselected) + " snps" + selected + "), matched by " + by +
            "." + (settings.matchBy == MatchBy::kId ? kByPositionHint : "") + "\n");
  }
  std::cout << matchSummary(match, settings.matchBy, familyMarkerFile, name);
  leftOutNotes.clear();
  for (const std::string& line : match.leftOut) leftOutNotes += "Left out: " + line + "\n";
  return match;
}

void DataSetLoader::reportDuplicatedIds(const MarkerVisits& forEach) const {
  if (settings.matchBy != MatchBy::kId) return;
  const size_t duplicates = duplicatedIds(forEach);
  if (duplicates == 0) return;
  std::cout << duplicates << (duplicates == 1 ? " snp ID appears" : " snp IDs appear")
            << " more than once in both data sets, which list the same snps in the same order: their snps are "
               "paired by place.\n";
}

// A set given in two forms is read from the one that wins (SetInput).
void DataSetLoader::announceChoice(const SetInput& input, const DataSet& set) const {
  const bool given[] = {input.textGiven, input.binaryGiven, input.vcfGiven, input.bgenGiven};
  const std::string* prefixes[] = {&input.text, &input.binary, &input.vcf, &input.bgen};
  int used = -1;
  for (int form = 3; form >= 0; --form) {
    if (given[form] && used < 0) used = form;
  }
  for (int form = 0; form < 4; ++form) {
    if (!given[form] || form == used) continue;
    std::cout << "The " << set.name() << " dataset is given twice: " << optionName(set.unrelated(), used) << " "
              << *prefixes[used] << " is used, " << optionName(set.unrelated(), form) << " " << *prefixes[form]
              << " is ignored.\n";
  }
}

}  // namespace ombra
