#include "app/tables.h"

#include <iterator>
#include <span>
#include <array>
#include <string_view>
#include <vector>

#include "db/facade.h"
#include "db/format.h"
#include "db/table.h"
#include "runtime/gbk.h"

namespace app {
namespace {

constexpr int32_t kUnsized = 20;

constexpr FieldDef kDrugFields[] = {
    {"dm", kText, 15},
    {"mch", kText, 30},
    {"bm", kText, 100},
    {"lb", kText, 6},
    {"bx", kText, 6},
    {"ph", kText, 15},
    {"gg", kText, 10},
    {"shch", kDateTime, kUnsized},
    {"yx", kDateTime, kUnsized},
    {"chd", kText, 100},
    {"dw", kText, 6},
    {"shl", kInteger, kUnsized},
    {"jj", kFloat, kUnsized},
    {"jh", kFloat, kUnsized},
    {"xj", kFloat, kUnsized},
    {"xh", kFloat, kUnsized},
};

constexpr FieldDef kInpatientFields[] = {
    {"xm", kText, 6},
    {"xb", kText, 2},
    {"nl", kInteger, kUnsized},
    {"zh", kText, 10},
    {"sj", kDateTime, kUnsized},
    {"bz", kText, 100},
    {"zyh", kText, 10},
    {"ks", kText, 10},
    {"cwh", kText, 5},
    {"ys", kText, 6},
    {"yfk", kInteger, kUnsized},
};

constexpr FieldDef kUserFields[] = {{"use", kText, 10}, {"ma", kText, 10}};

constexpr FieldDef kChargeFields[] = {
    {"shj", kDateTime, kUnsized},
    {"mch", kText, 30},
    {"lb", kText, 6},
    {"bx", kText, 6},
    {"shl", kInteger, kUnsized},
    {"dw", kText, 6},
    {"dj", kFloat, kUnsized},
    {"hj", kFloat, kUnsized},
    {"cf", kText, 10},
    {"shf", kText, 10},
};

// The category amounts follow the system's fixed category order.
constexpr FieldDef kBillFields[] = {
    {"shj", kDateTime, kUnsized}, {"chf", kText, 10},         {"ps", kFloat, kUnsized},  {"pj", kFloat, kUnsized},
    {"pss", kFloat, kUnsized},    {"pzc", kFloat, kUnsized},  {"psy", kFloat, kUnsized}, {"pzl", kFloat, kUnsized},
    {"phy", kFloat, kUnsized},    {"pqt", kFloat, kUnsized},  {"pzy", kFloat, kUnsized}, {"pfs", kFloat, kUnsized},
    {"psx", kFloat, kUnsized},    {"pzhy", kFloat, kUnsized}, {"pln", kFloat, kUnsized}, {"pjs", kFloat, kUnsized},
    {"pye", kFloat, kUnsized},    {"pyl", kFloat, kUnsized},  {"pjh", kFloat, kUnsized}, {"phj", kFloat, kUnsized},
};

constexpr FieldDef kPostingFields[] = {
    {"c1", kFloat, kUnsized},  {"c2", kFloat, kUnsized},  {"c3", kFloat, kUnsized},  {"c4", kFloat, kUnsized},
    {"c5", kFloat, kUnsized},  {"c6", kFloat, kUnsized},  {"c7", kFloat, kUnsized},  {"c8", kFloat, kUnsized},
    {"c9", kFloat, kUnsized},  {"c10", kFloat, kUnsized}, {"c11", kFloat, kUnsized}, {"c12", kFloat, kUnsized},
    {"c13", kFloat, kUnsized}, {"c14", kFloat, kUnsized}, {"c15", kFloat, kUnsized}, {"c16", kFloat, kUnsized},
    {"zy", kText, 10},
};

// Who changed which batch's stock, when, by how much, to what, why, and
// the inpatient number or prescription it belongs to; then the operation
// it was made by and the charge line it goes with (table and serial).
// Journals made before the last three fields have the first ten.
constexpr FieldDef kStockJournalFields[] = {
    {"sj", kDateTime, kUnsized}, {"czy", kText, 10},         {"gzz", kText, 30},
    {"dm", kText, 15},           {"mch", kText, 30},         {"ph", kText, 15},
    {"bd", kInteger, kUnsized},  {"kc", kInteger, kUnsized}, {"yy", kText, 8},
    {"hm", kText, 10},           {"czh", kText, 16},         {"mxb", kText, 12},
    {"mxh", kInteger, kUnsized},
};

// Who may do what: the user's name, then one field per right. The five
// windows and the three yes/no rights hold 1 (may) or 0 (may not); `sc`
// (deleting a charge line) 0 never, 1 only before the line's bill is
// printed, 2 always.
constexpr FieldDef kRightsFields[] = {
    {"use", kText, 10},         {"yp", kInteger, kUnsized}, {"zy", kInteger, kUnsized}, {"zp", kInteger, kUnsized},
    {"mz", kInteger, kUnsized}, {"bb", kInteger, kUnsized}, {"sc", kInteger, kUnsized}, {"gz", kInteger, kUnsized},
    {"ml", kInteger, kUnsized}, {"yh", kInteger, kUnsized},
};

// One action: its number in the trail (1, 2, 3, ... with no gap), when,
// who, where, what kind, which table and record (by serial), the values
// before and after ("field=value; ..."), and the operation it was made by.
constexpr FieldDef kTrailFields[] = {
    {"xh", kInteger, kUnsized}, {"sj", kDateTime, kUnsized}, {"czy", kText, 10}, {"gzz", kText, 30}, {"lx", kText, 8},
    {"bm", kText, 12},          {"jlh", kInteger, kUnsized}, {"yz", kText, 500}, {"xz", kText, 500}, {"czh", kText, 16},
};

std::string period(const char* prefix, rt::DateTime when, bool withMonth) {
  std::string name = prefix + cmd::ToText(cmd::YearOf(when));
  if (withMonth) name += cmd::ToText(cmd::MonthOf(when));
  return name;
}

}  // namespace

const char* const kCategories[kCategoryCount] = {
    "西药", "检查", "手术", "中成", "输氧", "治疗", "化验", "其它", "中草",
    "放射", "输血", "住院", "冷暖", "接生", "婴儿", "医疗", "监护",
};

const std::string& categoryName(int category) {
  static const std::array<std::string, kCategoryCount> names = [] {
    std::array<std::string, kCategoryCount> gbk;
    for (int i = 0; i < kCategoryCount; ++i) gbk[size_t(i)] = rt::utf8ToGbk(kCategories[i]);
    return gbk;
  }();
  return names.at(size_t(category));
}

static_assert(std::size(kBillFields) == 2 + kCategoryCount + 1, "date, number, categories, total");

const char* billAmountField(int category) { return kBillFields[2 + category].name; }

const TableDef kDrugCatalogue{"drug catalogue", kDrugFields};
const TableDef kInpatients{"inpatient register", kInpatientFields};
const TableDef kUsers{"user list", kUserFields};
const TableDef kChargeLines{"charge lines", kChargeFields};
const TableDef kBills{"yearly bills", kBillFields};
const TableDef kPostings{"monthly postings", kPostingFields};
const TableDef kStockJournal{"stock journal", kStockJournalFields};
const TableDef kStockJournalWithoutOperations{"stock journal", std::span(kStockJournalFields).first(10)};
const TableDef kRights{"user rights", kRightsFields};
const TableDef kTrail{"trail", kTrailFields};

namespace {

// What each field of the program's tables means, in field order (UTF-8),
// for the record-edit dialog: staff correcting a posting see "c3  医师丙"
// rather than a bare code.
constexpr const char* kDrugMeanings[] = {
    "药品代码", "药品名称", "药品别名", "类别", "报销", "批号",     "药品规格", "生产日期",
    "有效日期", "产地",     "单位",     "数量", "进价", "进价金额", "售价",     "售价金额",
};
constexpr const char* kInpatientMeanings[] = {
    "姓名", "性别", "年龄", "医保证号", "住院时间", "病种", "住院号", "科室", "床位号", "主治医师", "预付款",
};
constexpr const char* kUserMeanings[] = {"用户名", "密码"};
constexpr const char* kChargeMeanings[] = {
    "使用时间", "药品名称", "类别", "报销", "数量", "单位", "单价", "合计", "处方号", "收费员",
};
constexpr const char* kStockJournalMeanings[] = {
    "时间",       "操作员", "工作站",         "药品代码", "药品名称", "批号",     "变动数量",
    "变动后库存", "原因",   "住院号或处方号", "操作号",   "收费表",   "明细序号",
};
constexpr const char* kRightsMeanings[] = {
    "用户名",
    "药品库存(1可 0否)",
    "住院信息(1可 0否)",
    "住院票据(1可 0否)",
    "门诊用药(1可 0否)",
    "报表管理(1可 0否)",
    "删除收费明细(0不可 1票据打印前 2随时)",
    "更正报表数据(1可 0否)",
    "增改删药品目录(1可 0否)",
    "编辑用户名单和权限(1可 0否)",
};
constexpr const char* kTrailMeanings[] = {
    "序号", "时间", "操作员", "工作站", "类别", "数据表", "记录序号", "改前", "改后", "操作号",
};
constexpr const char* kPostingMeanings[] = {
    "医师甲",     "医师乙",     "医师丙",     "医师丁",         "医师戊",     "医师己",
    "医师庚",     "合计",       "特色医师甲", "特色医师乙",     "特色医师丙", "特色医师丁",
    "特色医师戊", "特色医师己", "特色医师庚", "特色合计(取整)", "住院号",
};

}  // namespace

void forEachFieldMeanings(const std::function<void(const TableDef&, std::span<const char* const>)>& registerMeanings) {
  static_assert(std::size(kDrugMeanings) == std::size(kDrugFields));
  static_assert(std::size(kInpatientMeanings) == std::size(kInpatientFields));
  static_assert(std::size(kUserMeanings) == std::size(kUserFields));
  static_assert(std::size(kChargeMeanings) == std::size(kChargeFields));
  static_assert(std::size(kPostingMeanings) == std::size(kPostingFields));
  registerMeanings(kDrugCatalogue, kDrugMeanings);
  registerMeanings(kInpatients, kInpatientMeanings);
  registerMeanings(kUsers, kUserMeanings);
  registerMeanings(kChargeLines, kChargeMeanings);
  registerMeanings(kPostings, kPostingMeanings);
  static_assert(std::size(kStockJournalMeanings) == std::size(kStockJournalFields));
  registerMeanings(kStockJournal, kStockJournalMeanings);
  static_assert(std::size(kRightsMeanings) == std::size(kRightsFields));
  registerMeanings(kRights, kRightsMeanings);
  static_assert(std::size(kTrailMeanings) == std::size(kTrailFields));
  registerMeanings(kTrail, kTrailMeanings);
  // Bills: the date, the inpatient or prescription number, the categories
  // in their fixed order, the total.
  std::vector<const char*> bill = {"日期", "住院号或处方号"};
  for (const char* c : kCategories) bill.push_back(c);
  bill.push_back("合计");
  registerMeanings(kBills, bill);
}

std::string monthlyOutpatientTable(rt::DateTime when) { return period("m", when, true); }
std::string monthlyPostingTable(rt::DateTime when) { return period("n", when, true); }
std::string yearlyOutpatientBills(rt::DateTime when) { return period("bm", when, false); }
std::string yearlyInpatientBills(rt::DateTime when) { return period("bz", when, false); }

namespace {

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "m20105", "N201012", "bm2010", "BZ2011": a name the period tables use.
bool periodName(std::string_view lower) {
  if (lower.starts_with("bm") || lower.starts_with("bz")) return allDigits(lower.substr(2));
  if (lower.starts_with("m") || lower.starts_with("n")) return allDigits(lower.substr(1));
  return false;
}

}  // namespace

size_t patientNumberLength() {
  for (const FieldDef& f : kInpatients.fields)
    if (std::string_view(f.name) == "zyh") return size_t(f.size);
  return 0;
}

bool usablePatientNumber(const std::string& zyh) {
  if (zyh.empty()) return true;
  // Stored whole in the register, or "查　询" would look for another number.
  if (zyh.size() > patientNumberLength()) return false;
  // A space at either end is easily typed and never seen.
  if (zyh.front() == ' ' || zyh.back() == ' ') return false;
  std::string lower;
  for (size_t i = 0; i < zyh.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(zyh[i]);
    if (rt::isGbkLead(b) && i + 1 < zyh.size()) {
      // A two-byte character: its second byte may be 0x5C without being
      // a backslash.
      lower += zyh[i];
      lower += zyh[++i];
      continue;
    }
    // "." would give the file an extension of its own: "2026.01" would be
    // a file without ".kdb" that the next query does not find.
    if (b < 0x20 || b == 0x7F || b == '.' || b == '/' || b == '\\' || b == '*' || b == '?') return false;
    lower += char(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
  }
  for (const char* own : {kDrugCatalogueName, kInpatientsName, kUsersName, kDrugScratchName, kInpatientScratchName,
                          kStockJournalName, kRightsName, kTrailName})
    if (lower == own) return false;
  return !periodName(lower);
}

std::string unusablePatientNumberText(const std::string& zyh) {
  return GBK("住院号“") + zyh +
         GBK("”不能使用：住院号最长10个字节，不能含有“.”“/”“\\”“*”“?”或控制字符，首尾不能有空格，"
             "也不能与系统的数据文件同名。请核对住院号。");
}

bool createTable(const std::string& bareName, const TableDef& def) {
  std::vector<rt::FieldInf> infos;
  for (const FieldDef& f : def.fields) infos.push_back(rt::FieldInf{f.name, f.kind, f.size});
  return cmd::CreateDatabase(bareName, infos);
}

bool currentTableIs(const TableDef& def) {
  const db::Table* t = db::currentTable();
  if (!t || t->fields().size() != def.fields.size()) return false;
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const db::Field& have = t->fields()[i];
    if (have.kind != def.fields[i].kind || !db::equalsNoCase(have.name, def.fields[i].name)) return false;
  }
  return true;
}

}  // namespace app
