#include "app/desk/statements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/desk/cp1251_literal.h"
#include "registry/sql/parameter_scan.h"

namespace ravelto::desk {
namespace {

AcceptValues ExampleValues() {
  AcceptValues v;
  v.patientCode = "123";
  v.memo = "fever";
  v.phone = "555-12-34";
  v.address = {"17", "Lenina", "5a", "12", "3", "44", "Gorod"};
  v.doctorText = "Ivanova(61001)";
  return v;
}

TEST(BuildInsert, ExampleTable) {
  const std::vector<Column> columns = {{"kl", 3}, {"data_vizc", 1}, {"kto", 1}, {"kw", 3}};
  EXPECT_EQ(BuildInsert(columns, ExampleValues()),
            "INSERT INTO m1042 (kl,data_vizc,kto,kw) VALUE (123,'112233','ZUVA',61001)");
}

// Date (9) and logical (5) columns fall under "any other type" and get a bare 0.
TEST(BuildInsert, EveryNamedColumnAndEveryTypeDefault) {
  const std::vector<Column> columns = {
      {"kl", 3},       {"data_vizc", 1}, {"kto", 1},     {"prich_v", 16}, {"telef", 1},
      {"stree1_f", 8}, {"street_f", 1},  {"house_f", 1}, {"kv_f", 1},     {"kr_f", 8},
      {"knacp_f", 8},  {"nnacp_f", 1},   {"kw", 8},      {"note", 1},     {"made", 11},
      {"story", 16},   {"born", 9},      {"flag", 5},    {"tosh", 8}};
  EXPECT_EQ(BuildInsert(columns, ExampleValues()),
            "INSERT INTO m1042 (kl,data_vizc,kto,prich_v,telef,stree1_f,street_f,house_f,kv_f,kr_f,"
            "knacp_f,nnacp_f,kw,note,made,story,born,flag,tosh) VALUE (123,'112233','ZUVA','fever',"
            "'555-12-34',17,'Lenina','5a','12',3,44,'Gorod',61001,'',DATETIME(),'',0,0,0)");
}

TEST(BuildInsert, NamesDifferingInLetterCaseGetTheirTypeDefault) {
  const std::vector<Column> columns = {{"KL", 3}, {"Kto", 1}, {"KW", 8}, {"Data_Vizc", 11}};
  EXPECT_EQ(BuildInsert(columns, ExampleValues()),
            "INSERT INTO m1042 (kl,Kto,KW,Data_Vizc) VALUE (123,'',0,DATETIME())");
}

TEST(BuildInsert, KlOnlyTable) {
  const std::vector<Column> columns = {{"kl", 3}};
  EXPECT_EQ(BuildInsert(columns, ExampleValues()), "INSERT INTO m1042 (kl) VALUE (123)");
}

TEST(BuildInsert, DoctorNotChosenOrWithoutNameWritesZero) {
  const std::vector<Column> columns = {{"kl", 3}, {"kw", 3}};
  AcceptValues v = ExampleValues();
  for (const char* text : {"Врач не указан", "(61001)", ""}) {
    v.doctorText = Cp1251(text);
    EXPECT_EQ(BuildInsert(columns, v), "INSERT INTO m1042 (kl,kw) VALUE (123,0)") << text;
  }
}

// Values that would be spliced bare but are not whole numbers are refused
// before anything runs: a broken or altered INSERT never reaches the registry.
TEST(BuildInsert, RefusesBareValuesThatAreNotWholeNumbers) {
  const std::vector<Column> columns = {{"kl", 3}, {"stree1_f", 8}, {"kr_f", 8}, {"knacp_f", 8}, {"kw", 8}};
  const struct {
    const char* what;
    void (*spoil)(AcceptValues&);
  } cases[] = {
      {"patient code injection", [](AcceptValues& v) { v.patientCode = "1 or 1=1"; }},
      {"patient code empty", [](AcceptValues& v) { v.patientCode = ""; }},
      {"stree1_f empty (patient not found)", [](AcceptValues& v) { v.address.stree1_f = ""; }},
      {"kr_f decimal", [](AcceptValues& v) { v.address.kr_f = "3,5"; }},
      {"knacp_f text", [](AcceptValues& v) { v.address.knacp_f = "1)--"; }},
      {"doctor code empty: no )", [](AcceptValues& v) { v.doctorText = "Ivanova(61001"; }},
      {"doctor code empty: ) before (", [](AcceptValues& v) { v.doctorText = "a)b(61001)"; }},
      {"doctor code typed", [](AcceptValues& v) { v.doctorText = "x(1,0),(2"; }},
  };
  for (const auto& c : cases) {
    AcceptValues v = ExampleValues();
    c.spoil(v);
    try {
      BuildInsert(columns, v);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const DeskError& e) {
      EXPECT_NE(std::string(e.what()).find(Cp1251("в m1042 ничего не записано")), std::string::npos)
          << c.what;
    }
  }
  // The same values do not matter to a table without those columns.
  AcceptValues v = ExampleValues();
  v.address = {};
  v.doctorText = "(";
  const std::vector<Column> klOnly = {{"kl", 3}};
  EXPECT_NO_THROW(BuildInsert(klOnly, v));
}

TEST(BuildInsert, RefusalNamesTheValue) {
  const std::vector<Column> columns = {{"kl", 3}};
  AcceptValues v = ExampleValues();
  v.patientCode = "1 or 1=1";
  try {
    BuildInsert(columns, v);
    FAIL();
  } catch (const DeskError& e) {
    EXPECT_EQ(std::string(e.what()),
              Cp1251("Код пациента \"1 or 1=1\" не является целым числом; в m1042 ничего не записано"));
  }
}

TEST(BuildMarkerUpdate, SplicesTheServicesAssignments) {
  EXPECT_EQ(BuildMarkerUpdate(""), "UPDATE m1042 SET data_vizc='0' WHERE data_vizc='112233'");
  EXPECT_EQ(BuildMarkerUpdate(",tosh=1,odish=1"),
            "UPDATE m1042 SET data_vizc='0',tosh=1,odish=1 WHERE data_vizc='112233'");
}

TEST(BuildMarkerUpdate, RefusesAnythingButAssignments) {
  for (const char* fragment : {",tosh=1 WHERE 1=1 OR kl=kl", "; DELETE FROM m1042", "tosh=1",
                               ",tosh=kl", ",tosh=1,", ",x=[a:b]", ",tosh=1)"}) {
    EXPECT_THROW(BuildMarkerUpdate(fragment), DeskError) << fragment;
  }
}

TEST(CardQueries, WholeNumbersOnly) {
  EXPECT_EQ(PatientQuery("123"), "select * from m1005 where kl=123");
  EXPECT_EQ(PatientQuery("-7"), "select * from m1005 where kl=-7");
  EXPECT_THROW(PatientQuery("1 or 1=1"), DeskError);
  EXPECT_THROW(PatientQuery(""), DeskError);
  EXPECT_EQ(DistrictQuery("12"), "select * from ci007 where kuch=12");
  EXPECT_THROW(DistrictQuery("12 or 1=1"), DeskError);
  EXPECT_THROW(DistrictQuery("12,5"), DeskError);
  EXPECT_EQ(DoctorsQuery("61"), "select * from ci003 where kw>=61000 and kw<=61999 order by nb");
  EXPECT_EQ(DoctorsQuery(""), "select * from ci003 where kw>=000 and kw<=999 order by nb");
  EXPECT_THROW(DoctorsQuery("61 or 1=1 or 1"), DeskError);
  EXPECT_THROW(DoctorsQuery(" 61"), DeskError);
}

// The statement object's parameter scan toggles on every quote character, so
// a literal must keep any colon of the text inside what the scan sees as a
// literal, and must leave the scan outside a literal when it ends.
TEST(SqlLiteral, SurvivesTheParameterScan) {
  const char* texts[] = {
      "plain", "", "it's", "say \"hi\"", "it's \"x\" [y]", "10:30", "it's 10:30",
      "\"at 10:30\"", "a`b:c", "all ' \" ` ] [ : :: of them", "line\r\nbreak: kept"};
  for (const char* text : texts) {
    const std::string literal = SqlLiteral(text);
    const std::string statement = "X (" + literal + ",'after:colon')";
    EXPECT_EQ(registry::ScanParameters(statement), statement) << text << " -> " << literal;
  }
  EXPECT_EQ(SqlLiteral("plain"), "'plain'");
}

}  // namespace
}  // namespace ravelto::desk
