#include "app/desk/failure_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/desk/cp1251_literal.h"
#include "app/journal/journal.h"
#include "common/int_text.h"
#include "maintenance/maintenance_error.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/file_io.h"

namespace ravelto::desk {
namespace {

using registry::DatabaseError;
using registry::DatabaseFailure;

// The text without its last line (the file detail), and that line.
std::string Sentences(const std::string& text) { return text.substr(0, text.rfind('\n')); }
std::string LastLine(const std::string& text) { return text.substr(text.rfind('\n') + 1); }

// Whether the operator's sentences hold a Latin word (three letters or more
// in a row); table codes like "m1042" are not words.
bool HasLatinWord(const std::string& text) {
  int run = 0;
  for (unsigned char c : text) {
    run = std::isalpha(c) && c < 0x80 ? run + 1 : 0;
    if (run >= 3) return true;
  }
  return false;
}

TEST(FailureText, EachEngineFailureKindIsToldInRussianWithItsFile) {
  const struct {
    DatabaseFailure kind;
    const char* message;
    const char* file;
    const char* happened;  // the first sentence, UTF-8
    const char* detail;    // the last line, UTF-8; "" for none
  } cases[] = {
      {DatabaseFailure::kLocked, "Record 2 of Table 'm1042' is in use by another user (/reg/m1042.dbf)",
       "/reg/m1042.dbf", "Запись 2 таблицы m1042 занята другой программой.", "m1042.dbf, запись 2"},
      {DatabaseFailure::kLocked, "Table 'm1042' is in use by another user (C:\\reg\\M1042.DBF)", "C:\\reg\\M1042.DBF",
       "Таблица m1042 занята другой программой.", "M1042.DBF"},
      {DatabaseFailure::kLocked, "Memo file of table 'm1042' is in use by another user (/reg/m1042.fpt)",
       "/reg/m1042.fpt", "Файл примечаний таблицы m1042 занят другой программой.", "m1042.fpt"},
      {DatabaseFailure::kDamaged, "Table 'm1005' is damaged: its header is truncated", "",
       "Таблица m1005 повреждена.", "m1005.dbf"},
      {DatabaseFailure::kDamaged, "Memo block 7 lies outside the file in memo file '/reg/m1005.fpt' of table 'm1005'",
       "/reg/m1005.fpt", "Файл примечаний таблицы m1005 повреждён.", "m1005.fpt"},
      {DatabaseFailure::kDiskFull, "Cannot write '/reg/m1042.fpt': No space left on device", "/reg/m1042.fpt",
       "На диске нет места для записи в базу регистратуры.", "m1042.fpt"},
      {DatabaseFailure::kWriteFailed, "Cannot flush '/reg/m1042.dbf': Input/output error", "/reg/m1042.dbf",
       "Система не дала записать в файл базы регистратуры.", "m1042.dbf"},
      {DatabaseFailure::kMissing, "Table 'ci007' not found in folder '/reg'", "ci007.dbf",
       "Таблица ci007 не найдена в папке базы или не открывается.", "ci007.dbf"},
      {DatabaseFailure::kNoRegistry, "Cannot open the registry: folder '/no/reg' does not exist", "/no/reg",
       "Папка базы регистратуры не найдена или не читается.", "/no/reg"},
      {DatabaseFailure::kFull, "Table 'm1042' is full; nothing was written", "/reg/m1042.dbf",
       "Таблица m1042 достигла предельного размера.", "m1042.dbf"},
      {DatabaseFailure::kRefused, "Table 't3' has file type 0x03, which this program does not write", "/reg/t3.dbf",
       "Таблица t3 хранится в формате, который эта программа не изменяет.", "t3.dbf"},
      {DatabaseFailure::kIndex,
       "Cannot write to table 'm1042': its index cannot be used (Index file m1042.cdx is in use by another user); "
       "nothing was written",
       "/reg/m1042.cdx", "Индекс таблицы m1042 занят другой программой.", "m1042.cdx"},
      {DatabaseFailure::kIndex, "Uniqueness of index violated: tag KL of table 'm1005'; nothing was written",
       "/reg/m1005.cdx", "В таблице m1005 уже есть строка с таким ключом, а индекс не допускает повторов.",
       "m1005.cdx, тег KL"},
      {DatabaseFailure::kIndex,
       "Cannot write to table 'm1042': a write to it was interrupted and its index fails the check (tag KL: order); "
       "nothing was written. Reindex the table in the registry program; the next write checks it again",
       "/reg/m1042.cdx", "Индекс таблицы m1042 повреждён.", "m1042.cdx"},
      {DatabaseFailure::kIndex,
       "Cannot write to table 'm1042': its header says it has a structural index (.cdx) but the file is missing; "
       "nothing was written",
       "m1042.cdx", "Индексный файл таблицы m1042 не найден.", "m1042.cdx"},
      {DatabaseFailure::kOther, "Column 'nosuch' not found in table 'm1042' (position 30)", "",
       "Не удалось выполнить запрос к базе регистратуры (таблица m1042).", ""},
      {DatabaseFailure::kOther, "Syntax error at position 5: expected FROM, found 'x'", "",
       "Не удалось выполнить запрос к базе регистратуры.", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const FailureText shown = DescribeFailure(DatabaseError(c.message, c.kind, c.file), FailureSetting::kGeneral);
    EXPECT_TRUE(shown.translated);
    EXPECT_EQ(shown.text.rfind(Cp1251(c.happened) + " ", 0), 0u) << shown.text;
    if (*c.detail) {
      EXPECT_EQ(LastLine(shown.text), Cp1251(c.detail));
      EXPECT_FALSE(HasLatinWord(Sentences(shown.text))) << shown.text;
    } else {
      EXPECT_EQ(shown.text.find('\n'), std::string::npos) << shown.text;
      EXPECT_FALSE(HasLatinWord(shown.text)) << shown.text;
    }
  }
}

// The kinds as the engine itself raises them: a damaged table, a missing
// table, and a write to a full disk (Linux's /dev/full).
TEST(FailureText, TheEngineRaisesItsFailuresWithTheirKinds) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ravelto-failure-text-registry";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "m1005.dbf", std::ios::binary) << std::string("\x30\x01\x02", 3); }
  const struct {
    const char* sql;
    DatabaseFailure kind;
    const char* detail;
  } cases[] = {
      {"select * from m1005", DatabaseFailure::kDamaged, "m1005.dbf"},
      {"select * from ci007", DatabaseFailure::kMissing, "ci007.dbf"},
  };
  for (const auto& c : cases) {
    try {
      registry::RunStatement(dir.string(), c.sql, true);
      ADD_FAILURE() << c.sql;
    } catch (const DatabaseError& e) {
      EXPECT_EQ(e.Kind(), c.kind) << e.what();
      EXPECT_EQ(LastLine(DescribeFailure(e, FailureSetting::kGeneral).text), c.detail);
    }
  }
  std::filesystem::remove_all(dir);

  const int full = registry::OpenShared("/dev/full", true);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  try {
    registry::WriteAt(full, "x", 1, 0, "/dev/full");
    ADD_FAILURE() << "written";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.Kind(), DatabaseFailure::kDiskFull) << e.what();
    EXPECT_EQ(DescribeFailure(e, FailureSetting::kGeneral).text.rfind(Cp1251("На диске нет места"), 0), 0u);
  }
  registry::CloseFile(full);
}

TEST(FailureText, TheClosingSentencesSayWhatTheDeskKept) {
  const DatabaseError locked("Record 2 of Table 'm1042' is in use by another user (/reg/m1042.dbf)",
                             DatabaseFailure::kLocked, "/reg/m1042.dbf");
  const std::string happened = Cp1251("Запись 2 таблицы m1042 занята другой программой. ");
  const std::string detail = Cp1251("\nm1042.dbf, запись 2");
  EXPECT_EQ(DescribeFailure(locked, FailureSetting::kGeneral).text,
            happened + Cp1251("Действие прервано: когда программа регистратуры освободит её, повторите его.") + detail);
  EXPECT_EQ(DescribeFailure(locked, FailureSetting::kAcceptJournal).text,
            happened +
                Cp1251("Запись в регистр не завершена. Решение отправлено в службу и сохранено в журнале: когда "
                       "программа регистратуры освободит её, откройте «Журнал решений» и нажмите «Повторить запись».") +
                detail);
  EXPECT_EQ(DescribeFailure(locked, FailureSetting::kRetryJournal).text,
            happened +
                Cp1251("Запись в регистр не завершена; решение остаётся в журнале: когда программа регистратуры "
                       "освободит её, нажмите «Повторить запись» ещё раз.") +
                detail);
}

TEST(FailureText, TextsFixedElsewhereAndOtherFailuresPassUnchanged) {
  const std::string tooLarge = Cp1251("Загружаемый файл больше 512 МБ, загрузка прервана: http://f/odbc.msi");
  const std::exception* cases[] = {
      new DatabaseError("'abc' is not a valid integer value"),
      new DatabaseError("'x' is not a valid date and time"),
      new DatabaseError("Field 'kw' not found"),
      new DatabaseError("Cannot access field 'nb' as type Integer"),
      new DatabaseError("Cannot perform this operation on a closed dataset"),
      new ConversionError("8a"),
      new maintenance::MaintenanceError("Stream write error"),
      new maintenance::MaintenanceError("Cannot create file \"/w/odbc.msi.part\". Permission denied"),
      new maintenance::MaintenanceError(tooLarge),
      new std::runtime_error("Connection refused"),
  };
  for (const std::exception* e : cases) {
    const FailureText shown = DescribeFailure(*e, FailureSetting::kAcceptJournal);
    EXPECT_FALSE(shown.translated) << e->what();
    EXPECT_EQ(shown.text, e->what());
    delete e;
  }
  const maintenance::MaintenanceError replace(
      "Cannot rename file \"/w/odbc.msi.part\" to \"/w/odbc.msi\". Permission denied",
      maintenance::MaintenanceFailure::kReplaceFailed, "/w/odbc.msi");
  const FailureText shown = DescribeFailure(replace, FailureSetting::kGeneral);
  EXPECT_TRUE(shown.translated);
  EXPECT_EQ(LastLine(shown.text), "odbc.msi");
  EXPECT_FALSE(HasLatinWord(Sentences(shown.text))) << shown.text;
}

TEST(FailureText, JournalFailuresAreClassifiedFromSqlitesOwnCodes) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ravelto-failure-text-journal";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "taken" / std::string(journal::kJournalFileName));
  { std::ofstream(dir / "garbage.db", std::ios::binary) << std::string(4096, 'x'); }
  const std::string tail =
      Cp1251("\nРешения по-прежнему передаются в службу и записываются в регистр, но в журнале их не будет.\n");
  const struct {
    std::filesystem::path path;
    const char* why;
    const char* file;
  } cases[] = {
      {dir / "taken" / std::string(journal::kJournalFileName),
       "файл журнала не открывается (папка закрыта для записи или имя занято папкой).", "ravelto-journal.db"},
      {dir / "garbage.db", "файл журнала повреждён.", "garbage.db"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    try {
      journal::Journal opened(c.path.string());
      ADD_FAILURE() << "opened";
    } catch (const journal::JournalError& e) {
      const FailureText shown = DescribeFailure(e, FailureSetting::kGeneral);
      EXPECT_TRUE(shown.translated);
      EXPECT_EQ(shown.text, Cp1251("Журнал решений не записывается: ") + Cp1251(c.why) + tail + c.file);
    }
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(DescribeJournalFailure(journal::JournalError("Decision journal j.db: database or disk is full",
                                                          journal::JournalFailure::kDiskFull, "/w/j.db")),
            Cp1251("Журнал решений не записывается: на диске нет места.") + tail + "j.db");
}

}  // namespace
}  // namespace ravelto::desk
