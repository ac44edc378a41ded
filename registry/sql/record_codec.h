#pragma once
// Reading field values out of raw record bytes and writing them in.

#include <cstdint>
#include <string>
#include <vector>

#include "registry/sql/result_set.h"
#include "registry/sql/sql_value.h"
#include "registry/table/dbf_table.h"

namespace ravelto::registry {

// Where a value is read from, for messages.
struct RecordContext {
  const TableFile* table;
  std::uint32_t recno;
};

bool FieldIsNull(const TableSchema& schema, const FieldDescriptor& field, const unsigned char* record);

// The value of `field` in `record`. Blank dates and date-times read as Null.
// Throws DatabaseError naming the table, record and field for bytes that are
// not a valid value (a numeric field holding letters, a bad date, a memo
// pointer outside the .fpt).
Value ReadValue(const RecordContext& where, const FieldDescriptor& field, const unsigned char* record);

// The result cell for a column of `record`.
Cell ReadCell(const RecordContext& where, const FieldDescriptor& field, const ResultColumn& column,
              const unsigned char* record);

// Writes `value` into `field` of `record` (record_len bytes), converting it
// to the field's type. Memo data gets new blocks reserved in the table's
// memo file (MemoFile::Stage); the table writer writes them once the row is
// sure to be written. Throws DatabaseError for a type mismatch, a value
// that does not fit, or NULL into a column that does not accept it.
void WriteValue(TableFile& table, const FieldDescriptor& field, const Value& value,
                std::vector<unsigned char>& record);

// A record with every field empty and not null: the start of an INSERT.
std::vector<unsigned char> BlankRecord(const TableSchema& schema);

// Date-time helpers shared with the SQL functions.
std::int64_t JulianDayToDays1899(std::int64_t jdn);

}  // namespace ravelto::registry
