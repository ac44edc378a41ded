// The demo registry: generated content and the written tables, read back
// through the registry gateway with the statements the desk runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "registry/gateway.h"
#include "registry/table/database_error.h"
#include "tests/tools/service_process.h"
#include "tools/make-demo-registry/demo_data.h"
#include "tools/make-demo-registry/demo_writer.h"
#include "tools/request-service/state.h"

namespace ravelto::demo {
namespace {

using reqsvc::testing::Cp;

constexpr CivilDay kToday{2026, 12, 7};

// The desk's age rule: whole years = |days| / 365.25, truncated.
int DeskAge(CivilDay birth, CivilDay today) {
  return static_cast<int>(std::llabs(DaysSince1899(today) - DaysSince1899(birth)) / 365.25);
}

TEST(DemoData, SameSeedAndDayGiveTheSameRegistry) {
  const DemoRegistry a = MakeDemoRegistry(kDefaultSeed, 50, kToday);
  const DemoRegistry b = MakeDemoRegistry(kDefaultSeed, 50, kToday);
  const DemoRegistry c = MakeDemoRegistry(kDefaultSeed + 1, 50, kToday);
  ASSERT_EQ(a.patients.size(), 50u);
  int differ = 0;
  for (std::size_t i = 0; i < a.patients.size(); ++i) {
    EXPECT_EQ(a.patients[i].fiol + a.patients[i].telef, b.patients[i].fiol + b.patients[i].telef);
    differ += a.patients[i].telef != c.patients[i].telef;
  }
  EXPECT_GT(differ, 40);
}

TEST(DemoData, PatientsCoverEveryAgeAndDistrictAndDoctorsExist) {
  const DemoRegistry r = MakeDemoRegistry(kDefaultSeed, kDefaultPatients, kToday);
  std::set<int> ages, districts;
  for (std::size_t i = 0; i < r.patients.size(); ++i) {
    const Patient& p = r.patients[i];
    EXPECT_EQ(p.kl, kFirstPatientCode + static_cast<int>(i));
    EXPECT_EQ(DeskAge(p.data_r, kToday), static_cast<int>(i % 101)) << p.kl;
    ages.insert(DeskAge(p.data_r, kToday));
    districts.insert(p.uch);
    // Values the desk splices into its INSERT must not break the statement.
    for (const std::string* s : {&p.street_f, &p.house_f, &p.kv_f, &p.nnacp_f, &p.telef}) {
      EXPECT_EQ(s->find_first_of("'\":|"), std::string::npos) << *s;
    }
  }
  EXPECT_EQ(ages.size(), 101u);
  EXPECT_EQ(districts, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  std::set<int> staff;
  for (const auto& s : r.staff) {
    EXPECT_TRUE((s.kw >= 61001 && s.kw <= 61025) || (s.kw >= 78001 && s.kw <= 78015)) << s.kw;
    staff.insert(s.kw);
  }
  EXPECT_EQ(staff.size(), 40u);
  for (const auto& d : r.districts) EXPECT_TRUE(staff.count(d.kw)) << d.kuch;
  // 2024-02-29 + whole years: the day arithmetic survives leap days.
  EXPECT_EQ(DaysSince1899({1899, 12, 30}), 0);
  EXPECT_EQ(DaysSince1899({1900, 3, 1}), 61);
  const CivilDay leap = FromDaysSince1899(DaysSince1899({2024, 2, 29}));
  EXPECT_EQ(leap.year * 10000 + leap.month * 100 + leap.day, 20240229);
}

class WrittenRegistry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(reqsvc::testing::MakeTempDir() + "/demo");
    WriteDemoRegistry(*folder_, MakeDemoRegistry(kDefaultSeed, kDefaultPatients, kToday), false);
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(std::filesystem::path(*folder_).parent_path());
    delete folder_;
  }
  void SetUp() override {
    connection_.SetConnectionString("Provider=VFPOLEDB.1;Data Source=" + *folder_ + ";Collating Sequence=RUSSIAN");
    connection_.SetConnected(true);
  }
  // Runs a query the desk's way: Clear, Add, Execute, Open.
  registry::Query& Run(const std::string& sql) {
    query_.Clear();
    query_.Add(sql);
    query_.Execute();
    query_.Open();
    return query_;
  }
  static std::string* folder_;
  registry::Connection connection_;
  registry::Query query_{connection_};
};
std::string* WrittenRegistry::folder_ = nullptr;

TEST_F(WrittenRegistry, TheCardsQueriesFindPatientDistrictDoctorAndDoctorLists) {
  auto& q = Run("select * from m1005 where kl=10003");
  ASSERT_EQ(q.RecordCount(), 1);
  q.First();
  EXPECT_FALSE(q.AsText("fiol").empty());
  EXPECT_FALSE(q.AsText("street_f").empty());
  const std::string uch = q.AsText("uch");
  EXPECT_EQ(DeskAge(FromDaysSince1899(static_cast<std::int64_t>(q.AsDateTime("data_r"))), kToday), 2);

  auto& d = Run("select * from ci007 where kuch=" + uch);
  ASSERT_EQ(d.RecordCount(), 1);
  d.First();
  const int doctor = d.AsInteger("kw");
  EXPECT_EQ(doctor, 61000 + std::atoi(uch.c_str()));

  auto& adults = Run("select * from ci003 where kw>=61000 and kw<=61999 order by nb");
  EXPECT_EQ(adults.RecordCount(), 25);
  auto& children = Run("select * from ci003 where kw>=78000 and kw<=78999 order by nb");
  EXPECT_EQ(children.RecordCount(), 15);
}

TEST_F(WrittenRegistry, AnAcceptedRequestCanBeWrittenIntoTheVisitTable) {
  auto& q = Run("select top 1 * from m1042 order by kl");
  EXPECT_EQ(q.RecordCount(), 0);
  ASSERT_GT(q.FieldCount(), 20);
  EXPECT_EQ(q.FieldName(0), "kl");
  std::set<std::string> names;
  for (int i = 0; i < q.FieldCount(); ++i) names.insert(q.FieldName(i));
  for (const char* c : {"data_vizc", "kto", "prich_v", "telef", "stree1_f", "street_f", "house_f", "kv_f", "kr_f",
                        "knacp_f", "nnacp_f", "kw", "tosh", "odish", "bol_sp", "bol_gol", "pov_nar", "kash"}) {
    EXPECT_TRUE(names.count(c)) << c;
  }
  // The desk's insert: named columns get their values, the others their
  // type's default (text and memo '', date-time DATETIME(), the rest 0).
  std::string cols = "kl", vals = "10003";
  for (int i = 1; i < q.FieldCount(); ++i) {
    const std::string n = q.FieldName(i);
    cols += "," + n;
    if (n == "data_vizc") vals += ",'112233'";
    else if (n == "kto") vals += ",'ZUVA'";
    else if (n == "prich_v") vals += ",'" + Cp("Температура") + "'";
    else if (n == "telef") vals += ",'+7 900'";
    else if (n == "street_f" || n == "house_f" || n == "kv_f" || n == "nnacp_f") vals += ",'x'";
    else if (n == "kw") vals += ",61003";
    else if (q.FieldType(i) == 1 || q.FieldType(i) == 16) vals += ",''";
    else if (q.FieldType(i) == 11) vals += ",DATETIME()";
    else vals += ",0";
  }
  query_.Clear();
  query_.Add("INSERT INTO m1042 (" + cols + ") VALUE (" + vals + ")");
  EXPECT_EQ(query_.Execute(), 1);
  query_.Clear();
  query_.Add("UPDATE m1042 SET data_vizc='0',pov_nar=1,slab=1 WHERE data_vizc='112233'");
  EXPECT_EQ(query_.Execute(), 1);
  auto& row = Run("select * from m1042 where kl=10003");
  ASSERT_EQ(row.RecordCount(), 1);
  row.First();
  EXPECT_EQ(row.AsText("data_vizc"), "0     ");  // C(6), blank-padded
  EXPECT_EQ(row.AsInteger("slab"), 1);
  EXPECT_EQ(row.AsInteger("kw"), 61003);
  // data_z is a plain date: the bare 0 is stored as the empty date.
  EXPECT_EQ(row.AsText("data_z").find_first_not_of(' '), std::string::npos) << row.AsText("data_z");
}

TEST_F(WrittenRegistry, TheServicesSampleRequestsNamePatientsAndDoctorsOfThisRegistry) {
  const reqsvc::State sample = reqsvc::LoadStateFile(RAVELTO_SOURCE_DIR "/tools/request-service/sample-state.txt");
  ASSERT_FALSE(sample.requests.empty());
  for (const auto& r : sample.requests) {
    EXPECT_EQ(Run("select * from m1005 where kl=" + r.patient).RecordCount(), 1) << r.patient;
    const auto open = r.doctor.find('(');
    if (open == std::string::npos) continue;
    const std::string code = r.doctor.substr(open + 1, r.doctor.find(')') - open - 1);
    auto& s = Run("select * from ci003 where kw=" + code);
    ASSERT_EQ(s.RecordCount(), 1) << code;
    s.First();
    std::string name = s.AsText("nb");
    name = name.substr(0, name.find_last_not_of(' ') + 1);
    for (char& c : name) c = c == ' ' ? '_' : c;
    EXPECT_EQ(r.doctor.substr(0, open), name);
  }
}

TEST_F(WrittenRegistry, AnExistingRegistryIsKeptUnlessReplacingIsAsked) {
  const DemoRegistry small = MakeDemoRegistry(1, 5, kToday);
  EXPECT_THROW(WriteDemoRegistry(*folder_, small, false), registry::DatabaseError);
  EXPECT_EQ(Run("select * from m1005 where kl=10300").RecordCount(), 1);
}

}  // namespace
}  // namespace ravelto::demo
