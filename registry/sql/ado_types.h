#pragma once
// How each kind of table column is reported through the ADO type enumeration,
// how each ADO type reads, and the field type code the window sees. Kept in
// one place so that a probe of the real provider can correct it.

#include <optional>

namespace ravelto::registry {

struct FieldDescriptor;

// ADO DataTypeEnum values used here.
enum AdoType : int {
  adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6,
  adDate = 7, adBSTR = 8, adIDispatch = 9, adError = 10, adBoolean = 11, adVariant = 12,
  adIUnknown = 13, adDecimal = 14, adTinyInt = 16, adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18, adUnsignedInt = 19, adBigInt = 20, adUnsignedBigInt = 21,
  adFileTime = 64, adGUID = 72, adBinary = 128, adChar = 129, adWChar = 130, adNumeric = 131,
  adUserDefined = 132, adDBDate = 133, adDBTime = 134, adDBTimeStamp = 135, adChapter = 136,
  adDBFileTime = 137, adPropVariant = 138, adVarNumeric = 139, adVarChar = 200,
  adLongVarChar = 201, adVarWChar = 202, adLongVarWChar = 203, adVarBinary = 204,
  adLongVarBinary = 205,
};

struct AdoColumn {
  int type = adEmpty;
  int precision = 0;  // numeric: total digits (the field width)
  int scale = 0;      // numeric: digits after the point
};

// How a column's values read (AsText / AsInteger / AsDateTime).
enum class ValueKind {
  Text, Memo, Integer, LargeInteger, Decimal, Float, Date, DateTime, Boolean, Binary, Other
};

// The ADO column a table field is reported as.
AdoColumn AdoColumnFor(const FieldDescriptor& field);

// The reading kind of an ADO column.
ValueKind KindOf(const AdoColumn& column);

// The field type code of an ADO type: 1 text, 11 date-time, 16 memo, another
// distinct code for every other listed type; nullopt for types that are left
// out of the field list.
std::optional<int> FieldTypeCodeOf(int adoType);

// The name of a reading kind as it appears in "Cannot access field '%s' as
// type %s" ("Integer", "DateTime", ...).
const char* AskedTypeName(ValueKind asked);

}  // namespace ravelto::registry
