// kdbtool: inspect, check, repair and fill ".kdb" tables from a terminal.
//
//   kdbtool [--password TEXT] info FILE
//   kdbtool [--password TEXT] dump [--csv] [--exact] FILE
//   kdbtool [--password TEXT] check FILE       (read-only: header, records,
//                                               every memo chain, free list)
//   kdbtool [--password TEXT] repair FILE      (read-write: repairs on open,
//                                               drops damaged chains)
//   kdbtool [--password TEXT] create FILE NAME:KIND[:SIZE]...
//   kdbtool [--password TEXT] append FILE VALUE...
//   kdbtool [--password TEXT] sum FILE FIELD [--where FIELD=TEXT]
//   kdbtool [--password TEXT] find FILE FIELD=TEXT
//   kdbtool [--password TEXT] delete FILE --where FIELD=TEXT
//   kdbtool [--password TEXT] pack FILE
//   kdbtool backup [--wait SECONDS] [--keep-days N] [--keep-months M] DIR DEST
//                                               (kdbtool_backup.h)
//   kdbtool verify [--wait SECONDS] DIR
//   kdbtool init-folder DIR [--group GROUP]    (kdbtool_folder.h)
//   kdbtool restore BACKUP DIR [TABLE...]
//   kdbtool [--password TEXT] export [--exact] DIR OUT.sqlite|OUT.xlsx
//   kdbtool [--password TEXT] export [--exact] DIR --csv OUTDIR
//                                               (kdbtool_export.h)
//   kdbtool stock-audit DIR                    (the catalogue's stock against
//                                               what the stock journal implies,
//                                               and stock moved by a catalogue
//                                               change without its reason; every
//                                               charge line against its entries;
//                                               the trail's numbering)
//   kdbtool trail DIR [--from DATE] [--to DATE] [--user NAME] [--kind KIND] [--csv]
//                                               (kdbtool_trail.h)
//
// Amounts: every float field of the centre's tables holds money, and
// dump, sum and export write it to the fen ("95.10"), as the program
// counts it; dump and export with --exact write the stored value instead
// (the shortest decimal that reads back as it, "95.100006"). sum adds
// every amount's fen exactly. Double fields are always written exactly.
//
// The terminal speaks UTF-8; tables stay GBK, so field names, values and
// output are converted at this edge. File names are passed through as
// given. Every failure prints the engine code and its text on standard
// error ("-22 指定文件不是数据库文件") and exits with status 1.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "db/chaincheck.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/format.h"
#include "db/names.h"
#include "db/table.h"
#include "kdbtool_backup.h"
#include "kdbtool_folder.h"
#include "kdbtool_trail.h"
#include "kdbtool_common.h"
#include "kdbtool_export.h"
#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"
#include "runtime/money.h"

namespace {

std::string g_password;  // GBK

[[noreturn]] void fail(int code) {
  std::string line = std::to_string(code) + " " + rt::gbkToUtf8(db::errorText(code)) + "\n";
  std::fputs(line.c_str(), stderr);
  std::exit(1);
}

// -48 said in full: what the administrator is to do about it.
[[noreturn]] void failOpen(const std::string& file, int code) {
  if (code == db::kFileSizeWrong) {
    std::string path = db::withDefaultExtension(file), existing;
    if (db::resolveExisting(path, &existing)) path = existing;
    switch (db::sizeFaultOf(path)) {
      case db::SizeFault::kPackUnfinished:
        std::fputs((file + ": " + kdbtool::packUnfinishedText() + "\n").c_str(), stderr);
        std::exit(kdbtool::kPackUnfinishedStatus);
      case db::SizeFault::kCountDamaged:
        std::fputs((std::to_string(code) + " " + rt::gbkToUtf8(db::errorText(code)) + "\n" + file + ": " +
                    kdbtool::countDamagedText() + "\n")
                       .c_str(),
                   stderr);
        std::exit(1);
      default:
        break;
    }
  }
  fail(code);
}

[[noreturn]] void usage() {
  std::fputs(
      "usage: kdbtool [--password TEXT] COMMAND ...\n"
      "  info FILE | dump [--csv] [--exact] FILE | check FILE | repair FILE\n"
      "  create FILE NAME:KIND[:SIZE]... | append FILE VALUE...\n"
      "  sum FILE FIELD [--where FIELD=TEXT] | find FILE FIELD=TEXT\n"
      "  delete FILE --where FIELD=TEXT | pack FILE\n"
      "  backup [--wait SECONDS] [--keep-days N] [--keep-months M] DIR DEST\n"
      "  verify [--wait SECONDS] DIR | restore BACKUP DIR [TABLE...]\n"
      "  init-folder DIR [--group GROUP]\n"
      "  export [--exact] DIR OUT.sqlite|OUT.xlsx | export [--exact] DIR --csv OUTDIR\n"
      "  stock-audit DIR\n"
      "  trail DIR [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--user NAME] [--kind KIND] [--csv]\n"
      "Amounts (float fields) are written to the fen (95.10) and summed in fen;\n"
      "--exact writes the stored value (95.100006).\n",
      stderr);
  std::exit(1);
}

void out(const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }

db::Table& openTableFile(const std::string& file, bool readOnly) {
  if (!cmd::OpenDatabase(file, "", readOnly, 1, g_password)) failOpen(file, db::lastError());
  return *db::currentTable();
}

// One field of a record image as text (UTF-8), as kdbtool::shownText
// writes it. False (with *code) when the field cannot be read.
bool fieldText(db::Table& t, const db::Field& f, const uint8_t* rec, kdbtool::Amounts amounts, std::string* text,
               int* code) {
  rt::Result v;
  if (int rc = kdbtool::loadField(t, f, rec, &v); rc != db::kOk) {
    *code = rc;
    return false;
  }
  *text = kdbtool::shownText(f, v.arg(), amounts);
  return true;
}

using kdbtool::csvCell;

[[nodiscard]] int cmdInfo(const std::string& file) {
  db::Table& t = openTableFile(file, true);
  int32_t count = 0, serial = 0;
  int rc = t.readCountSerial(&count, &serial);
  if (rc != db::kOk) fail(rc);
  const db::Header& h = t.header();
  std::string s;
  s += std::string("magic: ") + (h.protectedFile ? "WCDB" : "WKDB") + "\n";
  s += "version: " + std::to_string(h.version) + "\n";
  s += "created: " + rt::gbkToUtf8(rt::dateTimeToText(h.created)) + "\n";
  s += "records: " + std::to_string(count) + "\n";
  s += "next serial: " + std::to_string(serial) + "\n";
  s += "record size: " + std::to_string(h.recordSize) + "\n";
  s += "fields: " + std::to_string(t.fields().size()) + "\n";
  for (size_t i = 0; i < t.fields().size(); ++i) {
    const db::Field& f = t.fields()[i];
    s += "field " + std::to_string(i + 1) + ": " + rt::gbkToUtf8(f.name) + " kind " + std::to_string(f.kind) +
         " offset " + std::to_string(f.offset) + " size " + std::to_string(f.width) + "\n";
  }
  out(s);
  return 0;
}

// Prints every record it can read; a record with a field it cannot read
// is named on standard error instead, and the exit status is then 1.
[[nodiscard]] int cmdDump(const std::string& file, bool csv, kdbtool::Amounts amounts) {
  db::Table& t = openTableFile(file, true);
  if (csv) {
    std::string head = "serial";
    for (const db::Field& f : t.fields()) {
      head += ',';
      head += csvCell(rt::gbkToUtf8(f.name));
    }
    out(head + "\r\n");
  }
  int unreadable = 0;
  int rc = t.scan(0, true, [&](int32_t pos, uint8_t* rec) {
    std::string line = std::to_string(db::getI32(rec));
    for (const db::Field& f : t.fields()) {
      std::string v;
      int code = 0;
      if (!fieldText(t, f, rec, amounts, &v, &code)) {
        ++unreadable;
        std::string msg = "record " + std::to_string(pos + 1) + " field " + rt::gbkToUtf8(f.name) + ": " +
                          std::to_string(code) + " " + rt::gbkToUtf8(db::errorText(code)) + "\n";
        std::fputs(msg.c_str(), stderr);
        return 0;
      }
      line += csv ? ',' : '\t';
      line += csv ? csvCell(v) : v;
    }
    out(line + (csv ? "\r\n" : "\n"));
    return 0;
  });
  if (rc != db::kOk) fail(rc);
  return unreadable ? 1 : 0;
}

// --- stock-audit --------------------------------------------------------------

// A batch as the catalogue ("ypjbxx") and the stock journal ("kcls") name
// it: code, name, batch number (GBK).
using BatchKey = std::tuple<std::string, std::string, std::string>;

struct Audited {
  int64_t catalogue = 0;  // sum of `shl` over the catalogue's records of the batch
  bool inCatalogue = false;
  int64_t journal = 0;  // stock before its first entry + every change since
  bool inJournal = false;
};

// A field of a record image by name: its index, or the program stops with
// the table named (a table of another layout is not audited).
const db::Field& fieldNamed(db::Table& t, const char* name, const std::string& table) {
  const int i = t.fieldIndex(name);
  if (i < 0) {
    std::fputs((table + ": no field " + name + "\n").c_str(), stderr);
    std::exit(1);
  }
  return t.fields()[size_t(i)];
}

std::string textOf(db::Table& t, const db::Field& f, const uint8_t* rec) {
  rt::Arg v;
  const int rc = t.loadValue(f, rec, &v);
  rt::Result owned(v);
  if (rc != db::kOk) fail(rc);
  return v.kind == rt::kText ? std::string(rt::textValue(v)) : rt::valueToText(v);
}

int64_t numberOf(db::Table& t, const db::Field& f, const uint8_t* rec) {
  rt::Arg v;
  const int rc = t.loadValue(f, rec, &v);
  rt::Result owned(v);
  double d = 0;
  if (rc != db::kOk) fail(rc);
  if (!rt::numericValue(v, &d)) fail(db::kFieldKindWrong);
  return int64_t(d);
}

// Every charge line against the journal: each line of a charge table that
// the journal's entries name has exactly one charge entry (住院记帐 or
// 门诊记帐 naming its table and serial) and no 删除退回; each line gone has
// both or neither. A line whose stock step is still in flight is seen
// without its entry for a moment, so differences are looked at again
// twice, a second apart, before they are told. Tables no entry names
// (lines from before entries named their lines) are counted, not checked.
// Returns the number of differences told.
[[nodiscard]] int auditLines(const std::string& dir) {
  const std::string charges[] = {rt::utf8ToGbk("住院记帐"), rt::utf8ToGbk("门诊记帐")};
  const std::string returned = rt::utf8ToGbk("删除退回");
  std::vector<std::string> told;
  int unchecked = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    told.clear();
    unchecked = 0;
    db::closeAllDatabases();
    db::Table& jn = openTableFile((std::filesystem::path(dir) / "kcls").string(), true);
    if (jn.fieldIndex("mxb") < 0 || jn.fieldIndex("mxh") < 0) {
      out("库存流水为旧格式，未核对收费明细\n");
      return 0;
    }
    struct Count {
      int charged = 0, returned = 0;
    };
    std::map<std::string, std::map<int32_t, Count>> lines;  // table (lower case) -> serial -> entries
    const db::Field& mxb = fieldNamed(jn, "mxb", "kcls");
    const db::Field& mxh = fieldNamed(jn, "mxh", "kcls");
    const db::Field& yy = fieldNamed(jn, "yy", "kcls");
    auto lower = [](std::string t) {
      std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return char(std::tolower(c)); });
      return t;
    };
    int rc = jn.scan(0, true, [&](int32_t, uint8_t* rec) {
      if (db::getI32(rec) < 0) return 0;
      const std::string table = textOf(jn, mxb, rec);
      if (table.empty()) return 0;
      const std::string why = textOf(jn, yy, rec);
      Count& c = lines[lower(table)][int32_t(numberOf(jn, mxh, rec))];
      if (why == charges[0] || why == charges[1])
        ++c.charged;
      else if (why == returned)
        ++c.returned;
      return 0;
    });
    if (rc != db::kOk) fail(rc);
    db::closeAllDatabases();
    std::vector<std::string> tables;
    if ((rc = kdbtool::listTables(dir, &tables)) != db::kOk) fail(rc);
    for (const std::string& file : tables) {
      const std::string name = lower(file.substr(0, file.size() - 4));
      db::Table& t = openTableFile((std::filesystem::path(dir) / file).string(), true);
      static const char* const kLineFields[] = {"shj", "mch", "lb", "bx", "shl", "dw", "dj", "hj", "cf", "shf"};
      bool chargeLines = t.fields().size() == std::size(kLineFields);
      for (size_t i = 0; chargeLines && i < std::size(kLineFields); ++i)
        chargeLines = db::equalsNoCase(t.fields()[i].name, kLineFields[i]);
      if (!chargeLines) {
        db::closeAllDatabases();
        continue;
      }
      auto named = lines.find(name);
      std::map<int32_t, Count> none;
      std::map<int32_t, Count>& entries = named != lines.end() ? named->second : none;
      std::set<int32_t> live;
      rc = t.scan(0, true, [&](int32_t, uint8_t* rec) {
        if (db::getI32(rec) > 0) live.insert(db::getI32(rec));
        return 0;
      });
      if (rc != db::kOk) fail(rc);
      if (named == lines.end()) {
        unchecked += int(live.size());
        db::closeAllDatabases();
        continue;
      }
      const std::string shown = rt::gbkToUtf8(file.substr(0, file.size() - 4));
      for (int32_t serial : live) {
        const Count c = entries.count(serial) ? entries[serial] : Count{};
        if (c.charged == 1 && c.returned == 0) continue;
        told.push_back(shown + " 明细 " + std::to_string(serial) + ": 记帐流水 " + std::to_string(c.charged) +
                       " 条，退回流水 " + std::to_string(c.returned) + " 条（应为 1 条记帐、无退回）\n");
      }
      for (const auto& [serial, c] : entries) {
        if (live.count(serial) || (c.charged == 1 && c.returned == 1) || (c.charged == 0 && c.returned == 0)) continue;
        told.push_back(shown + " 明细 " + std::to_string(serial) + "（已删除）: 记帐流水 " + std::to_string(c.charged) +
                       " 条，退回流水 " + std::to_string(c.returned) + " 条（应各 1 条）\n");
      }
      lines.erase(named);
      db::closeAllDatabases();  // one table open at a time, whatever the folder holds
    }
    // Entries naming a table that is not there at all.
    for (const auto& [table, entries] : lines)
      for (const auto& [serial, c] : entries)
        if (c.charged != c.returned)
          told.push_back(rt::gbkToUtf8(table) + " 明细 " + std::to_string(serial) + ": 收费表不存在，记帐流水 " +
                         std::to_string(c.charged) + " 条，退回流水 " + std::to_string(c.returned) + " 条\n");
    if (told.empty()) break;
    if (attempt < 2) ::sleep(1);
  }
  for (const std::string& line : told) out(line);
  if (unchecked > 0) out(std::to_string(unchecked) + " 条收费明细所在的收费表没有任何流水指明，未逐条核对\n");
  if (told.empty())
    out("收费明细与流水一致\n");
  else
    out("收费明细与流水不一致：" + std::to_string(told.size()) +
        " 处（若有工作站尚有待补记的库存变动，补记后再核对）\n");
  return int(told.size());
}

// A stock change the journal cannot explain: a 目录修改 entry that moved
// stock and has no opposite half (a rename) by the same user at the same
// workstation.
struct Unexplained {
  BatchKey batch;
  int64_t change = 0;
  std::string when;
};
using Renames = std::map<std::tuple<std::string, std::string, int64_t>, std::vector<Unexplained>>;

// Step 1 of cmdStockAudit: the catalogue's stock per batch.
void readCatalogueStock(db::Table& cat, std::map<BatchKey, Audited>* batches) {
  const db::Field& dm = fieldNamed(cat, "dm", "ypjbxx");
  const db::Field& mch = fieldNamed(cat, "mch", "ypjbxx");
  const db::Field& ph = fieldNamed(cat, "ph", "ypjbxx");
  const db::Field& shl = fieldNamed(cat, "shl", "ypjbxx");
  const int rc = cat.scan(0, true, [&](int32_t, uint8_t* rec) {
    if (db::getI32(rec) < 0) return 0;  // marked deleted
    Audited& a = (*batches)[{textOf(cat, dm, rec), textOf(cat, mch, rec), textOf(cat, ph, rec)}];
    a.catalogue += numberOf(cat, shl, rec);
    a.inCatalogue = true;
    return 0;
  });
  if (rc != db::kOk) fail(rc);
}

// Step 2 of cmdStockAudit: the stock the journal implies per batch, and
// its 目录修改 entries that moved stock without a matching other half. A
// catalogue change in the drug window moves stock only as a typed stock
// (手工调整) or as a batch renamed: its stock out of the old batch and
// into the new one, two 目录修改 entries of opposite changes by the same
// user at the same workstation.
void readJournalStock(db::Table& jn, std::map<BatchKey, Audited>* batches, Renames* renames) {
  const std::string catalogueModify = rt::utf8ToGbk("目录修改");
  const db::Field& dm = fieldNamed(jn, "dm", "kcls");
  const db::Field& mch = fieldNamed(jn, "mch", "kcls");
  const db::Field& ph = fieldNamed(jn, "ph", "kcls");
  const db::Field& bd = fieldNamed(jn, "bd", "kcls");
  const db::Field& kc = fieldNamed(jn, "kc", "kcls");
  const db::Field& yy = fieldNamed(jn, "yy", "kcls");
  const db::Field& czy = fieldNamed(jn, "czy", "kcls");
  const db::Field& gzz = fieldNamed(jn, "gzz", "kcls");
  const db::Field& sj = fieldNamed(jn, "sj", "kcls");
  const int rc = jn.scan(0, true, [&](int32_t, uint8_t* rec) {
    if (db::getI32(rec) < 0) return 0;
    BatchKey key{textOf(jn, dm, rec), textOf(jn, mch, rec), textOf(jn, ph, rec)};
    Audited& a = (*batches)[key];
    const int64_t change = numberOf(jn, bd, rec);
    if (!a.inJournal) a.journal = numberOf(jn, kc, rec) - change;
    a.journal += change;
    a.inJournal = true;
    if (change != 0 && textOf(jn, yy, rec) == catalogueModify) {
      const std::string user = textOf(jn, czy, rec), where = textOf(jn, gzz, rec);
      // The other half of a rename waiting for this one?
      auto other = renames->find({user, where, -change});
      if (other != renames->end() && !other->second.empty()) {
        other->second.erase(other->second.begin());
      } else {
        (*renames)[{user, where, change}].push_back({key, change, textOf(jn, sj, rec)});
      }
    }
    return 0;
  });
  if (rc != db::kOk) fail(rc);
}

// Step 3 of cmdStockAudit: each unexplained change named; their number.
int tellUnexplained(const Renames& renames) {
  int unexplained = 0;
  for (const auto& [who, entries] : renames)
    for (const Unexplained& e : entries) {
      ++unexplained;
      const auto& [dm, mch, ph] = e.batch;
      out(rt::gbkToUtf8(dm) + " " + rt::gbkToUtf8(mch) + " 批号 " + rt::gbkToUtf8(ph) + ": " + rt::gbkToUtf8(e.when) +
          " 目录修改改动库存 " + std::to_string(e.change) + "，未注明手工调整\n");
    }
  return unexplained;
}

// Step 4 of cmdStockAudit: each batch whose stock differs from what the
// journal implies named; their number.
int tellDrifts(const std::map<BatchKey, Audited>& batches) {
  int drifts = 0, unjournalled = 0;
  for (const auto& [key, a] : batches) {
    if (!a.inJournal) {
      unjournalled += a.catalogue != 0;
      continue;
    }
    const int64_t implied = a.journal;
    if ((a.inCatalogue ? a.catalogue : 0) == implied) continue;
    ++drifts;
    const auto& [dm, mch, ph] = key;
    std::string line = rt::gbkToUtf8(dm) + " " + rt::gbkToUtf8(mch) + " 批号 " + rt::gbkToUtf8(ph) + ": ";
    line += a.inCatalogue ? "目录 " + std::to_string(a.catalogue) : std::string("目录中没有");
    line += "，流水 " + std::to_string(implied);
    line += "，相差 " + std::to_string((a.inCatalogue ? a.catalogue : 0) - implied) + "\n";
    out(line);
  }
  if (unjournalled > 0) out(std::to_string(unjournalled) + " 个有库存的批次尚无流水记录（流水开始以来未变动）\n");
  return drifts;
}

// Step 6 of cmdStockAudit: the trail's own continuity, every number from
// its first entry to its last, a gap named. True when whole.
bool trailWhole(const std::string& dir) {
  std::vector<int> missing;
  std::string gaps;
  if (const int trailRead = kdbtool::trailGaps(dir, &missing, &gaps); trailRead != 0) {
    out("操作记录 czjl 无法读取：" + kdbtool::codeText(trailRead) + "\n");
    return false;
  }
  out(gaps);
  return missing.empty();
}

// For each batch, the stock the journal implies against the catalogue's:
// the journal's first entry of a batch gives its stock before (stock after
// less the change), every entry adds its change. Entries of a batch the
// catalogue no longer holds must add up to 0. A batch with stock but no
// entry at all (kept since before the journal began, never moved) has
// nothing to be checked against: it is counted, not a drift. Both tables
// are read while the catalogue is held whole: no workstation changes a
// stock (or appends its entry, which it does under the record's lock)
// meanwhile.
//   1. the catalogue's stock per batch;
//   2. the journal's, with the 目录修改 entries it cannot explain;
//   3. those named;
//   4. the batches that differ named;
//   5. each charge line against its journal entries (auditLines);
//   6. the trail's continuity.
[[nodiscard]] int cmdStockAudit(const std::string& dir) {
  namespace fs = std::filesystem;
  const std::string catalogueFile = (fs::path(dir) / "ypjbxx").string();
  const std::string journalFile = (fs::path(dir) / "kcls").string();
  db::Table& cat = openTableFile(catalogueFile, true);
  db::Table* jn = nullptr;
  std::string existing;
  if (db::resolveExisting(db::withDefaultExtension(journalFile), &existing)) jn = &openTableFile(journalFile, true);
  std::map<BatchKey, Audited> batches;
  Renames renames;
  if (const int rc = cat.lockWhole(); rc != db::kOk) fail(rc);
  readCatalogueStock(cat, &batches);
  if (jn) readJournalStock(*jn, &batches, &renames);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(cat.unlockWhole());
  const int unexplained = tellUnexplained(renames);
  const int drifts = tellDrifts(batches);
  const int lineDifferences = jn ? auditLines(dir) : 0;
  const bool whole = trailWhole(dir);
  if (unexplained > 0) out("未注明原因的目录修改改动了库存：" + std::to_string(unexplained) + " 条流水\n");
  if (drifts == 0 && unexplained == 0) {
    out("库存与流水一致：" + std::to_string(batches.size()) + " 个批次\n");
    return lineDifferences == 0 && whole ? 0 : 1;
  }
  if (drifts > 0) out("库存与流水不一致：" + std::to_string(drifts) + " 个批次\n");
  return 1;
}

[[nodiscard]] int cmdCreate(const std::string& file, const std::vector<std::string>& defs) {
  std::vector<db::FieldDef> fields;
  for (const std::string& s : defs) {
    size_t c1 = s.find(':');
    if (c1 == std::string::npos) usage();
    size_t c2 = s.find(':', c1 + 1);
    db::FieldDef f;
    f.name = rt::utf8ToGbk(s.substr(0, c1));
    f.kind = std::atoi(s.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1).c_str());
    f.size = c2 == std::string::npos ? 0 : std::atoi(s.substr(c2 + 1).c_str());
    fields.push_back(f);
  }
  std::string path = db::withDefaultExtension(file), existing;
  if (db::resolveExisting(path, &existing)) path = existing;
  std::string digest = db::passwordDigest(g_password);
  int rc = db::createDatabase(path, fields, g_password.empty() ? nullptr : &digest);
  if (rc != db::kOk) fail(rc);
  return 0;
}

bool parseHex(const std::string& s, std::string* bytes) {
  if (s.size() % 2) return false;
  auto nib = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < s.size(); i += 2) {
    int a = nib(s[i]), b = nib(s[i + 1]);
    if (a < 0 || b < 0) return false;
    bytes->push_back(char(a * 16 + b));
  }
  return true;
}

[[nodiscard]] int cmdAppend(const std::string& file, const std::vector<std::string>& values) {
  db::Table& t = openTableFile(file, false);
  std::vector<rt::Arg> args;
  std::vector<std::string> texts(values.size());
  std::vector<void*> blocks;
  for (size_t i = 0; i < values.size() && i < t.fields().size(); ++i) {
    const db::Field& f = t.fields()[i];
    texts[i] = rt::utf8ToGbk(values[i]);
    const std::string& v = texts[i];
    rt::Arg a;
    switch (f.kind) {
      case db::kFBool:
        if (v == GBK("真") || v == "1")
          a = rt::makeBool(true);
        else if (v == GBK("假") || v == "0")
          a = rt::makeBool(false);
        else
          fail(db::kValueKindMismatch);
        break;
      case db::kFDateTime: {
        double d = rt::textToDateTime(v);
        if (d == rt::kNoDate) fail(db::kValueKindMismatch);
        a = rt::makeDateTime(d);
        break;
      }
      case db::kFSubPtr:
        a.kind = rt::kSubPtr;
        a.lo = uint32_t(int64_t(rt::textToNumber(v)));
        break;
      case db::kFText:
      case db::kFMemo:
        a = rt::makeTextRef(v.empty() ? nullptr : v.c_str());
        break;
      case db::kFBytes: {
        std::string bytes;
        if (!parseHex(values[i], &bytes)) fail(db::kValueKindMismatch);
        void* b = rt::makeByteSet(bytes.data(), bytes.size());
        blocks.push_back(b);
        a = rt::makePointer(b, rt::kBytes);
        break;
      }
      default:
        a = rt::makeDouble(rt::textToNumber(v));
        break;
    }
    args.push_back(a);
  }
  bool ok = rt::call(rt::Cmd::AppendRecord, int(args.size()), args.data()).lo != 0;
  for (void* b : blocks) rt::free(b);
  if (!ok) fail(db::lastError());
  return 0;
}

const db::Field& needField(db::Table& t, const std::string& utf8Name) {
  int i = t.fieldIndex(rt::utf8ToGbk(utf8Name));
  if (i < 0) fail(db::kFieldNotFound);
  return t.fields()[size_t(i)];
}

// "FIELD=TEXT" as an exact text-equality condition on the record examined.
struct Equality {
  std::string field;  // GBK
  std::string text;   // GBK
  bool fixedText = false;
  rt::Arg operator()() const {
    if (fixedText) return rt::makeBool(db::fieldTextEquals(field.c_str(), text));
    rt::Result v = cmd::ReadField(field.c_str());
    return rt::makeBool(rt::valueToText(v.arg()) == text);
  }
};

Equality parseEquality(db::Table& t, const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) usage();
  const db::Field& f = needField(t, arg.substr(0, eq));
  return Equality{f.name, rt::utf8ToGbk(arg.substr(eq + 1)), f.kind == db::kFText};
}

// The sum of a numeric field: integers exactly, amounts (float fields) as
// the exact sum of every value's nearest fen, doubles added in double.
[[nodiscard]] int cmdSum(const std::string& file, const std::string& field, const std::string* where) {
  db::Table& t = openTableFile(file, true);
  const db::Field& f = needField(t, field);
  if (f.kind < db::kFByte || f.kind > db::kFDouble) fail(db::kFieldKindWrong);
  const bool amounts = f.kind == db::kFFloat;
  std::string name = f.name;
  // Fen are whole numbers, so their sum in double is exact up to 2^53 fen.
  auto value = [&] {
    rt::Result v = cmd::ReadField(name.c_str());
    if (!amounts || v.kind() != rt::kFloat) return v.release();
    return rt::makeDouble(double(rt::fenOf(rt::floatValue(v.arg()))));
  };
  rt::Expr valueExpr(value);
  double sum;
  if (where) {
    Equality cond = parseEquality(t, *where);
    rt::Expr condExpr(cond);
    sum = cmd::SumRecords(valueExpr.arg(), condExpr.arg());
  } else {
    sum = cmd::SumRecords(valueExpr.arg());
  }
  if (db::lastError() != db::kOk) fail(db::lastError());
  if (amounts)
    out(rt::fenText(int64_t(sum)) + "\n");
  else if (f.kind == db::kFDouble)
    out(kdbtool::shortestText(sum) + "\n");
  else
    out(std::to_string(int64_t(sum)) + "\n");
  return 0;
}

[[nodiscard]] int cmdFind(const std::string& file, const std::string& eq) {
  db::Table& t = openTableFile(file, true);
  Equality cond = parseEquality(t, eq);
  rt::Expr condExpr(cond);
  cmd::MoveFirst();
  if (cmd::FindRecord(condExpr.arg())) {
    out(std::to_string(t.position + 1) + "\n");
    return 0;
  }
  if (db::lastError() != db::kOk) fail(db::lastError());
  return 1;
}

// --- check, repair, delete, pack -------------------------------------------

std::string chainName(db::Table& t, int32_t record, int field) {
  if (record == 0) return "free list";
  return "record " + std::to_string(record) + " field " + rt::gbkToUtf8(t.fields()[size_t(field)].name);
}

std::string faultText(db::Table& t, const db::ChainReport& r, const db::ChainFault& f) {
  std::string s = chainName(t, f.record, f.field) + ": ";
  std::string b = "block " + std::to_string(f.block);
  switch (f.kind) {
    case db::ChainFaultKind::kPastEnd:
      return s + b + " is past the end of the file (" + std::to_string(r.blocks) + " blocks)";
    case db::ChainFaultKind::kLoop:
      return s + b + " comes round again (a loop)";
    case db::ChainFaultKind::kBadUsed:
      return s + b + " has a used-byte count outside 0..500";
    case db::ChainFaultKind::kCrossLink:
      return s + b + " also belongs to " + chainName(t, f.otherRecord, f.otherField);
    case db::ChainFaultKind::kOnFreeList:
      return s + b + " is on the free list";
    case db::ChainFaultKind::kTorn:
      return s + b + " does not continue the value (cut short while it was written)";
  }
  return s;
}

std::string unusedNote(const db::ChainReport& r) { return std::to_string(r.unused) + " blocks belong to no value"; }

// What is not as the header says but puts no value at risk.
std::string headerNotes(const db::ChainReport& r) {
  std::string notes;
  if (r.headerFree != r.freeBlocks)
    notes += "free list: " + std::to_string(r.freeBlocks) + " blocks, the header says " + std::to_string(r.headerFree) +
             "\n";
  if (r.headerBlocks != r.blocks)
    notes += "the header counts " + std::to_string(r.headerBlocks) + " blocks, the file holds " +
             std::to_string(r.blocks) + "\n";
  return notes;
}

// Opens read-only (the header, descriptors and size are checked there),
// then walks every memo chain and the free list. Status 1 when anything
// is wrong.
[[nodiscard]] int cmdCheck(const std::string& file) {
  db::Table& t = openTableFile(file, true);
  db::ChainReport r;
  int rc = db::checkChains(t, &r);
  for (const db::ChainFault& f : r.faults) out(faultText(t, r, f) + "\n");
  if (rc != db::kOk) fail(rc);
  const std::string notes = headerNotes(r);
  out(notes);
  if (db::valuesAtRisk(r)) {
    out(std::to_string(r.faults.size()) + " faults; repair drops the damaged values\n");
    return 1;
  }
  // Only free space lost or miscounted (a write stopped half-way): no
  // value is at risk.
  if (r.unused)
    out("ok (" + unusedNote(r) + "; repair frees them)\n");
  else
    out(notes.empty() && r.faults.empty() ? "ok\n" : "ok (no value at risk; repair rebuilds the free list)\n");
  return 0;
}

// Opens read-write (which repairs the count and finishes an interrupted
// pack), then drops every damaged chain and rebuilds the free list. Says
// what it dropped.
[[nodiscard]] int cmdRepair(const std::string& file) {
  std::string path = db::withDefaultExtension(file), existing;
  if (db::resolveExisting(path, &existing)) path = existing;
  const db::SizeFault fault = db::sizeFaultOf(path);
  // Opened for mending: a damaged count is raised, a short auxiliary file
  // or a free list reaching a live value is let through to be mended here;
  // an interrupted pack is completed by the opening itself.
  db::OpenOptions o;
  o.password = g_password;
  o.repairing = true;
  std::unique_ptr<db::Table> owned;
  if (int rc = db::Table::open(path, o, &owned); rc != db::kOk) failOpen(file, rc);
  db::Table& t = *owned;
  if (fault == db::SizeFault::kPackUnfinished) {
    int32_t n = 0;
    if (int rc = t.readCount(&n); rc != db::kOk) fail(rc);
    out("completed an interrupted pack: " + std::to_string(n) + " records\n");
  }
  if (t.restoredFromCount() >= 0)
    out("record count restored from " + std::to_string(t.restoredFromCount()) + " to " +
        std::to_string(t.header().count) + " (the whole records the file holds)\n");
  db::ChainReport r;
  int rc = db::repairChains(t, &r);
  for (const db::ChainFault& f : r.faults) out(faultText(t, r, f) + "\n");
  for (const auto& [record, field] : r.dropped) out(chainName(t, record, field) + ": value dropped\n");
  if (r.unused && r.freeListRebuilt) out(unusedNote(r) + ": freed\n");
  if (rc != db::kOk) fail(rc);
  out(r.freeListRebuilt ? "repaired: " + std::to_string(r.dropped.size()) + " values dropped, free list rebuilt\n"
                        : std::string("ok\n"));
  return 0;
}

[[nodiscard]] int cmdDelete(const std::string& file, const std::string& where) {
  db::Table& t = openTableFile(file, false);
  Equality cond = parseEquality(t, where);
  int marked = 0;
  auto counting = [&] {
    rt::Arg hit = cond();
    if (hit.lo && t.scanRecord() && db::getI32(t.scanRecord()) > 0) ++marked;
    return hit;
  };
  rt::Expr condExpr(counting);
  if (!cmd::DeleteRecords(condExpr.arg())) fail(db::lastError());
  out(std::to_string(marked) + " records marked deleted\n");
  return 0;
}

[[nodiscard]] int cmdPack(const std::string& file) {
  openTableFile(file, false);
  int before = cmd::RecordCount();
  if (!cmd::PackDatabase()) fail(db::lastError());
  int after = cmd::RecordCount();
  if (db::lastError() != db::kOk) fail(db::lastError());
  out("kept " + std::to_string(after) + " of " + std::to_string(before) + " records\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  db::registerDatabaseCommands();
  std::vector<std::string> a(argv + 1, argv + argc);
  size_t i = 0;
  if (i + 1 < a.size() && a[i] == "--password") {
    g_password = rt::utf8ToGbk(a[i + 1]);
    i += 2;
  }
  if (i >= a.size()) usage();
  std::string sub = a[i++];
  std::vector<std::string> rest(a.begin() + long(i), a.end());
  if (sub == "info" && rest.size() == 1) return cmdInfo(rest[0]);
  if (sub == "dump" && !rest.empty()) {
    bool csv = false, exact = false;
    for (size_t k = 0; k + 1 < rest.size(); ++k) {
      if (rest[k] == "--csv" && !csv)
        csv = true;
      else if (rest[k] == "--exact" && !exact)
        exact = true;
      else
        usage();
    }
    return cmdDump(rest.back(), csv, exact ? kdbtool::Amounts::kExact : kdbtool::Amounts::kToTheFen);
  }
  if (sub == "check" && rest.size() == 1) return cmdCheck(rest[0]);
  if (sub == "repair" && rest.size() == 1) return cmdRepair(rest[0]);
  if (sub == "create" && rest.size() >= 2)
    return cmdCreate(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
  if (sub == "append" && rest.size() >= 1)
    return cmdAppend(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
  if (sub == "sum" && rest.size() == 2) return cmdSum(rest[0], rest[1], nullptr);
  if (sub == "sum" && rest.size() == 4 && rest[2] == "--where") return cmdSum(rest[0], rest[1], &rest[3]);
  if (sub == "find" && rest.size() == 2) return cmdFind(rest[0], rest[1]);
  if (sub == "delete" && rest.size() == 3 && rest[1] == "--where") return cmdDelete(rest[0], rest[2]);
  if (sub == "pack" && rest.size() == 1) return cmdPack(rest[0]);
  if (sub == "backup") return kdbtool::backupCommand(rest);
  if (sub == "verify") return kdbtool::verifyCommand(rest);
  if (sub == "init-folder") return kdbtool::initFolderCommand(rest);
  if (sub == "restore") return kdbtool::restoreCommand(rest);
  if (sub == "export") return kdbtool::exportCommand(rest, g_password);
  if (sub == "stock-audit" && rest.size() == 1) return cmdStockAudit(rest[0]);
  if (sub == "trail") return kdbtool::trailCommand(rest);
  usage();
}
