#include "demo/catalogue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/expiry.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace demo {

const std::array<const char*, 17> kCategoryWords = {"西药", "检查", "手术", "中成", "输氧", "治疗",
                                                    "化验", "其它", "中草", "放射", "输血", "住院",
                                                    "冷暖", "接生", "婴儿", "医疗", "监护"};

namespace {

struct Variant {
  const char* suffix;  // added to the base name
  const char* unit;    // null: the category's unit
};

// How one category's items are made: every base name with every variant and
// every package size (规格), in a shuffled order, as many as the scale needs.
struct Plan {
  const char* code;  // code prefix, e.g. "XY" for XY0001
  int busyCount;     // items at the busy scale (small: 6 %, at least 3)
  bool drug;         // drugs have batches, makers and a second batch now and then
  const char* unit;
  std::vector<const char*> bases;
  std::vector<const char*> aliases;  // alias per base, or empty
  std::vector<Variant> variants;
  std::vector<const char*> sizes;
  double priceLo, priceHi;  // sale price per unit, yuan
};

const std::vector<Variant> kServiceQualifiers = {
    {"", nullptr},       {"(加急)", nullptr},   {"(复查)", nullptr}, {"(床旁)", nullptr}, {"(儿童)", nullptr},
    {"(夜间)", nullptr}, {"(节假日)", nullptr}, {"(特需)", nullptr}, {"(上门)", nullptr}, {"(简易)", nullptr},
    {"(单侧)", nullptr}, {"(双侧)", nullptr},   {"(首次)", nullptr}, {"(连续)", nullptr}, {"(半程)", nullptr},
    {"(全程)", nullptr}, {"(小)", nullptr},     {"(中)", nullptr},   {"(大)", nullptr},   {"(附加)", nullptr},
};
const std::vector<const char*> kServiceSizes = {"", "标准"};

// In the order of kCategoryWords.
std::vector<Plan> plans() {
  return {
      {"XY",
       1300,
       true,
       "片",
       {"阿莫西林", "头孢拉定",     "头孢呋辛",   "青霉素钠", "红霉素",   "阿奇霉素",  "左氧氟沙星", "甲硝唑",
        "布洛芬",   "对乙酰氨基酚", "双氯芬酸钠", "氨茶碱",   "维生素B1", "维生素B12", "维生素C",    "甲钴胺",
        "胞磷胆碱", "尼莫地平",     "硝苯地平",   "卡托普利", "二甲双胍", "格列齐特",  "奥美拉唑",   "雷尼替丁",
        "多潘立酮", "氯雷他定",     "地塞米松",   "泼尼松",   "巴氯芬",   "乙哌立松"},
       {"Amoxicillin",  "Cefradine",     "Cefuroxime",    "Penicillin G", "Erythromycin", "Azithromycin",
        "Levofloxacin", "Metronidazole", "Ibuprofen",     "Paracetamol",  "Diclofenac",   "Aminophylline",
        "Vitamin B1",   "Vitamin B12",   "Vitamin C",     "Mecobalamin",  "Citicoline",   "Nimodipine",
        "Nifedipine",   "Captopril",     "Metformin",     "Gliclazide",   "Omeprazole",   "Ranitidine",
        "Domperidone",  "Loratadine",    "Dexamethasone", "Prednisone",   "Baclofen",     "Eperisone"},
       {{"片", "片"},
        {"胶囊", "粒"},
        {"注射液", "支"},
        {"颗粒", "盒"},
        {"缓释片", "片"},
        {"分散片", "片"},
        {"肠溶片", "片"},
        {"口服液", "瓶"},
        {"滴丸", "丸"},
        {"软膏", "支"}},
       {"0.1g", "0.25g", "0.5g", "10mg", "25mg"},
       0.1,
       45},
      {"JC",
       300,
       false,
       "次",
       {"心电图",           "脑电图",       "肌电图",   "B超",      "彩超",         "听力检测",
        "声导抗",           "脑干诱发电位", "视力检查", "骨密度",   "肺功能",       "动态心电图",
        "经颅多普勒",       "眼底检查",     "智力测试", "语言评估", "运动功能评定", "平衡功能评定",
        "日常生活能力评定", "心理测评"},
       {},
       kServiceQualifiers,
       kServiceSizes,
       10,
       260},
      {"SS",
       200,
       false,
       "次",
       {"清创缝合", "脓肿切开引流", "肌腱松解术", "关节镜检", "神经阻滞", "小针刀", "穴位埋线", "拔甲术",
        "体表肿物切除", "骨折闭合复位", "石膏固定", "夹板固定", "关节腔注射", "腱鞘注射", "耳道异物取出"},
       {},
       kServiceQualifiers,
       kServiceSizes,
       50,
       1500},
      {"ZC",
       900,
       true,
       "盒",
       {"六味地黄", "银翘解毒", "复方丹参", "板蓝根",   "藿香正气", "牛黄解毒", "逍遥",
        "补中益气", "安宫牛黄", "速效救心", "血府逐瘀", "舒筋活络", "小活络",   "天麻",
        "壮骨关节", "追风透骨", "独活寄生", "通络止痛", "活血止痛", "跌打"},
       {},
       {{"丸", "丸"},
        {"片", "片"},
        {"胶囊", "粒"},
        {"颗粒", "盒"},
        {"口服液", "支"},
        {"滴丸", "丸"},
        {"膏", "瓶"},
        {"散", "盒"},
        {"酒", "瓶"},
        {"冲剂", "盒"},
        {"注射液", "支"},
        {"浓缩丸", "丸"},
        {"水丸", "丸"},
        {"软胶囊", "粒"},
        {"合剂", "瓶"}},
       {"6g", "9g", "0.3g", "10ml"},
       0.5,
       60},
      {"SY",
       50,
       false,
       "小时",
       {"鼻导管吸氧", "面罩吸氧", "高压氧治疗", "雾化吸入", "氧气", "高流量吸氧"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 9},
       {""},
       3,
       60},
      {"ZL",
       300,
       false,
       "次",
       {"针灸",     "推拿",   "康复训练",   "运动疗法",   "作业疗法", "言语训练",   "听觉训练", "吞咽训练", "中频电疗",
        "低频电疗", "超短波", "微波治疗",   "红外线照射", "牵引",     "蜡疗",       "拔罐",     "艾灸",     "刮痧",
        "水疗",     "磁疗",   "经颅磁刺激", "生物反馈",   "认知训练", "手功能训练", "步态训练"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 12},
       kServiceSizes,
       5,
       120},
      {"HY",
       300,
       false,
       "项",
       {"血常规",   "尿常规",     "便常规",       "肝功能", "肾功能",       "血脂",
        "血糖",     "电解质",     "凝血功能",     "心肌酶", "甲状腺功能",   "乙肝五项",
        "血沉",     "C反应蛋白",  "类风湿因子",   "抗O",    "糖化血红蛋白", "微量元素",
        "血型鉴定", "免疫球蛋白", "尿微量白蛋白", "血氨",   "血乳酸",       "同型半胱氨酸",
        "D-二聚体", "降钙素原",   "铁蛋白",       "叶酸",   "维生素D",      "骨代谢"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 10},
       kServiceSizes,
       3,
       150},
      {"QT",
       200,
       false,
       "个",
       {"病历本", "一次性注射器", "输液器", "棉签",   "纱布", "绷带", "口罩", "手套", "导尿包",     "护理垫",
        "针灸针", "火罐",         "电极片", "弹力袜", "颈托", "腰围", "护膝", "拐杖", "助听器电池", "耳模"},
       {},
       {{"", nullptr},
        {"(小)", nullptr},
        {"(中)", nullptr},
        {"(大)", nullptr},
        {"(加长)", nullptr},
        {"(儿童)", nullptr},
        {"(一次性)", nullptr},
        {"(无菌)", nullptr},
        {"(进口)", nullptr},
        {"(国产)", nullptr}},
       kServiceSizes,
       0.5,
       30},
      {"ZY",
       900,
       true,
       "克",
       {"当归",   "黄芪", "党参", "白术", "茯苓", "甘草", "川芎",   "白芍", "熟地黄", "生地黄",
        "枸杞子", "丹参", "红花", "桃仁", "杜仲", "牛膝", "续断",   "独活", "羌活",   "防风",
        "桂枝",   "麻黄", "葛根", "柴胡", "黄芩", "黄连", "金银花", "连翘", "菊花",   "薄荷"},
       {},
       {{"", nullptr},
        {"(炒)", nullptr},
        {"(酒炙)", nullptr},
        {"(蜜炙)", nullptr},
        {"(生)", nullptr},
        {"片", nullptr},
        {"饮片", nullptr},
        {"粉", nullptr},
        {"(盐炙)", nullptr},
        {"(醋炙)", nullptr}},
       {"统货", "一等", "二等", "精选"},
       0.02,
       1.5},
      {"FS",
       200,
       false,
       "次",
       {"X线胸片", "X线腰椎片", "X线颈椎片", "X线膝关节片", "X线手腕片", "CT头部", "CT腰椎", "CT胸部", "磁共振头部",
        "磁共振腰椎", "磁共振膝关节", "数字化摄影"},
       {},
       kServiceQualifiers,
       kServiceSizes,
       15,
       400},
      {"SX",
       50,
       false,
       "毫升",
       {"全血", "红细胞悬液", "血浆", "血小板", "冷沉淀", "白蛋白"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 9},
       {""},
       0.8,
       6},
      {"ZH",
       50,
       false,
       "天",
       {"普通床位费", "单人间床位费", "双人间床位费", "三人间床位费", "康复病房床位费", "监护病房床位费", "陪护床",
        "儿童床位费", "母婴病房床位费", "特需病房床位费"},
       {},
       {{"", nullptr}, {"(甲)", nullptr}, {"(乙)", nullptr}, {"(丙)", nullptr}, {"(优惠)", nullptr}},
       {""},
       15,
       120},
      {"LN",
       30,
       false,
       "天",
       {"取暖费", "空调费", "电暖气费", "降温费", "暖风机费", "电热毯费"},
       {},
       {{"", nullptr}, {"(单间)", nullptr}, {"(双人间)", nullptr}, {"(病房)", nullptr}, {"(儿童)", nullptr}},
       {""},
       3,
       20},
      {"JS",
       40,
       false,
       "次",
       {"顺产接生", "助产", "会阴缝合", "产前检查", "胎心监护", "新法接生", "会阴侧切", "分娩镇痛"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 5},
       {""},
       50,
       800},
      {"YE",
       60,
       false,
       "次",
       {"婴儿护理", "新生儿沐浴", "新生儿抚触", "婴儿床位", "新生儿听力筛查", "新生儿黄疸监测", "脐部护理", "婴儿奶粉",
        "新生儿疫苗接种", "婴儿游泳"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 6},
       {""},
       5,
       120},
      {"YL",
       60,
       false,
       "次",
       {"诊查费", "挂号费", "会诊费", "专家诊查费", "病历工本费", "出诊费"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 10},
       {""},
       1,
       50},
      {"JH",
       60,
       false,
       "小时",
       {"心电监护", "血氧监护", "特级护理", "一级护理", "二级护理", "三级护理"},
       {},
       {kServiceQualifiers.begin(), kServiceQualifiers.begin() + 10},
       {""},
       2,
       30},
  };
}

const std::vector<const char*> kMakers = {
    "华北制药股份有限公司", "哈药集团制药总厂", "上海信谊药厂", "石药集团欧意药业", "山东新华制药", "广州白云山制药",
    "北京同仁堂",           "云南白药集团",     "天津中新药业", "太极集团",         "西安杨森制药", "扬子江药业集团"};
const std::vector<const char*> kHerbOrigins = {"甘肃岷县", "内蒙古赤峰", "四川江油", "河南焦作",
                                               "安徽亳州", "宁夏中宁",   "吉林抚松", "浙江磐安"};
const char* const kOwnService = "本中心";

// Prices look like a price list: cents below 10 yuan, dimes above.
float price(Rng& rng, double lo, double hi) {
  double v = lo * std::exp(rng.unit() * std::log(hi / lo));
  v = v < 10 ? std::round(v * 100) / 100 : std::round(v * 10) / 10;
  return float(v);
}

std::string gbk(const char* utf8) { return rt::utf8ToGbk(utf8); }

double day(int y, int m, int d) { return rt::makeDateTime(y, m, d, 0, 0, 0); }

}  // namespace

Catalogue makeCatalogue(Scale scale, int year, Rng& rng) {
  Catalogue cat;
  const std::vector<Plan> all = plans();
  std::vector<Item> secondBatches;
  for (size_t c = 0; c < all.size(); ++c) {
    const Plan& p = all[c];
    int count = p.busyCount;
    if (scale == Scale::kSmall) count = std::max(3, int(std::lround(p.busyCount * 0.06)));
    // Every base x variant x size, shuffled, the first `count` taken.
    struct Combo {
      int base, variant, size;
    };
    std::vector<Combo> combos;
    for (int b = 0; b < int(p.bases.size()); ++b)
      for (int v = 0; v < int(p.variants.size()); ++v)
        for (int s = 0; s < int(p.sizes.size()); ++s) combos.push_back({b, v, s});
    for (size_t i = combos.size(); i > 1; --i) std::swap(combos[i - 1], combos[size_t(rng.below(int(i)))]);
    if (count > int(combos.size())) count = int(combos.size());
    combos.resize(size_t(count));
    for (int n = 0; n < count; ++n) {
      const Combo& k = combos[size_t(n)];
      Item it;
      char code[16];
      std::snprintf(code, sizeof code, "%s%04d", p.code, n + 1);
      it.dm = code;
      it.mch = gbk(p.bases[size_t(k.base)]) + gbk(p.variants[size_t(k.variant)].suffix);
      it.bm = p.aliases.empty() ? std::string() : std::string(p.aliases[size_t(k.base)]);
      it.lb = gbk(kCategoryWords[c]);
      const int cls = rng.below(100);
      it.bx = gbk(cls < 50 ? "甲类" : cls < (p.drug ? 85 : 95) ? "乙类" : "非类");
      it.gg = gbk(p.sizes[size_t(k.size)]);
      const char* unit = p.variants[size_t(k.variant)].unit;
      it.dw = gbk(unit ? unit : p.unit);
      it.xj = price(rng, p.priceLo, p.priceHi);
      // Bought at 70 to 87 % of the sale price.
      it.jj = float(std::round(double(it.xj) * (0.70 + 0.01 * rng.below(18)) * 100) / 100);
      if (p.drug) {
        const int made = rng.between(1, 12);
        char batch[16];
        std::snprintf(batch, sizeof batch, "%02d%02d%02d%02d", (year - 1) % 100, made, rng.between(1, 28),
                      rng.below(100));
        it.ph = batch;
        it.shch = day(year - 1, made, rng.between(1, 28));
        it.yx = it.shch + (rng.chance(0.5) ? 730 : 1095);
        it.chd = gbk(c == 8 ? rng.pick(kHerbOrigins) : rng.pick(kMakers));
        // A later purchase of the same drug at the same sale price, from
        // another batch: listed after every first batch.
        if (rng.chance(0.04)) {
          Item second = it;
          const int bought = rng.between(1, 9);
          std::snprintf(batch, sizeof batch, "%02d%02d%02d%02d", year % 100, bought, rng.between(1, 28),
                        rng.below(100));
          second.ph = batch;
          second.shch = day(year, bought, rng.between(1, 28));
          second.yx = second.shch + 1095;
          second.jj = float(std::round(double(it.jj) * 1.03 * 100) / 100);
          secondBatches.push_back(second);
        }
      } else {
        // A service is not bought in: no purchase price.
        it.jj = 0;
        it.shch = day(year - 1, 12, 1);
        it.yx = day(year + 4, 12, 31);
        it.chd = gbk(kOwnService);
      }
      cat.byCategory[c].push_back(int(cat.items.size()));
      cat.items.push_back(std::move(it));
    }
  }
  for (Item& s : secondBatches) cat.items.push_back(std::move(s));
  return cat;
}

void dateBatches(Catalogue& cat, double yearStart, double asOf, Rng& rng) {
  const std::vector<Plan> all = plans();
  std::vector<int> firsts;  // every drug's first batch
  size_t firstBatches = 0;
  for (size_t c = 0; c < all.size(); ++c) {
    firstBatches += cat.byCategory[c].size();
    if (all[c].drug) firsts.insert(firsts.end(), cat.byCategory[c].begin(), cat.byCategory[c].end());
  }
  for (size_t i = firsts.size(); i > 1; --i) std::swap(firsts[i - 1], firsts[size_t(rng.below(int(i)))]);
  const int n = int(firsts.size());
  const int expired = std::max(3, n * 3 / 100), expiring = std::max(4, n * 5 / 100);
  // Stamps the batch made on `made` with its shelf life kept.
  auto date = [&](Item& it, double made, double life) {
    it.shch = made;
    it.yx = made + life;
    const rt::DateParts p = rt::splitDateTime(made);
    char batch[16];
    std::snprintf(batch, sizeof batch, "%02d%02d%02d%02d", p.year % 100, p.month, p.day, rng.below(100));
    it.ph = batch;
  };
  const int soonest = app::kExpiringDays + 30;
  for (int k = 0; k < n; ++k) {
    Item& it = cat.items[size_t(firsts[size_t(k)])];
    const double life = it.yx - it.shch;
    // Days from asOf to the expiry date. A batch still good after the
    // warning period was made before the first day it was charged, when
    // its shelf life allows.
    int left;
    if (k < expired)
      left = -rng.between(1, 120);
    else if (k < expired + expiring)
      left = rng.between(7, app::kExpiringDays - 7);
    else
      left = rng.between(soonest, std::max(soonest, int(life - (asOf - yearStart))));
    date(it, asOf + left - life, life);
  }
  for (size_t i = firstBatches; i < cat.items.size(); ++i) {
    Item& it = cat.items[i];
    date(it, asOf - rng.between(7, 60), it.yx - it.shch);
  }
}

}  // namespace demo
