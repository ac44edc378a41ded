#include "tools/make-demo-registry/demo_data.h"

#include <array>
#include <cmath>
#include <string_view>

#include "tools/request-service/symptoms.h"
#include "tools/request-service/text_codec.h"

namespace ravelto::demo {
namespace {

using reqsvc::Utf8ToCp1251;

// splitmix64: the same numbers on every platform and standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  template <class T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(N)))];
  }

 private:
  std::uint64_t state_;
};

// Surnames in their male form; the female form adds "а".
constexpr std::array<std::string_view, 32> kSurnames = {
    "Иванов",  "Смирнов",  "Кузнецов", "Попов",    "Васильев", "Петров",    "Соколов",  "Михайлов",
    "Новиков", "Фёдоров",  "Морозов",  "Волков",   "Алексеев", "Лебедев",   "Семёнов",  "Егоров",
    "Павлов",  "Козлов",   "Степанов", "Николаев", "Орлов",    "Андреев",   "Макаров",  "Никитин",
    "Захаров", "Зайцев",   "Соловьёв", "Борисов",  "Яковлев",  "Григорьев", "Романов",  "Воробьёв"};
constexpr std::array<std::string_view, 18> kMaleNames = {
    "Александр", "Сергей", "Дмитрий", "Андрей", "Алексей", "Иван",   "Михаил", "Николай", "Владимир",
    "Евгений",   "Юрий",   "Олег",    "Павел",  "Виктор",  "Артём",  "Максим", "Денис",   "Игорь"};
constexpr std::array<std::string_view, 18> kFemaleNames = {
    "Елена", "Ольга",    "Наталья", "Татьяна",   "Ирина", "Светлана", "Анна",  "Мария",  "Екатерина",
    "Юлия",  "Галина",   "Людмила", "Валентина", "Нина",  "Дарья",    "Ксения", "Полина", "Вера"};
// Fathers' names with the male and female patronymic endings.
struct Father {
  std::string_view male, female;
};
constexpr std::array<Father, 14> kFathers = {{{"Александрович", "Александровна"},
                                              {"Сергеевич", "Сергеевна"},
                                              {"Дмитриевич", "Дмитриевна"},
                                              {"Андреевич", "Андреевна"},
                                              {"Алексеевич", "Алексеевна"},
                                              {"Иванович", "Ивановна"},
                                              {"Михайлович", "Михайловна"},
                                              {"Николаевич", "Николаевна"},
                                              {"Владимирович", "Владимировна"},
                                              {"Евгеньевич", "Евгеньевна"},
                                              {"Юрьевич", "Юрьевна"},
                                              {"Олегович", "Олеговна"},
                                              {"Павлович", "Павловна"},
                                              {"Викторович", "Викторовна"}}};

struct Street {
  std::string_view locality;
  int knacp;
  int kr;
  std::string_view name;
  int code;
  int uch;
  bool flats;  // blocks of flats (a flat number) or private houses
};
constexpr std::array<Street, 16> kStreets = {{
    {"г. Заречный", 1, 1, "ул. Ленина", 101, 1, true},
    {"г. Заречный", 1, 1, "ул. Пушкинская", 102, 2, true},
    {"г. Заречный", 1, 1, "ул. Гагарина", 103, 3, true},
    {"г. Заречный", 1, 1, "ул. Советская", 104, 4, true},
    {"г. Заречный", 1, 1, "ул. Кирова", 105, 5, true},
    {"г. Заречный", 1, 1, "ул. Мира", 106, 6, true},
    {"г. Заречный", 1, 1, "пр. Победы", 107, 7, true},
    {"г. Заречный", 1, 1, "ул. Садовая", 108, 8, false},
    {"г. Заречный", 1, 1, "ул. Молодёжная", 109, 9, true},
    {"г. Заречный", 1, 1, "ул. Школьная", 110, 10, false},
    {"г. Заречный", 1, 1, "пер. Зелёный", 111, 10, false},
    {"с. Липовка", 27, 2, "ул. Центральная", 201, 11, false},
    {"с. Липовка", 27, 2, "ул. Лесная", 202, 11, false},
    {"д. Ключи", 31, 2, "ул. Набережная", 301, 12, false},
    {"д. Ключи", 31, 2, "ул. Полевая", 302, 12, false},
    {"г. Заречный", 1, 1, "ул. Строителей", 112, 9, true},
}};

std::string Cp(std::string_view utf8) { return Utf8ToCp1251(utf8); }

std::string HouseNumber(Rng& rng) {
  std::string h = std::to_string(1 + rng.Below(120));
  const int kind = rng.Below(10);
  if (kind == 0) h += Cp("а");
  if (kind == 1) h += "/" + std::to_string(1 + rng.Below(4));
  return h;
}

void Address(Rng& rng, const Street& s, std::string& nnacp, std::string& street, std::string& house,
             std::string& kv) {
  nnacp = Cp(s.locality);
  street = Cp(s.name);
  house = HouseNumber(rng);
  kv = s.flats ? std::to_string(1 + rng.Below(150)) : std::string();
}

std::string Phone(Rng& rng) {
  char buf[32];
  if (rng.Below(5) == 0) {
    std::snprintf(buf, sizeof buf, "8 (3412) %02d-%02d-%02d", rng.Below(100), rng.Below(100), rng.Below(100));
  } else {
    std::snprintf(buf, sizeof buf, "+7 9%02d %03d-%02d-%02d", rng.Below(100), rng.Below(1000), rng.Below(100),
                  rng.Below(100));
  }
  return buf;
}

std::string FullName(Rng& rng, bool female) {
  std::string s = std::string(rng.Pick(kSurnames)) + (female ? "а" : "");
  s += " ";
  s += female ? rng.Pick(kFemaleNames) : rng.Pick(kMaleNames);
  s += " ";
  const Father& f = rng.Pick(kFathers);
  s += female ? f.female : f.male;
  return Cp(s);
}

}  // namespace

std::int64_t DaysSince1899(CivilDay d) {
  // Days from civil (proleptic Gregorian), shifted to the 1899-12-30 epoch.
  const int y = d.month <= 2 ? d.year - 1 : d.year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned m = static_cast<unsigned>(d.month);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(d.day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t unix_days = static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return unix_days + 25569;
}

CivilDay FromDaysSince1899(std::int64_t days) {
  const std::int64_t z = days - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
  return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

DemoRegistry MakeDemoRegistry(std::uint32_t seed, int patients, CivilDay today) {
  Rng rng(seed);
  DemoRegistry out;

  for (int kw = 61001; kw <= 61025; ++kw) {
    Staff s;
    s.kw = kw;
    const bool female = rng.Below(3) != 0;
    s.nb = kw == 61003 ? Cp("Семенова Ольга Викторовна") : FullName(rng, female);
    s.dolj = Cp(kw <= 61012 ? "Врач-терапевт участковый" : kw <= 61020 ? "Врач общей практики" : "Медицинская сестра");
    out.staff.push_back(s);
  }
  for (int kw = 78001; kw <= 78015; ++kw) {
    Staff s;
    s.kw = kw;
    s.nb = FullName(rng, rng.Below(4) != 0);
    s.dolj = Cp(kw <= 78010 ? "Врач-педиатр участковый" : "Медицинская сестра");
    out.staff.push_back(s);
  }
  for (int k = 1; k <= 12; ++k) {
    out.districts.push_back({k, 61000 + k, Cp("Участок №" + std::to_string(k))});
  }

  const std::int64_t today_days = DaysSince1899(today);
  for (int i = 0; i < patients; ++i) {
    Patient p;
    p.kl = kFirstPatientCode + i;
    const bool female = rng.Below(2) == 0;
    p.sex = female ? 'F' : 'M';
    p.fiol = Cp(std::string(rng.Pick(kSurnames)) + (female ? "а" : ""));
    p.im = Cp(female ? rng.Pick(kFemaleNames) : rng.Pick(kMaleNames));
    const Father& f = rng.Pick(kFathers);
    p.ot = Cp(female ? f.female : f.male);
    // Whole years by the desk's rule (days / 365.25, truncated) equal i % 101.
    const int age = i % 101;
    const std::int64_t back = std::llround(age * 365.25) + 1 + rng.Below(363);
    p.data_r = FromDaysSince1899(today_days - back);

    const Street& home = rng.Pick(kStreets);
    Address(rng, home, p.nnacp, p.street1, p.house, p.kv);
    const Street& actual = rng.Below(7) == 0 ? rng.Pick(kStreets) : home;
    if (&actual == &home) {
      p.nnacp_f = p.nnacp;
      p.street_f = p.street1;
      p.house_f = p.house;
      p.kv_f = p.kv;
    } else {
      Address(rng, actual, p.nnacp_f, p.street_f, p.house_f, p.kv_f);
    }
    p.stree1_f = actual.code;
    p.kr_f = actual.kr;
    p.knacp_f = actual.knacp;
    p.uch = actual.uch;
    p.telef = Phone(rng);
    out.patients.push_back(std::move(p));
  }
  return out;
}

TableSpec PatientTable() {
  return {"m1005",
          {{"kl", 'N', 10, 0},      {"fiol", 'C', 30, 0},     {"im", 'C', 20, 0},       {"ot", 'C', 20, 0},
           {"pol", 'C', 1, 0},      {"data_r", 'D', 8, 0},    {"uch", 'N', 3, 0},       {"nnacp", 'C', 30, 0},
           {"street1", 'C', 40, 0}, {"house", 'C', 10, 0},    {"kv", 'C', 10, 0},       {"nnacp_f", 'C', 30, 0},
           {"street_f", 'C', 40, 0}, {"house_f", 'C', 10, 0}, {"kv_f", 'C', 10, 0},     {"stree1_f", 'N', 6, 0},
           {"kr_f", 'N', 4, 0},     {"knacp_f", 'N', 6, 0},   {"telef", 'C', 20, 0}}};
}

TableSpec DistrictTable() { return {"ci007", {{"kuch", 'N', 3, 0}, {"kw", 'N', 5, 0}, {"nuch", 'C', 30, 0}}}; }

TableSpec StaffTable() { return {"ci003", {{"kw", 'N', 5, 0}, {"nb", 'C', 40, 0}, {"dolj", 'C', 40, 0}}}; }

TableSpec VisitTable() {
  TableSpec t{"m1042",
              {{"kl", 'N', 10, 0},
               {"data_vizc", 'C', 6, 0},
               {"kto", 'C', 4, 0},
               {"prich_v", 'M', 4, 0},
               {"telef", 'C', 20, 0},
               {"stree1_f", 'N', 6, 0},
               {"street_f", 'C', 40, 0},
               {"house_f", 'C', 10, 0},
               {"kv_f", 'C', 10, 0},
               {"kr_f", 'N', 4, 0},
               {"knacp_f", 'N', 6, 0},
               {"nnacp_f", 'C', 30, 0},
               {"kw", 'N', 5, 0}}};
  for (const auto& s : reqsvc::kSymptoms) t.columns.push_back({std::string(s.column), 'N', 1, 0});
  // When the call was taken: the desk fills the date-time column with the
  // current date and time and stores the bare 0, the empty date, in the date.
  t.columns.push_back({"data_z", 'D', 8, 0});
  t.columns.push_back({"vr_z", 'T', 8, 0});
  t.columns.push_back({"prim", 'M', 4, 0});
  return t;
}

}  // namespace ravelto::demo
