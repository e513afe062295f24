// The bgenix index of a BGEN file: an SQLite file whose table Variant holds
// a row per record (chromosome, position, rsid, number_of_alleles, allele1,
// allele2, file_start_position, size_in_bytes), and whose table Metadata,
// where present, the size of the file it was made from.
#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include "core/RunEnd.h"
#include "formats/BgenFile.h"

namespace ombra {

namespace {

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinishStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

[[noreturn]] void notAnIndex(const std::string& bgiPath, sqlite3* db) {
  stopRun("The file " + bgiPath + " cannot be read as a bgenix index (" +
          std::string(db != nullptr ? sqlite3_errmsg(db) : "cannot open") + ").\n");
}

Statement prepare(sqlite3* db, const char* sql, const std::string& bgiPath) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    notAnIndex(bgiPath, db);
  }
  return Statement(raw);
}

}  // namespace

std::vector<uint64_t> indexedRecordOffsets(const std::string& bgiPath, const BgenRegion& region, uint64_t bgenSize) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(bgiPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  Database db(raw);
  if (opened != SQLITE_OK) notAnIndex(bgiPath, raw);

  // An index of an earlier version of the file names offsets that now hold
  // something else; bgenix records the size it indexed.
  Statement hasMetadata = prepare(
      db.get(), "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'Metadata'", bgiPath);
  if (sqlite3_step(hasMetadata.get()) != SQLITE_ROW) notAnIndex(bgiPath, db.get());
  if (sqlite3_column_int(hasMetadata.get(), 0) > 0) {
    Statement size = prepare(db.get(), "SELECT file_size FROM Metadata", bgiPath);
    while (sqlite3_step(size.get()) == SQLITE_ROW) {
      const sqlite3_int64 stated = sqlite3_column_int64(size.get(), 0);
      if (stated != static_cast<sqlite3_int64>(bgenSize)) {
        stopRun("The index " + bgiPath + " was made from a file of " + std::to_string(stated) +
                " bytes, but its BGEN file has " + std::to_string(bgenSize) +
                " bytes; make the index again with bgenix.\n");
      }
    }
  }

  // The file's own spellings of the chromosome asked for ("2", "02",
  // "chr2"), found among the index's names, then their records.
  std::vector<std::string> names;
  Statement distinct = prepare(db.get(), "SELECT DISTINCT chromosome FROM Variant", bgiPath);
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(distinct.get())) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(distinct.get(), 0);
    const std::string name = text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
    if (region.onChromosome(name)) names.push_back(name);
  }
  if (step != SQLITE_DONE) notAnIndex(bgiPath, db.get());
  std::vector<uint64_t> offsets;
  Statement rows = prepare(db.get(),
                           "SELECT file_start_position FROM Variant WHERE chromosome = ?1 AND position >= ?2 AND "
                           "position <= ?3",
                           bgiPath);
  for (const std::string& name : names) {
    sqlite3_reset(rows.get());
    sqlite3_bind_text(rows.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(rows.get(), 2, region.from);
    sqlite3_bind_int64(rows.get(), 3, region.to);
    while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
      const sqlite3_int64 offset = sqlite3_column_int64(rows.get(), 0);
      if (offset < 0) {
        stopRun("The index " + bgiPath + " places a variant at byte " + std::to_string(offset) +
                "; make the index again with bgenix.\n");
      }
      offsets.push_back(static_cast<uint64_t>(offset));
    }
    if (step != SQLITE_DONE) notAnIndex(bgiPath, db.get());
  }
  std::sort(offsets.begin(), offsets.end());
  return offsets;
}

}  // namespace ombra
