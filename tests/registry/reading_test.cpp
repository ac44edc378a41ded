// The reading rules of result cells and the text formats.

#include <gtest/gtest.h>

#include "registry/cell_reading.h"
#include "registry/table/byte_codec.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using registry_test::Cp;

ResultColumn Column(int adoType, int precision = 0, int scale = 0) {
  ResultColumn c;
  c.name = "col";
  c.ado = {adoType, precision, scale};
  c.kind = KindOf(c.ado);
  c.typeCode = FieldTypeCodeOf(adoType).value_or(-1);
  return c;
}

Cell Null() { return Cell{true, 0, 0, {}}; }
Cell Int(std::int64_t v) { return Cell{false, v, 0, {}}; }
Cell Real(double v) { return Cell{false, 0, v, {}}; }
Cell Text(std::string s) { return Cell{false, 0, 0, std::move(s)}; }
std::int64_t Ms(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
  return (DaysFromCivil(y, m, d) - kEpoch1899) * kMsPerDay + (hh * 3600 + mm * 60 + ss) * 1000LL;
}

const char kNoInteger[] = "Cannot access field 'col' as type Integer";
const char kNoDateTime[] = "Cannot access field 'col' as type DateTime";

struct ReadingCase {
  const char* what;
  ResultColumn column;
  Cell cell;
  std::string text;
  std::string integer;   // the value, or the failure message
  std::string dateTime;  // the value printed with %.6f, or the failure message
};

std::string IntegerOutcome(const ReadingCase& c) {
  try {
    return std::to_string(CellAsInteger(c.cell, c.column));
  } catch (const DatabaseError& e) {
    return e.what();
  }
}

std::string DateTimeOutcome(const ReadingCase& c, const RegionalFormats& f) {
  try {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", CellAsDateTime(c.cell, c.column, f));
    return buf;
  } catch (const DatabaseError& e) {
    return e.what();
  }
}

TEST(CellReading, EveryKindReadsAsTheTableSays) {
  const RegionalFormats f{"dd.MM.yyyy", "H:mm:ss", ','};
  const std::vector<ReadingCase> cases = {
      {"null text", Column(adChar), Null(), "", "'' is not a valid integer value", "'' is not a valid date and time"},
      {"null integer", Column(adInteger), Null(), "", "0", kNoDateTime},
      {"null decimal", Column(adNumeric, 10, 2), Null(), "", "0", kNoDateTime},
      {"null float", Column(adDouble), Null(), "", "0", kNoDateTime},
      {"null date", Column(adDBDate), Null(), "", kNoInteger, "0.000000"},
      {"null date-time", Column(adDBTimeStamp), Null(), "", kNoInteger, "0.000000"},
      {"text keeps blanks", Column(adChar), Text(" 42  "), " 42  ", "' 42  ' is not a valid integer value",
       "' 42  ' is not a valid date and time"},
      {"text number", Column(adChar), Text("  -17"), "  -17", "-17", "'  -17' is not a valid date and time"},
      {"text date", Column(adVarChar), Text("01.02.2020"), "01.02.2020",
       "'01.02.2020' is not a valid integer value", "43862.000000"},
      {"text date-time", Column(adChar), Text("01.02.2020 12:00:00"), "01.02.2020 12:00:00",
       "'01.02.2020 12:00:00' is not a valid integer value", "43862.500000"},
      {"memo", Column(adLongVarChar), Text("a\r\nb"), "a\r\nb", kNoInteger, kNoDateTime},
      {"integer", Column(adInteger), Int(-5), "-5", "-5", kNoDateTime},
      {"small numeric is integer", Column(adNumeric, 9, 0), Int(123456789), "123456789", "123456789", kNoDateTime},
      {"large integer low bits", Column(adBigInt), Int(4294967298LL), "4294967298", "2", kNoDateTime},
      {"decimal whole", Column(adNumeric, 10, 0), Int(420000), "42", "42", kNoDateTime},
      {"decimal trailing zeros", Column(adNumeric, 10, 2), Int(12500), "1,25", "1", kNoDateTime},
      {"decimal half to even up", Column(adNumeric, 10, 1), Int(25000), "2,5", "2", kNoDateTime},
      {"decimal half to even odd", Column(adNumeric, 10, 1), Int(35000), "3,5", "4", kNoDateTime},
      {"decimal negative half", Column(adCurrency), Int(-25000), "-2,5", "-2", kNoDateTime},
      {"decimal four places", Column(adCurrency), Int(12345678), "1234,5678", "1235", kNoDateTime},
      {"float", Column(adDouble), Real(1.0 / 3), "0,333333333333333", "0", kNoDateTime},
      {"float half even", Column(adDouble), Real(-4.5), "-4,5", "-4", kNoDateTime},
      {"float large", Column(adDouble), Real(1e20), "1E20", "0", kNoDateTime},
      {"boolean", Column(adBoolean), Int(1), "True", kNoInteger, kNoDateTime},
      {"date", Column(adDBDate), Int(43862), "01.02.2020", kNoInteger, "43862.000000"},
      {"date-time at midnight", Column(adDBTimeStamp), Int(Ms(2020, 2, 1)), "01.02.2020", kNoInteger,
       "43862.000000"},
      {"date-time", Column(adDBTimeStamp), Int(Ms(2020, 2, 1, 8, 5, 9)), "01.02.2020 8:05:09", kNoInteger,
       "43862.336910"},
  };
  for (const ReadingCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CellAsText(c.cell, c.column, f), c.text);
    EXPECT_EQ(IntegerOutcome(c), c.integer);
    EXPECT_EQ(DateTimeOutcome(c, f), c.dateTime);
  }
}

TEST(CellReading, RegionalFormatsComeFromTheConnection) {
  const RegionalFormats us{"M/d/yyyy", "h:mm:ss", '.'};
  EXPECT_EQ(CellAsText(Int(12500), Column(adNumeric, 10, 2), us), "1.25");
  EXPECT_EQ(CellAsText(Int(Ms(2021, 3, 4, 15, 6, 7)), Column(adDBTimeStamp), us), "3/4/2021 15:06:07");
  EXPECT_EQ(CellAsDateTime(Text("3/4/2021"), Column(adChar), us),
            static_cast<double>(DaysFromCivil(2021, 3, 4) - kEpoch1899));
  EXPECT_EQ(FormatDateTimePattern("yy-MM-dd 'at' HH", Ms(2009, 7, 1, 9)), "09-07-01 at 09");
  EXPECT_EQ(FormatDateTimePattern("dd.MM.yyyy", Ms(1899, 12, 29)), "29.12.1899");
}

TEST(CellReading, TypeCodesAndKindsFollowTheAdoTypes) {
  EXPECT_EQ(FieldTypeCodeOf(adChar), 1);
  EXPECT_EQ(FieldTypeCodeOf(adVarChar), 1);
  EXPECT_EQ(FieldTypeCodeOf(adDBTimeStamp), 11);
  EXPECT_EQ(FieldTypeCodeOf(adLongVarChar), 16);
  for (int other : {adDBDate, adInteger, adNumeric, adBoolean, adDouble, adCurrency, adBinary, adLongVarBinary}) {
    ASSERT_TRUE(FieldTypeCodeOf(other).has_value()) << other;
    EXPECT_NE(*FieldTypeCodeOf(other), 1);
    EXPECT_NE(*FieldTypeCodeOf(other), 11);
    EXPECT_NE(*FieldTypeCodeOf(other), 16);
  }
  EXPECT_NE(FieldTypeCodeOf(adDBDate), FieldTypeCodeOf(adBoolean));
  EXPECT_FALSE(FieldTypeCodeOf(adEmpty).has_value());
  EXPECT_FALSE(FieldTypeCodeOf(adUserDefined).has_value());
  EXPECT_EQ(KindOf({adNumeric, 9, 0}), ValueKind::Integer);
  EXPECT_EQ(KindOf({adNumeric, 10, 0}), ValueKind::Decimal);
  EXPECT_EQ(KindOf({adNumeric, 5, 1}), ValueKind::Decimal);
}

}  // namespace
}  // namespace ravelto::registry
