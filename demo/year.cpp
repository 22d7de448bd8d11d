#include "demo/year.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "demo/catalogue.h"
#include "demo/rng.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace demo {
namespace {

// Indices of kCategoryWords.
enum Category {
  kWestern,
  kExam,
  kSurgery,
  kPatent,
  kOxygen,
  kTreatment,
  kLab,
  kOther,
  kHerb,
  kRadiology,
  kBlood,
  kBed,
  kHeating,
  kDelivery,
  kBaby,
  kMedical,
  kCare
};

std::string gbk(const char* utf8) { return rt::utf8ToGbk(utf8); }

double dayOf(int y, int m, int d) { return rt::makeDateTime(y, m, d, 0, 0, 0); }

const char* const kDoctors[7] = {"张建国", "王秀英", "李志强", "刘淑华", "陈明", "杨丽", "赵文斌"};
const char* const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴",
                                 "徐", "孙", "胡", "朱", "高", "林", "何", "郭", "马", "罗"};
const char* const kMenNames[] = {"伟", "强", "磊", "军",   "洋",   "勇",   "杰",   "涛",   "明",
                                 "超", "刚", "平", "建华", "志刚", "浩然", "宇轩", "国庆", "海波"};
const char* const kWomenNames[] = {"芳",   "娜",   "敏",   "静",   "丽",   "艳",   "娟",   "霞",   "秀兰",
                                   "桂英", "玉兰", "小红", "子涵", "欣怡", "淑珍", "丽华", "雪梅", "婷"};
const char* const kIllnesses[] = {"脑梗塞后遗症", "脑出血恢复期",   "腰椎间盘突出症", "颈椎病",       "膝骨关节炎",
                                  "小儿脑瘫",     "感音神经性耳聋", "面神经麻痹",     "肩周炎",       "骨折术后康复",
                                  "脊髓损伤",     "帕金森病",       "偏瘫",           "小儿发育迟缓", "坐骨神经痛"};
const char* const kDepartments[] = {"康复科", "针灸科", "理疗科", "中医科", "儿童康复科", "听力语言科"};

// How much of an item one line uses, by its unit.
int32_t quantityFor(const Item& it, Rng& rng) {
  static const std::string piece = gbk("片"), capsule = gbk("粒"), pill = gbk("丸"), gram = gbk("克"),
                           ampoule = gbk("支"), box = gbk("盒"), bottle = gbk("瓶"), ml = gbk("毫升"),
                           hour = gbk("小时"), day = gbk("天");
  const std::string& u = it.dw;
  if (u == piece || u == capsule || u == pill) return rng.between(1, 6) * 6;
  if (u == gram) return rng.between(2, 12) * 5;
  if (u == ampoule) return rng.between(1, 6);
  if (u == box || u == bottle) return rng.between(1, 3);
  if (u == ml) return rng.between(1, 4) * 100;
  if (u == hour) return rng.between(1, 8);
  if (u == day) return 1;
  return rng.chance(0.8) ? 1 : rng.between(2, 3);
}

class Maker {
 public:
  Maker(Scale scale, Year& y)
      : scale_(scale),
        y_(y),
        rng_(scale == Scale::kBusy ? 20100917 : 20100301),
        first_(dayOf(y.year, 1, 1)),
        last_(y.lastDay()) {}

  void run() {
    Catalogue cat = makeCatalogue(scale_, y_.year, rng_);
    if (dated()) dateBatches(cat, first_, y_.asOf, rng_);
    y_.catalogue = std::move(cat.items);
    byCategory_ = std::move(cat.byCategory);
    users();
    for (const char* d : kDoctors) y_.doctors.push_back(gbk(d));
    admissions();
    for (int m = 1; m <= y_.months(); ++m) outpatientMonth(m);
    stock();
  }

 private:
  bool busy() const { return scale_ == Scale::kBusy; }
  bool dated() const { return y_.asOf != 0; }

  int anyOf(Category c) { return rng_.pick(byCategory_[size_t(c)]); }

  // n different items of a category (fewer when it has fewer).
  std::vector<int> distinct(Category c, int n) {
    std::vector<int> out;
    for (int tries = 0; int(out.size()) < n && tries < 50; ++tries) {
      const int item = anyOf(c);
      if (std::find(out.begin(), out.end(), item) == out.end()) out.push_back(item);
    }
    return out;
  }

  // An item of the category whose name begins with one of the words; any
  // item of the category when none does.
  int itemNamed(Category c, std::initializer_list<const char*> words) {
    std::vector<int> fit;
    for (int i : byCategory_[size_t(c)])
      for (const char* w : words)
        if (y_.catalogue[size_t(i)].mch.starts_with(gbk(w))) fit.push_back(i);
    return fit.empty() ? anyOf(c) : rng_.pick(fit);
  }

  std::string nextNumber(const std::string& code) {
    char n[16];
    std::snprintf(n, sizeof n, "%s%05d", code.c_str(), ++serial_);
    return n;
  }

  static std::string doctorCode(int doctor, bool featured) {
    char c[3] = {featured ? '1' : '0', char('1' + doctor), 0};
    return c;
  }

  void users() {
    // The three cashiers and a plain-letters account for keyboards
    // without a Chinese input method.
    y_.users = {{gbk("李梅"), "1111"}, {gbk("王芳"), "2222"}, {gbk("赵静"), "3333"}, {"demo", "demo"}};
  }

  // --- admissions -------------------------------------------------------------

  void admissions() {
    int count = busy() ? 250 : 30;
    // A year as of a day has as many admissions as its days call for.
    const int days = dated() ? int(last_ - first_) + 1 : 365;
    if (dated()) count = std::max(busy() ? 20 : 5, int(std::lround(count * days / 365.0)));
    std::vector<double> admitted;
    for (int i = 0; i < count; ++i) {
      const int dayOfYear = rng_.below(days);
      admitted.push_back(dayOf(y_.year, 1, 1) + dayOfYear + (8 + rng_.below(9)) / 24.0 + rng_.below(4) * 15 / 1440.0);
    }
    std::sort(admitted.begin(), admitted.end());
    if (busy()) {
      // A long stay of exactly 3,000 charge lines, still in hospital on
      // the year's last day: the inpatient window's heaviest patient. No
      // admission is earlier than 08:00 on the first day.
      admitted[0] = dayOf(y_.year, 1, 1) + 8.0 / 24;
    }
    const double yearEnd = last_;
    for (int i = 0; i < count; ++i) {
      Admission a;
      const bool man = rng_.chance(0.5);
      a.xm = gbk(kSurnames[rng_.below(20)]) + gbk(man ? kMenNames[rng_.below(18)] : kWomenNames[rng_.below(18)]);
      a.xb = gbk(man ? "男" : "女");
      const char* illness = kIllnesses[rng_.below(15)];
      const bool child = std::strstr(illness, "小儿") || std::strstr(illness, "耳聋");
      a.nl = child ? rng_.between(2, 12) : rng_.between(25, 85);
      if (rng_.chance(0.8)) {
        char zh[12];
        std::snprintf(zh, sizeof zh, "3701%06d", rng_.below(1000000));
        a.zh = zh;
      }
      a.sj = admitted[size_t(i)];
      a.bz = gbk(illness);
      char zyh[32];
      std::snprintf(zyh, sizeof zyh, "%d%03d", y_.year, i + 1);
      a.zyh = zyh;
      a.ks = gbk(child ? (std::strstr(illness, "耳聋") ? "听力语言科" : "儿童康复科") : kDepartments[rng_.below(4)]);
      char bed[32];
      std::snprintf(bed, sizeof bed, "%d%02d", 1 + rng_.below(3), 1 + rng_.below(30));
      a.cwh = bed;
      a.doctor = rng_.below(7);
      a.yfk = 1000 + 500 * rng_.below(15);
      // A few deliveries: the centre keeps a small maternity room.
      const bool delivery = !child && a.xb == gbk("女") && a.nl < 40 && rng_.chance(0.3);
      if (delivery) {
        a.bz = gbk("顺产");
        a.ks = gbk("妇产科");
      }
      const double first = rt::dateOnly(a.sj);
      int stay = rng_.chance(0.8) ? rng_.between(3, 21) : rng_.between(22, 60);
      if (busy() && i == 0) stay = 400;
      const double last = first + stay;
      a.billed = last <= yearEnd ? last : 0;
      stayLines(a, first, std::min(last, yearEnd), delivery, busy() && i == 0);
      y_.admissions.push_back(std::move(a));
    }
  }

  void line(std::vector<Line>& out, double day, int item, int32_t qty, const std::string& cf, int cashier) {
    out.push_back(Line{day, item, qty, cf, cashier});
  }

  void stayLines(Admission& a, double first, double last, bool delivery, bool exactly3000) {
    const int bed = anyOf(kBed);
    // Heating from November to March, cooling from June to August.
    const int heating = itemNamed(kHeating, {"取暖", "电暖", "暖风", "电热"});
    const int cooling = itemNamed(kHeating, {"空调", "降温"});
    const bool monitored = rng_.chance(0.1);
    const bool featured = rng_.chance(0.4);  // treatments as the doctor's special service
    const std::string regular = doctorCode(a.doctor, false);
    const std::string special = doctorCode(a.doctor, featured);
    const int days = int(last - first) + 1;
    for (int n = 0; n < days; ++n) {
      const double d = first + n;
      const rt::DateParts p = rt::splitDateTime(d);
      const int cashier = (p.dayOfYear + n) % 3;
      int target;
      if (exactly3000) {
        target = 3000 / days + (n < 3000 % days ? 1 : 0);
      } else {
        target = busy() ? rng_.between(4, 10) : rng_.between(3, 6);
      }
      std::vector<Line> today;
      // Bed and heating days carry no prescription.
      line(today, d, bed, 1, "", cashier);
      if (p.month <= 3 || p.month >= 11) line(today, d, heating, 1, "", cashier);
      if (p.month >= 6 && p.month <= 8) line(today, d, cooling, 1, "", cashier);
      const std::string rx = nextNumber(regular);
      const std::string tx = featured ? nextNumber(special) : rx;
      if (n == 0) {
        line(today, d, anyOf(kMedical), 1, rx, cashier);
        for (int item : distinct(kExam, 2)) line(today, d, item, 1, rx, cashier);
        for (int item : distinct(kLab, 3)) line(today, d, item, 1, rx, cashier);
        if (rng_.chance(0.5)) line(today, d, anyOf(kRadiology), 1, rx, cashier);
        if (delivery) {
          line(today, d, anyOf(kDelivery), 1, rx, cashier);
          line(today, d, anyOf(kDelivery), 1, rx, cashier);
        }
      }
      if (delivery && n > 0) line(today, d, anyOf(kBaby), 1, rx, cashier);
      if (monitored && n < 3) line(today, d, anyOf(kCare), rng_.between(8, 24), rx, cashier);
      if (rng_.chance(0.05)) line(today, d, anyOf(kOxygen), rng_.between(2, 8), rx, cashier);
      if (n == 1 && rng_.chance(0.03)) line(today, d, anyOf(kSurgery), 1, rx, cashier);
      if (n == 1 && rng_.chance(0.02)) line(today, d, anyOf(kBlood), 200, rx, cashier);
      if (exactly3000 && int(today.size()) > target) today.resize(size_t(target));
      while (int(today.size()) < target) {
        const int r = rng_.below(100);
        const Category c = r < 45 ? kTreatment : r < 70 ? kWestern : r < 85 ? kPatent : r < 95 ? kHerb : kOther;
        const int item = anyOf(c);
        line(today, d, item, quantityFor(y_.catalogue[size_t(item)], rng_), c == kTreatment ? tx : rx, cashier);
      }
      for (Line& l : today) a.lines.push_back(std::move(l));
    }
  }

  // --- outpatient -------------------------------------------------------------

  void outpatientMonth(int month) {
    const int days = rt::daysInMonth(y_.year, month);
    // The last day's month is open only up to that day, with its share of
    // the month's lines.
    const rt::DateParts last = rt::splitDateTime(last_);
    const int open = month == last.month ? last.day : days;
    std::vector<int> weights;
    for (int d = 1; d <= days; ++d) {
      const int dow = rt::splitDateTime(dayOf(y_.year, month, d)).dayOfWeek;  // 1 = Sunday
      weights.push_back(d > open ? 0 : dow == 1 ? 1 : dow == 7 ? 2 : 4);
    }
    int target = busy() ? 20000 : rng_.between(250, 400);
    if (open < days) target = std::max(1, int(std::lround(double(target) * open / days)));
    struct Draft {
      int day, doctor;
      bool featured;
      std::vector<Line> lines;
    };
    std::vector<Draft> drafts;
    int total = 0;
    while (total < target) {
      Draft d;
      d.day = 1 + rng_.weighted(weights);
      d.doctor = rng_.below(7);
      d.featured = rng_.chance(0.25);
      int n = busy() ? rng_.between(4, 20) : rng_.between(2, 8);
      n = std::min(n, target - total);
      const double day = dayOf(y_.year, month, d.day);
      if (!d.featured) d.lines.push_back(Line{day, anyOf(kMedical), 1, "", 0});
      while (int(d.lines.size()) < n) {
        const int r = rng_.below(100);
        Category c;
        if (d.featured)
          c = r < 50 ? kTreatment : r < 75 ? kHerb : r < 90 ? kPatent : kOther;
        else
          c = r < 45 ? kWestern : r < 65 ? kPatent : r < 75 ? kExam : r < 88 ? kLab : r < 94 ? kRadiology : kOther;
        const int item = anyOf(c);
        d.lines.push_back(Line{day, item, quantityFor(y_.catalogue[size_t(item)], rng_), "", 0});
      }
      total += int(d.lines.size());
      drafts.push_back(std::move(d));
    }
    std::stable_sort(drafts.begin(), drafts.end(), [](const Draft& a, const Draft& b) { return a.day < b.day; });
    std::vector<Line>& table = y_.outpatient[size_t(month - 1)];
    for (Draft& d : drafts) {
      Prescription p;
      p.month = month;
      p.first = table.size();
      p.count = d.lines.size();
      p.day = dayOf(y_.year, month, d.day);
      p.cf = nextNumber(doctorCode(d.doctor, d.featured));
      const int cashier = (d.day + month) % 3;
      for (Line& l : d.lines) {
        l.cf = p.cf;
        l.cashier = cashier;
        table.push_back(std::move(l));
      }
      y_.prescriptions.push_back(std::move(p));
    }
  }

  // --- stock ------------------------------------------------------------------

  // What the shelves hold on the year's last day: every charge has already
  // been taken off, so the stock is simply the remainder.
  void stock() {
    // Services are counted too (the charge windows lower every record's
    // stock), in the few dozens the staff keep them at.
    for (Item& it : y_.catalogue) it.shl = int32_t(it.jj > 0 ? rng_.between(20, 500) : rng_.between(10, 60));
  }

  Scale scale_;
  Year& y_;
  Rng rng_;
  double first_, last_;  // the year's first and last day with work in it
  std::array<std::vector<int>, 17> byCategory_;
  int serial_ = 0;
};

}  // namespace

double Year::lastDay() const {
  const double end = dayOf(year, 12, 31);
  return asOf != 0 && asOf < end ? rt::dateOnly(asOf) : end;
}

int Year::months() const { return rt::splitDateTime(lastDay()).month; }

Year makeYear(Scale scale, int year, double asOf) {
  Year y;
  y.year = year;
  y.asOf = asOf == 0 ? 0 : rt::dateOnly(asOf);
  y.scale = scale;
  Maker(scale, y).run();
  return y;
}

int yearShownOn(double today) {
  const rt::DateParts p = rt::splitDateTime(today);
  return p.month == 1 && p.day <= kEarlyJanuaryDays ? p.year - 1 : p.year;
}

const char* scaleName(Scale s) { return s == Scale::kBusy ? "busy" : "small"; }

bool holdsTables(const std::string& dir) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == ".kdb") return true;
  }
  return false;
}

}  // namespace demo
