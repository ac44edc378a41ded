// Tables exchanged with independent implementations (python3-dbf and
// python3-dbfread): what they write the engine reads, and what the engine
// writes they read back with the same values.

#include <gtest/gtest.h>

#include <sstream>

#include "registry/table/create_table.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using registry_test::Cp;
using registry_test::Gateway;
using registry_test::TempFolder;

std::string Script(const char* name) { return std::string(RAVELTO_TEST_DATA) + "/registry/" + name; }

#ifdef _WIN32
constexpr char kNoPython[] =
    "python3-dbf is a Linux program, which the Windows tests under wine cannot start; the Linux build runs this check";
#else
constexpr char kNoPython[] = "python3-dbf is not installed";
#endif

bool PythonReady() {
  return registry_test::RunCommand(registry_test::Python() + " -c 'import dbf, dbfread' 2>/dev/null") == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(Interop, TableWrittenByPythonDbfReads) {
  if (!PythonReady()) GTEST_SKIP() << kNoPython;
  TempFolder folder;
  ASSERT_EQ(registry_test::RunCommand(registry_test::Python() + " " + Script("interop_write.py") + " " + folder.Path()), 0);
  Gateway g(folder.Path());
  g.Open("select * from pyw order by name");
  ASSERT_EQ(g.query.RecordCount(), 3);  // the fourth row is deleted
  EXPECT_EQ(g.query.AsText("name"), "O'Brien             ");
  EXPECT_EQ(g.query.AsText("note"), std::string(3000, '\xFF'));
  EXPECT_EQ(g.query.AsText("born"), "");
  EXPECT_EQ(g.query.AsText("opt"), "");
  g.Open("select * from pyw where opt = ''");  // nulls never compare
  EXPECT_EQ(g.query.RecordCount(), 1);
  g.Open("select * from pyw order by name");
  g.query.Next();
  EXPECT_EQ(g.query.AsText("name"), Cp("Ёлкин               "));
  EXPECT_EQ(g.query.AsText("seen"), "01.01.2000");
  EXPECT_EQ(g.query.AsText("amount"), "-0,25");
  EXPECT_EQ(g.query.AsText("code"), "-3");
  EXPECT_EQ(g.query.AsInteger("cnt"), 2147483646);
  g.query.Next();
  EXPECT_EQ(g.query.AsText("note"), Cp("Заметка: строка\r\nвторая"));
  EXPECT_EQ(g.query.AsText("born"), "29.02.1980");
  EXPECT_EQ(g.query.AsText("seen"), "04.03.2021 5:06:07");
  EXPECT_EQ(g.query.AsText("amount"), "1234,5");
  EXPECT_EQ(g.query.AsText("flag"), "True");
  EXPECT_EQ(g.query.AsText("opt"), Cp("да        "));
  g.Open("select * from pyw where code = 42 and note = 'Z'");
  EXPECT_EQ(g.query.RecordCount(), 0);

  // The FoxPro 2.x table reads too, but is never written.
  g.Open("select * from old");
  ASSERT_EQ(g.query.RecordCount(), 2);
  EXPECT_EQ(g.query.AsText("note"), Cp("длинная заметка"));
  EXPECT_EQ(g.query.AsText("born"), "31.12.1999");
  EXPECT_EQ(g.query.AsText("n"), "-12,5");
  g.query.Next();
  EXPECT_EQ(g.query.AsText("name"), Cp("Пётр      "));
  EXPECT_EQ(g.query.AsText("note"), "");
  const std::string before = registry_test::ReadBytes(folder.File("old.dbf"));
  EXPECT_EQ(g.ExecuteError("update old set n = 1"),
            "Table 'old' has file type 0xF5, which this program does not write");
  EXPECT_EQ(registry_test::ReadBytes(folder.File("old.dbf")), before);
}

TEST(Interop, TableWrittenByTheEngineReadsInBothPythonLibraries) {
  if (!PythonReady()) GTEST_SKIP() << kNoPython;
  TempFolder folder;
  // python3-dbf numbers null bits by field position: the nullable field
  // goes first so that its numbering and the table's agree.
  CreateTable(folder.Path(), "eng",
              {{"opt", 'C', 10, 0, true}, {"name", 'C', 20}, {"note", 'M'}, {"born", 'D'}, {"seen", 'T'},
               {"amount", 'N', 10, 2}, {"code", 'N', 8}, {"flag", 'L'}, {"cnt", 'I'}, {"ratio", 'B', 0, 3}});
  Gateway g(folder.Path());
  g.Execute(Cp("insert into eng (name, note, born, seen, amount, code, flag, cnt, opt, ratio) values "
               "('Иванов', 'Заметка: строка' + CHR(13) + CHR(10) + 'вторая', DATE(), DATETIME(), 1234.5, 42, "
               ".T., -7, 'да', 0.125)"));
  g.Execute(Cp("insert into eng (name, amount, code, flag, cnt, opt) values ('Ёлкин', -0.25, -3, .F., 2147483646, NULL)"));
  g.Execute("insert into eng (name, note) values (\"O'Brien\", 'first')");
  g.Execute("update eng set note = 'second memo', code = 7 where name = 'O'");
  std::string out;
  ASSERT_EQ(registry_test::RunCommand(registry_test::Python() + " " + Script("interop_read.py") + " " +
                                          folder.File("eng.dbf"),
                                      &out),
            0)
      << out;
  // Today's date as the engine wrote it.
  g.Open("select * from eng where code = 42");
  const std::string born = g.query.AsText("born");  // dd.MM.yyyy
  const std::string iso = born.substr(6, 4) + "-" + born.substr(3, 2) + "-" + born.substr(0, 2);
  const std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 7u) << out;
  EXPECT_EQ(lines[0].find("dbf|да|Иванов|Заметка: строка~вторая|" + iso + "|" + iso + "T"), 0u) << lines[0];
  EXPECT_NE(lines[0].find("|1234.5|42|T|-7|0.125"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "dbf|NULL|Ёлкин||NULL|NULL|-0.25|-3|F|2147483646|0");
  // A numeric column the insert did not name is blank, which Python reads as None.
  EXPECT_EQ(lines[2], "dbf||O'Brien|second memo|NULL|NULL|NULL|7|F|0|0");
  EXPECT_EQ(lines[3], "count|3");
  EXPECT_EQ(lines[4].find("dbfread|да|Иванов|Заметка: строка~вторая|" + iso), 0u) << lines[4];
  // dbfread does not apply null flags: the null text reads blank.
  EXPECT_EQ(lines[5], "dbfread||Ёлкин|NULL|NULL|NULL|-0.25|-3|F|2147483646|0");
  EXPECT_EQ(lines[6], "dbfread||O'Brien|second memo|NULL|NULL|NULL|7|F|0|0");
}

}  // namespace
}  // namespace ravelto::registry
