#include "registry/sql/ado_types.h"

#include "registry/table/dbf_schema.h"

namespace ravelto::registry {

AdoColumn AdoColumnFor(const FieldDescriptor& field) {
  if (field.IsSystem()) return {adEmpty, 0, 0};
  const bool binary = field.IsBinary();
  switch (field.type) {
    case 'C': return {binary ? adBinary : adChar, 0, 0};
    case 'V': return {binary ? adVarBinary : adVarChar, 0, 0};
    case 'M': return {binary ? adLongVarBinary : adLongVarChar, 0, 0};
    case 'Q': return {adVarBinary, 0, 0};
    case 'G': case 'W': case 'P': return {adLongVarBinary, 0, 0};
    case 'T': return {adDBTimeStamp, 0, 0};
    case 'D': return {adDBDate, 0, 0};
    case 'N': case 'F':
      return {adNumeric, static_cast<int>(field.length), static_cast<int>(field.decimals)};
    case 'I': return {adInteger, 10, 0};
    case 'B': return {adDouble, 15, 0};
    case 'Y': return {adCurrency, 19, 4};
    case 'L': return {adBoolean, 0, 0};
    default: return {adEmpty, 0, 0};
  }
}

ValueKind KindOf(const AdoColumn& c) {
  switch (c.type) {
    case adChar: case adVarChar: return ValueKind::Text;
    case adLongVarChar: case adLongVarWChar: return ValueKind::Memo;
    case adTinyInt: case adSmallInt: case adInteger: case adUnsignedTinyInt:
    case adUnsignedSmallInt: case adUnsignedInt: case adError:
      return ValueKind::Integer;
    case adBigInt: case adUnsignedBigInt: return ValueKind::LargeInteger;
    case adNumeric:
      return (c.scale == 0 && c.precision < 10) ? ValueKind::Integer : ValueKind::Decimal;
    case adCurrency: case adDecimal: case adVarNumeric: return ValueKind::Decimal;
    case adSingle: case adDouble: return ValueKind::Float;
    case adDBDate: return ValueKind::Date;
    case adDate: case adDBTimeStamp: case adFileTime: case adDBFileTime: return ValueKind::DateTime;
    case adBoolean: return ValueKind::Boolean;
    case adBinary: case adVarBinary: case adLongVarBinary: return ValueKind::Binary;
    default: return ValueKind::Other;
  }
}

std::optional<int> FieldTypeCodeOf(int t) {
  switch (t) {
    case adChar: case adVarChar: return 1;
    case adDate: case adDBTimeStamp: case adFileTime: case adDBFileTime: return 11;
    case adLongVarChar: case adLongVarWChar: return 16;
    // The rest get the ordinals of the classic dataset field types.
    case adTinyInt: case adSmallInt: return 2;
    case adInteger: case adError: return 3;
    case adUnsignedTinyInt: case adUnsignedSmallInt: return 4;
    case adBoolean: return 5;
    case adSingle: case adDouble: return 6;
    case adCurrency: return 7;
    case adDecimal: case adNumeric: case adVarNumeric: return 8;
    case adDBDate: return 9;
    case adDBTime: return 10;
    case adBinary: return 12;
    case adVarBinary: return 13;
    case adLongVarBinary: return 15;
    case adBSTR: case adWChar: case adVarWChar: return 24;
    case adUnsignedInt: case adBigInt: case adUnsignedBigInt: return 25;
    case adChapter: return 29;
    case adVariant: case adPropVariant: return 32;
    case adIUnknown: return 33;
    case adIDispatch: return 34;
    case adGUID: return 35;
    default: return std::nullopt;
  }
}

const char* AskedTypeName(ValueKind asked) {
  switch (asked) {
    case ValueKind::Integer: return "Integer";
    case ValueKind::DateTime: return "DateTime";
    default: return "String";
  }
}

}  // namespace ravelto::registry
