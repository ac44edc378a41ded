// The gateway over real table files: the fixtures written by independent
// tools, the desk's statements, comparisons, ordering and every failure.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "registry/gateway.h"
#include "registry/table/create_table.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using registry_test::Cp;
using registry_test::Gateway;
using registry_test::TempFolder;

class FixtureTables : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_test::CopyFixtures("registry-cdx", folder.Path());
    registry_test::CopyFixtures("plain-vfp", folder.Path());
  }
  TempFolder folder;
};

TEST_F(FixtureTables, PatientsTableReadsWholeWithDeletedRowsSkipped) {
  Gateway g(folder.Path());
  g.Open("SELECT * from m1005");
  EXPECT_EQ(g.query.RecordCount(), 490);  // 500 rows, every 50th deleted
  const std::vector<std::string> names = {"kl", "fiol", "im", "ot", "uch", "data_r", "telef",
                                          "prim", "ves", "zapis", "aktiv", "kod", "koef", "note"};
  const std::vector<int> codes = {8, 1, 1, 1, 8, 9, 1, 16, 8, 11, 5, 3, 6, 1};
  ASSERT_EQ(g.query.FieldCount(), static_cast<int>(names.size()));
  for (int i = 0; i < g.query.FieldCount(); ++i) {
    EXPECT_EQ(g.query.FieldName(i), names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(g.query.FieldType(i), codes[static_cast<std::size_t>(i)]) << names[static_cast<std::size_t>(i)];
  }
  g.Open("select * from m1005 where kl=7");
  ASSERT_EQ(g.query.RecordCount(), 1);
  EXPECT_EQ(g.query.AsText("FIOL"), Cp("Петров   1                    "));  // fixed width, blanks kept
  EXPECT_EQ(g.query.AsText("data_r"), "23.02.1950");
  EXPECT_EQ(g.query.AsText("zapis"), "02.01.2020 8:30:15");
  EXPECT_EQ(g.query.AsText("ves"), "0,14");
  EXPECT_EQ(g.query.AsText("kod"), "-249");
  EXPECT_EQ(g.query.AsText("aktiv"), "False");
  EXPECT_EQ(g.query.AsInteger("kl"), 7);
  EXPECT_EQ(g.query.AsText("telef"), "+7 900 0000001      ");
  g.Open("select * from m1005 where kl=350");  // the 50th row is deleted
  EXPECT_EQ(g.query.RecordCount(), 0);
  g.Open("select * from m1005 where kl=35");  // every 5th row has a null phone
  EXPECT_EQ(g.query.AsText("telef"), "");
  EXPECT_EQ(g.query.AsInteger("kl"), 35);
  g.Open("select * from m1005 where kl=21");  // every 3rd row has a memo
  EXPECT_EQ(g.query.AsText("prim").substr(0, 10), Cp("Примечание"));
  g.Open("select * from m1005 where fiol = \"O'Brien\"");
  EXPECT_GT(g.query.RecordCount(), 0);
  EXPECT_EQ(g.query.AsText("fiol").substr(0, 7), "O'Brien");
}

TEST_F(FixtureTables, PythonWrittenTypesTableReadsEveryType) {
  Gateway g(folder.Path());
  g.Open("select * from types");
  ASSERT_EQ(g.query.RecordCount(), 3);  // row 2 is deleted
  EXPECT_EQ(g.query.AsText("name"), Cp("Иванов              "));
  EXPECT_EQ(g.query.AsText("qty"), "12,5");
  EXPECT_EQ(g.query.AsText("cnt"), "7");
  EXPECT_EQ(g.query.AsText("price"), "1234,5678");
  EXPECT_EQ(g.query.AsText("ratio"), "0,125");
  EXPECT_EQ(g.query.AsText("born"), "29.02.1980");
  EXPECT_EQ(g.query.AsText("seen"), "04.03.2021 5:06:07");
  EXPECT_EQ(g.query.AsText("ok"), "True");
  EXPECT_EQ(g.query.AsText("big"), "123456789012");
  EXPECT_EQ(g.query.AsInteger("big"), static_cast<int>(123456789012LL % 4294967296LL));
  EXPECT_EQ(g.query.AsText("note").find(Cp("Многострочный")), 0u);
  g.query.Next();
  EXPECT_EQ(g.query.AsText("born"), "");
  EXPECT_EQ(g.query.AsDateTime("born"), 0.0);
  EXPECT_EQ(g.query.AsInteger("qty"), 0);
  g.query.Next();
  EXPECT_EQ(g.query.AsText("note").size(), 5000u);
  EXPECT_EQ(g.query.AsText("seen"), "07.12.2026");  // a date-time at midnight reads as the date
  g.query.Next();
  EXPECT_TRUE(g.query.Eof());
}

TEST_F(FixtureTables, FilesAreFoundWhateverTheirLetterCase) {
  std::filesystem::rename(folder.File("m1005.dbf"), folder.File("M1005.DBF"));
  std::filesystem::rename(folder.File("m1005.fpt"), folder.File("M1005.Fpt"));
  Gateway g(folder.Path());
  g.Open("select * from M1005 where kl=21");
  ASSERT_EQ(g.query.RecordCount(), 1);
  EXPECT_EQ(g.query.AsText("prim").substr(0, 10), Cp("Примечание"));
}

TEST_F(FixtureTables, EmptyResultKeepsTheFieldList) {
  Gateway g(folder.Path());
  g.Open("select top 1 * from m1042 order by kl");
  EXPECT_EQ(g.query.RecordCount(), 0);
  EXPECT_TRUE(g.query.Eof());
  ASSERT_GT(g.query.FieldCount(), 10);
  EXPECT_EQ(g.query.FieldName(0), "kl");
  EXPECT_EQ(g.query.AsText("kl"), "");
  g.Open("select * from m1005 where kl=-1");
  EXPECT_EQ(g.query.FieldCount(), 14);
  EXPECT_TRUE(g.query.Eof());
}

TEST_F(FixtureTables, DoctorsComeInRussianOrderOfTheirNames) {
  Gateway g(folder.Path());
  g.Open("select * from ci003 where kw>=78000 and kw<=78999 order by nb");
  std::vector<std::string> names = g.Column("nb");
  ASSERT_EQ(names.size(), 15u);
  for (std::size_t i = 1; i < names.size(); ++i) {
    // Case-insensitive alphabetical order: compare upper-cased first letters.
    EXPECT_LE(static_cast<unsigned char>(names[i - 1][0]) | 0x20, static_cast<unsigned char>(names[i][0]) | 0x20);
  }
  g.Open("select * from ci003 where kw>=61000 and kw<=61999");
  EXPECT_EQ(g.query.RecordCount(), 25);
  g.Open("select * from ci007 where kuch=5");
  EXPECT_EQ(g.query.AsInteger("kw"), 61005);
}

TEST_F(FixtureTables, TopTakesTheSmallestRowsInOnePass) {
  Gateway g(folder.Path());
  g.Open("select top 1 * from m1005 order by kl");
  ASSERT_EQ(g.query.RecordCount(), 1);
  EXPECT_EQ(g.query.AsText("kl"), "7");
  g.Open("select top 3 * from m1005 order by kl desc");
  EXPECT_EQ(g.Column("kl"), (std::vector<std::string>{"3493", "3486", "3479"}));  // kl 3500 is deleted
  g.Open("select top 2 * from m1005 where uch=3 order by kl");
  EXPECT_EQ(g.query.RecordCount(), 2);
  g.Open("select top 5 * from m1005");
  EXPECT_EQ(g.query.RecordCount(), 5);
}

TEST_F(FixtureTables, NullsNeverSelectAndNotNullIsNull) {
  Gateway g(folder.Path());
  g.Open("select * from m1005 where telef = '+7'");
  const int withPhone = g.query.RecordCount();
  g.Open("select * from m1005 where not telef = '+7'");
  EXPECT_EQ(g.query.RecordCount(), 0);
  g.Open("select * from m1005 where telef = '+7' or kl > 0");
  EXPECT_EQ(g.query.RecordCount(), 490);
  EXPECT_LT(withPhone, 490);
  EXPECT_GT(withPhone, 0);
}

TEST(GatewayConnection, OpensOnceClosesOnceAndKeepsTheString) {
  TempFolder folder;
  Connection c;
  c.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder.Path() + ";Mode=ReadWrite;Password=\"\"");
  EXPECT_EQ(c.Folder(), folder.Path());
  c.SetConnected(false);  // closed already: nothing happens
  c.SetConnected(true);
  c.SetConnected(true);
  EXPECT_TRUE(c.Connected());
  EXPECT_THROW(c.SetConnectionString("Data Source=/elsewhere"), DatabaseError);
  EXPECT_EQ(c.Folder(), folder.Path());
  c.SetConnected(false);
  EXPECT_FALSE(c.Connected());
  c.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder.Path() + "/missing;Mode=ReadWrite");
  try {
    c.SetConnected(true);
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open the registry: folder '" + folder.Path() + "/missing' does not exist");
  }
  EXPECT_FALSE(c.Connected());
  c.SetConnectionString("Provider=VFPOLEDB");
  EXPECT_THROW(c.SetConnected(true), DatabaseError);
}

TEST(GatewayQuery, FailuresCarryTheirExactMessages) {
  TempFolder folder;
  registry_test::CopyFixtures("registry-cdx", folder.Path());
  Gateway g(folder.Path());
  Query& q = g.query;
  q.Clear();
  try {
    q.RecordCount();
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
  g.Open("select * from ci007 where kuch=1");
  EXPECT_EQ(q.RecordCount(), 1);
  try {
    q.AsText("nosuch");
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'nosuch' not found");
  }
  q.Add("");  // changing the text discards the result
  EXPECT_THROW(q.RecordCount(), DatabaseError);
  EXPECT_EQ(g.OpenError("select * from nosuch"), "Table 'nosuch' not found in folder '" + folder.Path() + "'");
  EXPECT_EQ(g.OpenError("select * from ci007 where nosuch=1"),
            "Column 'nosuch' not found in table 'ci007' (position 27)");
  EXPECT_EQ(g.OpenError("select * from ci007 where kuch='1'"), "Operator/operand type mismatch at position 31");
  EXPECT_EQ(g.ExecuteError("select * from m1005 where kl=:kl"),
            "No value was supplied for the parameter at position 30");
  EXPECT_EQ(g.OpenError("select * from m1005 where kl="),
            "Syntax error at position 30: expected a value, found end of statement");
  g.connection.SetConnected(false);
  EXPECT_EQ(g.ExecuteError("select * from ci007"), "Operation is not allowed when the object is closed");
}

// A table shaped like the home-visit table, without an index.
void CreateVisits(const std::string& folder) {
  CreateTable(folder, "m1042",
              {{"kl", 'N', 10}, {"data_vizc", 'C', 10}, {"kto", 'C', 4}, {"prich_v", 'M'},
               {"telef", 'C', 20}, {"stree1_f", 'N', 6}, {"kw", 'N', 6}, {"tosh", 'N', 1},
               {"odish", 'N', 1}, {"data_z", 'D'}, {"vr_z", 'T'}, {"summa", 'N', 8, 2},
               {"opt", 'C', 5, 0, true}, {"flag", 'L'}, {"cnt", 'I'}});
}

TEST(GatewayWrites, AcceptStepInsertsThenClearsTheMarker) {
  TempFolder folder;
  CreateVisits(folder.Path());
  Gateway g(folder.Path());
  g.Open("select top 1 * from m1042 order by kl");
  EXPECT_EQ(g.query.FieldCount(), 15);
  const std::string prich = Cp("Температура: 38,5; кашель 'сухой'");
  for (int patient : {12, 34}) {
    EXPECT_EQ(g.Execute("INSERT INTO m1042 (kl,data_vizc,kto,prich_v,telef,stree1_f,kw,data_z,vr_z,summa) VALUE (" +
                        std::to_string(patient) + ",'112233','ZUVA'," + "\"" + prich + "\"" +
                        ",'+7 900',15,61003,DATETIME(),DATETIME(),-12.5)"),
              1);
    EXPECT_EQ(g.Execute("UPDATE m1042 SET data_vizc='0',tosh=1 WHERE data_vizc='112233'"), 1);
  }
  g.Open("select * from m1042 where data_vizc='112233'");
  EXPECT_EQ(g.query.RecordCount(), 0);
  g.Open("select * from m1042 order by kl desc");
  ASSERT_EQ(g.query.RecordCount(), 2);
  EXPECT_EQ(g.query.AsText("kl"), "34");
  EXPECT_EQ(g.query.AsText("data_vizc"), "0         ");
  EXPECT_EQ(g.query.AsText("prich_v"), prich);
  EXPECT_EQ(g.query.AsInteger("tosh"), 1);
  EXPECT_EQ(g.query.AsText("summa"), "-12,5");
  EXPECT_EQ(g.query.AsText("opt"), "     ");
  EXPECT_EQ(g.query.AsText("flag"), "False");
  EXPECT_GT(g.query.AsDateTime("vr_z"), 40000.0);
  EXPECT_EQ(g.query.AsDateTime("data_z"), static_cast<double>(static_cast<long>(g.query.AsDateTime("vr_z"))));
  // The update changed every row that carried the marker, and only those.
  EXPECT_EQ(g.Execute("UPDATE m1042 SET kto='X' WHERE kl=99"), 0);
  EXPECT_EQ(g.Execute("UPDATE m1042 SET prich_v='new', opt=NULL WHERE kl=12"), 1);
  g.Open("select * from m1042 where kl=12");
  EXPECT_EQ(g.query.AsText("prich_v"), "new");
  EXPECT_EQ(g.query.AsText("opt"), "");
  g.Open("select * from m1042 where kl=34");
  EXPECT_EQ(g.query.AsText("prich_v"), prich);  // its memo block was not touched
}

TEST(GatewayWrites, RefusedValuesWriteNothing) {
  TempFolder folder;
  CreateVisits(folder.Path());
  Gateway g(folder.Path());
  g.Execute("insert into m1042 (kl, data_vizc) values (1, 'a')");
  const std::string before = registry_test::ReadBytes(folder.File("m1042.dbf"));
  const std::pair<const char*, const char*> cases[] = {
      {"insert into m1042 (kl) values ('1')",
       "Data type mismatch: character value for column 'kl' of table 'm1042' (position 32)"},
      {"insert into m1042 (kto) values (5)",
       "Data type mismatch: numeric value for column 'kto' of table 'm1042' (position 33)"},
      {"insert into m1042 (kl) values (12345678901)", "Numeric overflow in column 'kl' of table 'm1042'"},
      {"insert into m1042 (kto) values ('ZUVAX')",
       "Value is too long for column 'kto' of table 'm1042': 5 characters, the field holds 4"},
      {"insert into m1042 (kl, stree1_f) values (1, )",
       "Syntax error at position 45: expected a value, found \")\""},
      {"insert into m1042 (kw) values (NULL)", "Field column 'kw' of table 'm1042' does not accept null values"},
      {"insert into m1042 (nosuch) values (1)", "Column 'nosuch' not found in table 'm1042' (position 20)"},
      {"insert into m1042 (kl, kl) values (1, 2)", "Column 'kl' is assigned twice (position 24)"},
      {"update m1042 set summa = 'x' where kl=1",
       "Data type mismatch: character value for column 'summa' of table 'm1042' (position 26)"},
      {"update m1042 set summa = 1234567 where kl=1", "Numeric overflow in column 'summa' of table 'm1042'"},
      {"insert into m1042 (flag) values (1)",
       "Data type mismatch: numeric value for column 'flag' of table 'm1042' (position 34)"},
      {"insert into m1042 (data_z) values (20240101)",
       "Data type mismatch: numeric value for column 'data_z' of table 'm1042' (position 36)"},
      {"insert into m1042 (vr_z) values (0+1)",
       "Data type mismatch: numeric value for column 'vr_z' of table 'm1042' (position 35)"},
  };
  for (const auto& [sql, message] : cases) EXPECT_EQ(g.ExecuteError(sql), message) << sql;
  EXPECT_EQ(registry_test::ReadBytes(folder.File("m1042.dbf")), before);
}

// The desk runs under the operator's locale, where the C library's decimal
// point may be a comma; numbers in fields and statements must not follow it.
TEST(GatewayWrites, NumbersDoNotFollowTheProcessLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
#ifdef _WIN32
  const char* russian = "Russian_Russia.1251";
#else
  const char* russian = "ru_RU.UTF-8";
#endif
  if (!std::setlocale(LC_NUMERIC, russian)) GTEST_SKIP() << russian << " is not installed";
  ASSERT_EQ(*std::localeconv()->decimal_point, ',');
  TempFolder folder;
  CreateTable(folder.Path(), "t", {{"n", 'N', 8, 2}, {"f", 'F', 12, 3}, {"b", 'B', 8, 2}});
  {
    Gateway g(folder.Path());
    g.Execute("insert into t (n, f, b) values (12.5, -0.125, 2.75)");
    g.Open("select * from t where n = 12.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_EQ(g.query.RecordCount(), 1);
    EXPECT_EQ(g.query.AsText("n"), "12,5");
    EXPECT_EQ(g.query.AsText("f"), "-0,125");
    EXPECT_EQ(g.query.AsText("b"), "2,75");
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

// A bare 0 is what the accept step writes into every column it does not
// name; in date, date-time and logical columns it stores the empty value.
TEST(GatewayWrites, BareZeroStoresTheEmptyDateDateTimeAndFalse) {
  TempFolder folder;
  CreateVisits(folder.Path());
  Gateway g(folder.Path());
  g.Execute("insert into m1042 (kl, data_z, vr_z, flag) value (7, 0, 0, 0)");
  g.Open("select * from m1042 where kl=7");
  EXPECT_EQ(g.query.AsText("data_z"), "");
  EXPECT_EQ(g.query.AsText("vr_z"), "");
  EXPECT_EQ(g.query.AsText("flag"), "False");
}

TEST(GatewayWrites, AutoincrementTakesTheDescriptorsNextValue) {
  TempFolder folder;
  CreateTable(folder.Path(), "t", {{"id", 'I'}, {"name", 'C', 4}});
  // Make id autoincrementing: flags 0x0C, next value 100, step 2.
  const std::string dbf = folder.File("t.dbf");
  registry_test::SetByte(dbf, 32 + 18, 0x0C);
  registry_test::SetByte(dbf, 32 + 19, 100);
  registry_test::SetByte(dbf, 32 + 23, 2);
  Gateway g(folder.Path());
  g.Execute("insert into t (name) values ('a')");
  EXPECT_NE(g.ExecuteError("insert into t (name) values ('toolong')"), "");  // takes no value
  g.Execute("insert into t (name) values ('b')");
  EXPECT_EQ(g.ExecuteError("insert into t (id, name) values (5, 'c')"),
            "Column 'id' of table 't' is autoincrementing and cannot be set");
  g.Open("select * from t");
  EXPECT_EQ(g.Column("id"), (std::vector<std::string>{"100", "102"}));
  EXPECT_EQ(static_cast<unsigned char>(registry_test::ReadBytes(dbf)[32 + 19]), 104);
}

TEST(GatewayOrdering, NumbersOrderByValueWithNullFirst) {
  TempFolder folder;
  CreateTable(folder.Path(), "t", {{"k", 'N', 6, 0, true}, {"tag", 'C', 2}});
  Gateway g(folder.Path());
  for (const char* row : {"(5, 'a')", "(-3, 'b')", "(NULL, 'c')", "(12, 'd')", "(0, 'e')"})
    g.Execute(std::string("insert into t (k, tag) values ") + row);
  g.Execute("insert into t (tag) values ('f')");  // k left blank: reads as 0
  g.Open("select * from t order by k, tag");
  EXPECT_EQ(g.Column("tag"), (std::vector<std::string>{"c ", "b ", "e ", "f ", "a ", "d "}));
  g.Open("select top 2 * from t order by k desc");
  EXPECT_EQ(g.Column("tag"), (std::vector<std::string>{"d ", "a "}));
}

TEST(GatewayComparisons, CharacterEqualityComparesUpToTheShorterValue) {
  TempFolder folder;
  CreateTable(folder.Path(), "t", {{"c", 'C', 8}, {"n", 'N', 8, 2}, {"d", 'D'}});
  Gateway g(folder.Path());
  for (const char* row : {"('abc', 1.5, DATE())", "('ab', -2, DATE())", "('1122334', 0, DATE())", "('', 7, DATE())"})
    g.Execute(std::string("insert into t (c, n, d) values ") + row);
  const std::pair<const char*, int> cases[] = {
      {"c = 'ab'", 2},        {"c == 'ab'", 1},   {"c = 'abc  '", 1},  {"c == 'abc  '", 1},
      {"c = ''", 4},          {"c = '112233'", 1}, {"c == '112233'", 0}, {"c <> 'ab'", 2},
      {"c # 'ab'", 2},        {"c != 'ab'", 2},  {"'ab' = c", 2},     {"c > 'aa'", 2},
      {"n = 1.50", 1},        {"n < 0", 1},      {"n >= -2 and n <= 1.5", 3}, {"n + 1 = 2.5", 1},
      {"c + 'x' = 'ab x'", 0}, {"c + 'x' = 'ab      x'", 1}, {"d = DATE()", 4}, {"d < DATETIME()", 4},
      {"c = CHR(97) + 'b'", 2}, {"c = [ab]", 2},   {"c = \"ab\"", 2},  {"(n > 0 or c = 'ab') and not n = 7", 2},
  };
  for (const auto& [where, count] : cases) {
    g.Open(std::string("select * from t where ") + where);
    EXPECT_EQ(g.query.RecordCount(), count) << where;
  }
  EXPECT_EQ(g.OpenError("select * from t where d = 'x'"), "Operator/operand type mismatch at position 25");
  EXPECT_EQ(g.OpenError("select * from t where n"), "The WHERE condition at position 23 is not a logical expression");
}

}  // namespace
}  // namespace ravelto::registry
