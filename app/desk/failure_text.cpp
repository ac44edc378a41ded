#include "app/desk/failure_text.h"

#include <cctype>

#include "app/desk/cp1251_literal.h"
#include "app/journal/journal.h"
#include "maintenance/maintenance_error.h"
#include "registry/index/cdx_format.h"

namespace ravelto::desk {

namespace {

using registry::DatabaseFailure;

bool Contains(const std::string& text, std::string_view piece) { return text.find(piece) != std::string::npos; }

// The last part of a path, either separator.
std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The word after `marker` up to `end` (exclusive), or "" when absent.
std::string Between(const std::string& text, std::string_view marker, char end) {
  const std::size_t at = text.find(marker);
  if (at == std::string::npos) return {};
  const std::size_t from = at + marker.size();
  const std::size_t to = text.find(end, from);
  return to == std::string::npos ? std::string() : text.substr(from, to - from);
}

// The table the engine's message names ("Table 'm1042' ...", "... of table
// 'm1042'"), or the file's name without its extension.
std::string TableOf(const std::string& message, const std::string& file) {
  std::string table = Between(message, "able '", '\'');
  if (table.empty() && !file.empty()) {
    table = BaseName(file);
    const std::size_t dot = table.find_last_of('.');
    if (dot != std::string::npos && dot > 0) table.resize(dot);
  }
  return table;
}

// "Record 2 of Table ..." gives 2; 0 when the message names no record.
std::string RecordOf(const std::string& message) {
  if (message.rfind("Record ", 0) != 0) return {};
  std::string digits;
  for (std::size_t i = 7; i < message.size() && std::isdigit(static_cast<unsigned char>(message[i])); ++i)
    digits += message[i];
  return digits;
}

// The file's name for the detail line: the engine's path when it gave one,
// otherwise the table's file.
std::string FileName(const std::string& file, const std::string& table, std::string_view extension) {
  if (!file.empty()) return BaseName(file);
  return table.empty() ? std::string() : table + std::string(extension);
}

std::string Named(const std::string& table) { return table.empty() ? std::string() : " " + table; }

// What the desk kept: the closing sentences after what happened.
std::string Kept(FailureSetting setting, const std::string& advice) {
  switch (setting) {
    case FailureSetting::kAcceptJournal:
      return Cp1251(" Запись в регистр не завершена. Решение отправлено в службу и сохранено в журнале: ") + advice +
             Cp1251(", откройте «Журнал решений» и нажмите «Повторить запись».");
    case FailureSetting::kRetryJournal:
      return Cp1251(" Запись в регистр не завершена; решение остаётся в журнале: ") + advice +
             Cp1251(", нажмите «Повторить запись» ещё раз.");
    case FailureSetting::kGeneral:
      break;
  }
  return Cp1251(" Действие прервано: ") + advice + Cp1251(", повторите его.");
}

struct Pieces {
  std::string happened;  // one sentence, ends with "."
  std::string advice;    // "когда ...", "освободив ...": joined into Kept()
  std::string detail;    // the second line: file, record, tag
};

Pieces IndexPieces(const std::string& message, const std::string& file, const std::string& table) {
  const std::string cdx = FileName(file, table, ".cdx");
  if (Contains(message, "is in use by another user"))
    return {Cp1251("Индекс таблицы") + Named(table) + Cp1251(" занят другой программой."),
            Cp1251("когда программа регистратуры освободит его"), cdx};
  if (Contains(message, "cannot be maintained")) {
    const std::string tag = Between(message, "index tag ", ' ');
    return {Cp1251("Индекс таблицы") + Named(table) +
                Cp1251(" содержит тег, который эта программа не умеет поддерживать."),
            Cp1251("после того как администратор базы регистратуры изменит или удалит этот тег"),
            cdx + (tag.empty() ? std::string() : Cp1251(", тег ") + tag)};
  }
  if (Contains(message, "Uniqueness of index violated")) {
    const std::string tag = Between(message, "violated: tag ", ' ');
    return {Cp1251("В таблице") + Named(table) + Cp1251(" уже есть строка с таким ключом, а индекс не допускает повторов."),
            Cp1251("проверив строки пациента в программе регистратуры"),
            cdx + (tag.empty() ? std::string() : Cp1251(", тег ") + tag)};
  }
  if (Contains(message, "file is missing"))
    return {Cp1251("Индексный файл таблицы") + Named(table) + Cp1251(" не найден."),
            Cp1251("после переиндексации таблицы в программе регистратуры"), cdx};
  if (Contains(message, "Cannot write index file") || Contains(message, "Cannot truncate index file"))
    return {Cp1251("Не удалось записать индекс таблицы") + Named(table) + Cp1251("."),
            Cp1251("проверив место на диске и права на папку базы"), cdx};
  if (Contains(message, "fails the check") || Contains(message, "damaged") || Contains(message, "lost the entry") ||
      Contains(message, "stored keys") || Contains(message, "Cannot read"))
    return {Cp1251("Индекс таблицы") + Named(table) + Cp1251(" повреждён."),
            Cp1251("после переиндексации таблицы в программе регистратуры"), cdx};
  return {Cp1251("Индекс таблицы") + Named(table) + Cp1251(" не позволяет записать строку."),
          Cp1251("после переиндексации таблицы в программе регистратуры"), cdx};
}

Pieces DatabasePieces(DatabaseFailure kind, const std::string& message, const std::string& file) {
  const std::string table = TableOf(message, file);
  const bool memo = message.rfind("Memo ", 0) == 0 || Contains(message, "memo file");
  const std::string dataFile = FileName(file, table, memo ? ".fpt" : ".dbf");
  switch (kind) {
    case DatabaseFailure::kLocked: {
      if (memo)
        return {Cp1251("Файл примечаний таблицы") + Named(table) + Cp1251(" занят другой программой."),
                Cp1251("когда программа регистратуры освободит его"), dataFile};
      const std::string record = RecordOf(message);
      if (!record.empty())
        return {Cp1251("Запись ") + record + Cp1251(" таблицы") + Named(table) + Cp1251(" занята другой программой."),
                Cp1251("когда программа регистратуры освободит её"), dataFile + Cp1251(", запись ") + record};
      return {Cp1251("Таблица") + Named(table) + Cp1251(" занята другой программой."),
              Cp1251("когда программа регистратуры освободит её"), dataFile};
    }
    case DatabaseFailure::kDamaged:
      return {(memo ? Cp1251("Файл примечаний таблицы") + Named(table) + Cp1251(" повреждён.")
                    : Cp1251("Таблица") + Named(table) + Cp1251(" повреждена.")),
              Cp1251("после проверки таблицы в программе регистратуры"), dataFile};
    case DatabaseFailure::kDiskFull:
      return {Cp1251("На диске нет места для записи в базу регистратуры."), Cp1251("освободив место на диске"),
              dataFile};
    case DatabaseFailure::kWriteFailed:
      return {Cp1251("Система не дала записать в файл базы регистратуры."),
              Cp1251("проверив права на папку базы и сам диск"), dataFile};
    case DatabaseFailure::kReadFailed:
      return {Cp1251("Система не дала прочитать файл базы регистратуры."),
              Cp1251("проверив права на папку базы и сам диск"), dataFile};
    case DatabaseFailure::kMissing:
      return {(memo ? Cp1251("Файл примечаний таблицы") + Named(table) + Cp1251(" не найден или не открывается.")
                    : Cp1251("Таблица") + Named(table) + Cp1251(" не найдена в папке базы или не открывается.")),
              Cp1251("проверив путь к базе на вкладке настроек"), dataFile};
    case DatabaseFailure::kNoRegistry:
      return {Cp1251("Папка базы регистратуры не найдена или не читается."),
              Cp1251("проверив путь к базе на вкладке настроек"), file};
    case DatabaseFailure::kFull:
      return {(memo ? Cp1251("Файл примечаний таблицы") + Named(table)
                    : Cp1251("Таблица") + Named(table)) +
                  Cp1251(" достигла предельного размера."),
              Cp1251("после обслуживания базы в программе регистратуры"), dataFile};
    case DatabaseFailure::kRefused:
      return {Cp1251("Таблица") + Named(table) + Cp1251(" хранится в формате, который эта программа не изменяет."),
              Cp1251("после проверки таблицы в программе регистратуры"), dataFile};
    case DatabaseFailure::kIndex:
      return IndexPieces(message, file, table);
    case DatabaseFailure::kOther:
      break;
  }
  return {Cp1251("Не удалось выполнить запрос к базе регистратуры") +
              (table.empty() ? std::string() : Cp1251(" (таблица ") + table + ")") + ".",
          Cp1251("проверив базу в программе регистратуры"), std::string()};
}

// The gateway's own texts that the desk has always shown as they are.
bool FixedGatewayText(const std::string& message) {
  return Contains(message, "' is not a valid integer value") || Contains(message, "' is not a valid date and time") ||
         message.rfind("Cannot access field '", 0) == 0 ||
         (message.rfind("Field '", 0) == 0 && message.size() > 17 &&
          message.compare(message.size() - 11, 11, "' not found") == 0) ||
         message == "Cannot perform this operation on a closed dataset" ||
         message.rfind("Error creating object.", 0) == 0;
}

}  // namespace

std::string DescribeDatabaseFailure(DatabaseFailure kind, const std::string& message, const std::string& file,
                                    FailureSetting setting) {
  const Pieces p = DatabasePieces(kind, message, file);
  std::string text = p.happened + Kept(setting, p.advice);
  if (!p.detail.empty()) text += "\n" + p.detail;
  return text;
}

FailureText DescribeFailure(const std::exception& e, FailureSetting setting) {
  const std::string message = e.what();
  if (const auto* db = dynamic_cast<const registry::DatabaseError*>(&e)) {
    if (db->Kind() == DatabaseFailure::kOther && FixedGatewayText(message)) return {message, false};
    return {DescribeDatabaseFailure(db->Kind(), message, db->File(), setting), true};
  }
  if (dynamic_cast<const registry::CdxError*>(&e))
    return {DescribeDatabaseFailure(DatabaseFailure::kIndex, message, {}, setting), true};
  if (dynamic_cast<const journal::JournalError*>(&e)) return {DescribeJournalFailure(e), true};
  if (const auto* m = dynamic_cast<const maintenance::MaintenanceError*>(&e);
      m && m->Kind() == maintenance::MaintenanceFailure::kReplaceFailed) {
    return {Cp1251("Загруженный файл не удалось поставить на место старого; старый файл оставлен как был. "
                   "Закройте программы, которые могут держать его открытым, и повторите.\n") +
                BaseName(m->File()),
            true};
  }
  return {message, false};
}

std::string DescribeJournalFailure(const std::exception& e) {
  std::string why = Cp1251("не удалось записать в файл журнала.");
  std::string file{journal::kJournalFileName};
  if (const auto* j = dynamic_cast<const journal::JournalError*>(&e)) {
    if (!j->File().empty()) file = BaseName(j->File());
    switch (j->Kind()) {
      case journal::JournalFailure::kCannotOpen:
        why = Cp1251("файл журнала не открывается (папка закрыта для записи или имя занято папкой).");
        break;
      case journal::JournalFailure::kDiskFull: why = Cp1251("на диске нет места."); break;
      case journal::JournalFailure::kReadOnly: why = Cp1251("файл или папка журнала только для чтения."); break;
      case journal::JournalFailure::kBusy: why = Cp1251("файл журнала занят другой программой."); break;
      case journal::JournalFailure::kDamaged: why = Cp1251("файл журнала повреждён."); break;
      case journal::JournalFailure::kInputOutput:
        why = Cp1251("система не дала прочитать или записать файл журнала.");
        break;
      case journal::JournalFailure::kOther: break;
    }
  }
  return Cp1251("Журнал решений не записывается: ") + why +
         Cp1251("\nРешения по-прежнему передаются в службу и записываются в регистр, но в журнале их не будет.\n") +
         file;
}

}  // namespace ravelto::desk
