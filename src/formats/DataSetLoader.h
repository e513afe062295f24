// Opening the data sets of a run: the text, Ombra binary, PLINK 1, VCF/BCF
// and BGEN readers, which fill a cohort's data sets and the genotype store's
// markers and rows, join the unrelated set to the family set's markers
// (DataSetJoin.cpp), and print what they read.
#ifndef OMBRA_FORMATS_DATASETLOADER_H
#define OMBRA_FORMATS_DATASETLOADER_H

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "formats/AlleleTable.h"
#include "formats/BgenFile.h"
#include "formats/GenotypeSource.h"
#include "formats/GenotypeStore.h"
#include "formats/SnpMatch.h"
#include "formats/TextInput.h"
#include "formats/VcfRecords.h"

namespace ombra {

// Which trait codes of a pedigree file are missing. kOwn: the missing-trait
// code alone, as Ombra's own .ped and binary sets have always been read.
// kPlink: PLINK's -9 as well, for the .fam of PLINK filesets and VCF/BCF
// sets, which PLINK itself writes with -9 for every missing phenotype.
enum class TraitCodes { kOwn, kPlink };

// True when a trait's text is the number -9 ("-9", "-9.0", ...).
bool isMinusNine(const std::string& trait);

struct LoadSettings {
  std::string missingTrait = "0";
  std::string missingGenotype = "0";  // one letter
  DosageField vcfDosage = DosageField::kGt;  // the FORMAT field of VCF/BCF genotypes
  // Whether IMPUTE's info is wanted (shown or filtered on): sources of
  // genotype probabilities then hold each dosage's variance.
  bool probabilityInfo = false;
  // The region of --chr and --from-bp/--to-bp, which a BGEN set with an
  // index reads alone.
  std::optional<BgenRegion> bgenRegion;
  // Whether a text set keeps the individual (family ID, individual ID) as its
  // line is read: the sample selection; empty keeps everyone.
  std::function<bool(std::string_view, std::string_view)> admit;
  // How the SNPs of two data sets whose lists differ are matched.
  MatchBy matchBy = MatchBy::kId;
  // The SNP selection, which such sets apply each to its own list before
  // they are matched: admitSnp tallies (the family set's list), keepsSnp
  // does not (the other's); empty when there is none.
  std::function<bool(const Marker&)> admitSnp, keepsSnp;
};

// Where one data set comes from: the prefixes given for its text, binary and
// VCF forms, and BGEN. A set's BGEN form wins over its VCF form, which wins
// over its binary form, which wins over its text form.
struct SetInput {
  std::string text, binary, vcf, bgen;
  bool textGiven = false, binaryGiven = false, vcfGiven = false, bgenGiven = false;
  bool given() const { return textGiven || binaryGiven || vcfGiven || bgenGiven; }
  // The files it may read.
  std::vector<std::string> files() const;
};

// Whether a data set, given or not, can be read as the run goes: a VCF or a
// PLINK 1 fileset, or no set at all.
bool canStream(const SetInput& input);

class DataSetLoader {
 public:
  DataSetLoader(Cohort& cohort, GenotypeStore& store, LoadSettings settings);

  // Family set first, then unrelated. The markers come from the family set's
  // map or VCF when it yields any. An unrelated set that lists other SNPs is
  // matched to them (formats/SnpMatch.h): both sets keep the shared SNPs.
  // Every set's rows must then fit the markers; a streamed run reads its
  // genotypes later.
  void load(const SetInput& family, const SetInput& unrelated);

  // The readers, one file or fileset at a time. Each stops the run on an
  // error, with a message naming the file and line.
  void readMapFile(const std::string& path, int mapColumns);
  void readPedigree(const std::string& path, DataSet& set, bool binary, TraitCodes codes = TraitCodes::kOwn);
  void readGenotype(const std::string& path, DataSet& set);
  // PREFIX.bim, .fam and .bed of a PLINK 1 fileset, loaded or streamed.
  void loadPlinkSet(const std::string& prefix, DataSet& set);
  // PREFIX.fam and the first of PREFIX.bcf, .vcf.gz and .vcf.
  void readVcfSet(const std::string& prefix, DataSet& set);
  // PREFIX.fam, PREFIX.bgen and PREFIX.sample when there is one.
  void readBgenSet(const std::string& prefix, DataSet& set);
  // A set read before another set's map supplied the markers has rows too
  // short for them: stops the run.
  void checkRowsFitMarkers() const;
  // The SNPs a match of two lists left out, and why, one line each: for the
  // run's log; empty when the lists were one.
  const std::string& matchNotes() const { return leftOutNotes; }

 private:
  void readMarkers(std::istream& in, const std::string& path, bool bim, std::vector<Marker>& list);
  void takeSource(std::unique_ptr<GenotypeSource> source, const std::string& path, DataSet& set);
  Individual makeIndividual(int seq) const;
  void tallyTrait(const std::string& trait);
  void printSampleSummary(const DataSet& set) const;
  void reportMinusNine(const std::string& path, int count, TraitCodes codes) const;
  bool storeGenotypeRow(std::vector<GenotypeRow>& rows, int seq, const unsigned char* codes);
  bool codeAlleleFields(unsigned char* row, int seq);
  void loadUnrelatedBinarySet(const std::string& prefix, DataSet& set);
  std::vector<size_t> swappedSnps(const std::vector<Marker>& own);
  void alignUnrelatedMarkers(const std::vector<Marker>& own, DataSet& set);
  // Joins a loaded unrelated set, whose rows follow its own list `own`, to
  // the family set's markers: aligned as today when the lists are one, else
  // both sets' rows cut to the SNPs they share.
  void joinUnrelated(const std::vector<Marker>& own, const std::string& name, DataSet& set);
  // The same for a streamed unrelated set; returns the swaps per file SNP.
  std::vector<bool> joinStreamed(std::unique_ptr<MarkerReader> reader, const std::string& name);
  void matchStreamedSource(DataSet& set);
  SnpMatch matchLists(const std::vector<Marker>& family, const std::vector<Marker>& own, const std::string& name);
  // Visits every marker of a list: a held list or the stream's.
  using MarkerVisits = std::function<void(const std::function<void(const Marker&)>&)>;
  void reportDuplicatedIds(const MarkerVisits& forEach) const;
  void recountAlleles();
  void readUnrelatedOwnMap(const std::string& mapPath, const std::string& pedPath, DataSet& set);
  // Reads with `own` as the store's markers, which it then gives back.
  void readWithOwnMarkers(std::vector<Marker>& own, const std::function<void()>& read);
  void announceChoice(const SetInput& input, const DataSet& set) const;
  void openPlinkStream(const std::string& prefix, DataSet& set, bool shared);
  void loadSet(const SetInput& input, DataSet& set);

  Cohort& cohort;
  GenotypeStore& store;
  LoadSettings settings;
  // The open .ped or .map, plain or gzip-compressed.
  std::ifstream inputStream;
  TextInput textInput;
  // Fields of the line being read: views into the reader's buffer, so that a
  // line of 200,000 allele fields is never copied field by field.
  std::vector<std::string_view> lineFields;
  // The markers' alleles while a text pedigree file is coded.
  AlleleTable alleleTable;
  // The file of the family set's markers, which messages on matching name.
  std::string familyMarkerFile;
  std::string leftOutNotes;
  // The shared SNPs of a streamed match, per unrelated SNP: its place.
  std::vector<size_t> streamedUnrelatedSnps;
  // Whether a BGEN set reads only the region through its index: when every
  // set given is a BGEN set with one, so that both lists stay alike.
  bool bgenIndexUsed = false;
  // The trait counts of the pedigree file being read.
  int maxFamilySize = 0, affectedCount = 0, unaffectedCount = 0, missingTraitCount = 0, otherTraitCount = 0;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_DATASETLOADER_H
