#include "registry/sql/record_codec.h"

#include <charconv>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/decimal_text.h"

namespace ravelto::registry {

namespace {

constexpr std::int64_t kJdn1899 = 2415019;  // 1899-12-30

bool Bit(const TableSchema& schema, const unsigned char* record, int bit) {
  if (bit < 0 || schema.nullFlagsField < 0) return false;
  const FieldDescriptor& nf = schema.fields[static_cast<std::size_t>(schema.nullFlagsField)];
  return (record[nf.offset + static_cast<std::uint32_t>(bit) / 8] >> (bit % 8)) & 1;
}

void SetBit(const TableSchema& schema, unsigned char* record, int bit, bool on) {
  if (bit < 0 || schema.nullFlagsField < 0) return;
  const FieldDescriptor& nf = schema.fields[static_cast<std::size_t>(schema.nullFlagsField)];
  unsigned char& b = record[nf.offset + static_cast<std::uint32_t>(bit) / 8];
  const unsigned char mask = static_cast<unsigned char>(1u << (bit % 8));
  b = on ? static_cast<unsigned char>(b | mask) : static_cast<unsigned char>(b & ~mask);
}

[[noreturn]] void BadValue(const RecordContext& w, const FieldDescriptor& f, const std::string& what) {
  throw DatabaseError("Table '" + w.table->Name() + "', record " + std::to_string(w.recno) + ", field '" +
                      f.name + "': " + what);
}

std::string Bytes(const unsigned char* p, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::uint32_t MemoPointer(const RecordContext& w, const FieldDescriptor& f, const unsigned char* p) {
  if (f.length == 4) return GetLe32(p);
  // FoxPro 2.x: ten ASCII digits, blanks or NULs for "no memo".
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < f.length; ++i) {
    const unsigned char c = p[i];
    if (c == ' ' || c == 0) continue;
    if (c < '0' || c > '9') BadValue(w, f, "the memo pointer is not a number");
    v = v * 10 + (c - '0');
    if (v > 0xFFFFFFFFull) BadValue(w, f, "the memo pointer is out of range");
  }
  return static_cast<std::uint32_t>(v);
}

std::string VarBytes(const TableSchema& s, const FieldDescriptor& f, const unsigned char* record) {
  const unsigned char* p = record + f.offset;
  std::size_t n = f.length;
  if (Bit(s, record, f.varLengthBit)) n = std::min<std::size_t>(p[f.length - 1], f.length);
  return Bytes(p, n);
}

}  // namespace

std::int64_t JulianDayToDays1899(std::int64_t jdn) { return jdn - kJdn1899; }

bool FieldIsNull(const TableSchema& schema, const FieldDescriptor& field, const unsigned char* record) {
  return Bit(schema, record, field.nullBit);
}

Value ReadValue(const RecordContext& w, const FieldDescriptor& f, const unsigned char* record) {
  const TableSchema& s = w.table->Schema();
  if (FieldIsNull(s, f, record)) return Value::Null();
  const unsigned char* p = record + f.offset;
  switch (f.type) {
    case 'C': return Value::Char(Bytes(p, f.length));
    case 'V': case 'Q': return Value::Char(VarBytes(s, f, record));
    case 'N': case 'F': {
      const std::string raw = Bytes(p, f.length);
      if (raw.find_first_not_of(' ') == std::string::npos) return Value::Number(0, "0");
      if (auto d = ParseDecimalText(raw)) {
        std::string exact = (d->negative ? "-" : "") + d->integer;
        if (!d->fraction.empty()) exact += "." + d->fraction;
        return Value::Number(ParseDouble(exact), exact);
      }
      // Float fields may hold an exponent form.
      std::string_view digits(raw);
      while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
      while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
      if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
      double v = 0;
      const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (f.type == 'F' && !digits.empty() && parsed.ec == std::errc() &&
          parsed.ptr == digits.data() + digits.size() && std::isfinite(v))
        return Value::Number(v);
      BadValue(w, f, "'" + raw + "' is not a number");
    }
    case 'I': return Value::Number(static_cast<std::int32_t>(GetLe32(p)),
                                   std::to_string(static_cast<std::int32_t>(GetLe32(p))));
    case 'B': {
      const double v = GetLeDouble(p);
      return Value::Number(v);
    }
    case 'Y': {
      const auto scaled = static_cast<std::int64_t>(GetLe64(p));
      const std::uint64_t mag = scaled < 0 ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
      char text[40];
      std::snprintf(text, sizeof text, "%s%llu.%04u", scaled < 0 ? "-" : "",
                    static_cast<unsigned long long>(mag / 10000), static_cast<unsigned>(mag % 10000));
      return Value::Number(static_cast<double>(scaled) / 10000.0, text);
    }
    case 'L': {
      const unsigned char c = p[0];
      return Value::Logical(c == 'T' || c == 't' || c == 'Y' || c == 'y');
    }
    case 'D': {
      const std::string raw = Bytes(p, 8);
      if (raw.find_first_not_of(" \0", 0, 2) == std::string::npos) return Value::Null();
      int y = 0, m = 0, d = 0;
      for (int i = 0; i < 8; ++i)
        if (raw[static_cast<std::size_t>(i)] < '0' || raw[static_cast<std::size_t>(i)] > '9')
          BadValue(w, f, "'" + raw + "' is not a date");
      y = std::atoi(raw.substr(0, 4).c_str());
      m = std::atoi(raw.substr(4, 2).c_str());
      d = std::atoi(raw.substr(6, 2).c_str());
      if (!ValidCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)))
        BadValue(w, f, "'" + raw + "' is not a date");
      return Value::Date(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kEpoch1899);
    }
    case 'T': {
      const auto jdn = static_cast<std::int32_t>(GetLe32(p));
      const auto ms = static_cast<std::int32_t>(GetLe32(p + 4));
      if (jdn == 0 && ms == 0) return Value::Null();
      // Day 1 of year 1 to 9999-12-31.
      if (jdn < 1721426 || jdn > 5373484 || ms < 0 || ms >= kMsPerDay)
        BadValue(w, f, "the date-time value is out of range");
      // Whole seconds: values a millisecond short occur in real files.
      const std::int64_t secs = (static_cast<std::int64_t>(ms) + 500) / 1000;
      return Value::DateTime(JulianDayToDays1899(jdn) * kMsPerDay + secs * 1000);
    }
    case 'M': case 'G': case 'W': case 'P': {
      const std::uint32_t block = MemoPointer(w, f, p);
      if (block == 0) return Value::Char({});
      MemoFile* memo = const_cast<TableFile*>(w.table)->Memo();
      if (!memo) BadValue(w, f, "the memo file is missing");
      return Value::Char(memo->Read(block));
    }
    default: return Value::Char(Bytes(p, f.length));
  }
}

Cell ReadCell(const RecordContext& w, const FieldDescriptor& f, const ResultColumn& column,
              const unsigned char* record) {
  Cell cell;
  const TableSchema& s = w.table->Schema();
  if (FieldIsNull(s, f, record)) {
    cell.isNull = true;
    return cell;
  }
  const unsigned char* p = record + f.offset;
  switch (f.type) {
    case 'I': cell.integer = static_cast<std::int32_t>(GetLe32(p)); return cell;
    case 'Y': cell.integer = static_cast<std::int64_t>(GetLe64(p)); return cell;
    case 'B': cell.real = GetLeDouble(p); return cell;
    default: break;
  }
  const Value v = ReadValue(w, f, record);
  if (v.IsNull()) {
    cell.isNull = true;
    return cell;
  }
  switch (column.kind) {
    case ValueKind::Integer: case ValueKind::LargeInteger: case ValueKind::Decimal: {
      const int scale = column.kind == ValueKind::Decimal ? 4 : 0;
      auto d = ParseDecimalText(v.text.empty() ? std::to_string(v.number) : v.text);
      std::optional<std::int64_t> scaled;
      if (d) scaled = ScaledValue(*d, scale);
      if (!scaled) {
        // Exponent forms of float fields, or values beyond 64 bits.
        const double x = v.number * (scale ? 10000.0 : 1.0);
        if (!std::isfinite(x) || std::fabs(x) >= 9.2e18) BadValue(w, f, "the number is too large to read");
        scaled = static_cast<std::int64_t>(std::llround(x));
      }
      cell.integer = *scaled;
      return cell;
    }
    case ValueKind::Float: cell.real = v.number; return cell;
    case ValueKind::Date: case ValueKind::DateTime: case ValueKind::Boolean:
      cell.integer = v.stamp;
      return cell;
    default: cell.bytes = v.text; return cell;
  }
}

std::vector<unsigned char> BlankRecord(const TableSchema& s) {
  std::vector<unsigned char> r(s.recordLength, ' ');
  for (const FieldDescriptor& f : s.fields) {
    unsigned char* p = r.data() + f.offset;
    switch (f.type) {
      case 'I': case 'B': case 'Y': case 'T': case '0': case 'V': case 'Q':
        std::fill(p, p + f.length, 0);
        break;
      case 'M': case 'G': case 'W': case 'P':
        if (f.length == 4) std::fill(p, p + f.length, 0);
        break;
      case 'L': p[0] = 'F'; break;
      default: break;
    }
  }
  // An empty V/Q value: length byte 0 with the varlength bit set.
  for (const FieldDescriptor& f : s.fields)
    if (f.varLengthBit >= 0) SetBit(s, r.data(), f.varLengthBit, true);
  return r;
}

namespace {

bool IsZeroNumber(const Value& value) { return value.type == Value::Type::Number && value.number == 0.0; }

// One value on its way into one field of a record: where its bytes go and
// how the field is named in messages.
struct FieldWrite {
  TableFile& table;
  const FieldDescriptor& f;
  const Value& value;
  std::vector<unsigned char>& record;
  unsigned char* p;
  std::string column;

  const TableSchema& Schema() const { return table.Schema(); }
  DatabaseError Mismatch() const {
    return DatabaseError(std::string("Data type mismatch: ") + TypeName(value.type) + " value for " + column +
                         " of type " + std::string(1, f.type));
  }
  DatabaseError Overflow() const { return DatabaseError("Numeric overflow in " + column); }
  DatabaseError DateRange() const { return DatabaseError("Date out of range for " + column); }
  void RequireText() const {
    if (value.type != Value::Type::Char) throw Mismatch();
  }
  void RequireNumber() const {
    if (value.type != Value::Type::Number) throw Mismatch();
  }
};

// C, V and Q: the bytes as they are; V and Q also keep their length.
void WriteText(const FieldWrite& w) {
  w.RequireText();
  const std::string& text = w.value.text;
  if (text.size() > w.f.length)
    throw DatabaseError("Value is too long for " + w.column + ": " + std::to_string(text.size()) +
                        " characters, the field holds " + std::to_string(w.f.length));
  if (w.f.type == 'C') {
    std::copy(text.begin(), text.end(), w.p);
    return;
  }
  std::fill(w.p, w.p + w.f.length, 0);
  std::copy(text.begin(), text.end(), w.p);
  const bool shorter = text.size() < w.f.length;
  if (shorter) w.p[w.f.length - 1] = static_cast<unsigned char>(text.size());
  SetBit(w.Schema(), w.record.data(), w.f.varLengthBit, shorter);
}

// M, G, W and P: the text goes to a new memo block; the field holds its
// number (four bytes, or ten digits in older tables; 0 or blank when empty).
void WriteMemo(const FieldWrite& w) {
  w.RequireText();
  std::uint32_t block = 0;
  if (!w.value.text.empty()) {
    MemoFile* memo = w.table.Memo();
    if (!memo)
      throw DatabaseError("The memo file of table '" + w.table.Name() + "' is missing", DatabaseFailure::kMissing,
                          w.table.Name() + ".fpt");
    block = memo->Stage(w.value.text, w.f.type != 'M' || w.f.IsBinary());
  }
  if (w.f.length == 4) {
    PutLe32(w.p, block);
    return;
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%10u", block);
  if (block == 0) std::fill(w.p, w.p + w.f.length, ' ');
  else std::copy(digits, digits + 10, w.p);
}

// N and F: decimal text of the field's width, exact when the value came
// with its digits.
void WriteDecimal(const FieldWrite& w) {
  w.RequireNumber();
  std::optional<DecimalText> d;
  if (!w.value.text.empty()) d = ParseDecimalText(w.value.text);
  if (!d) {
    if (!std::isfinite(w.value.number)) throw w.Overflow();
    d = DecimalFromDouble(w.value.number);
  }
  auto text = FormatFixed(*d, static_cast<int>(w.f.length), w.f.decimals);
  if (!text) throw w.Overflow();
  std::copy(text->begin(), text->end(), w.p);
}

// I, B and Y: binary numbers (32-bit integer, double, currency scaled by
// 10 000).
void WriteBinaryNumber(const FieldWrite& w) {
  w.RequireNumber();
  if (w.f.type == 'B') {
    PutLeDouble(w.p, w.value.number);
    return;
  }
  if (w.f.type == 'I') {
    const double r = std::round(w.value.number);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw w.Overflow();
    PutLe32(w.p, static_cast<std::uint32_t>(static_cast<std::int32_t>(r)));
    return;
  }
  std::optional<std::int64_t> scaled;
  auto d = w.value.text.empty() ? std::optional<DecimalText>(DecimalFromDouble(w.value.number))
                                : ParseDecimalText(w.value.text);
  if (d) scaled = ScaledValue(*d, 4);
  if (!scaled) throw w.Overflow();
  PutLe64(w.p, static_cast<std::uint64_t>(*scaled));
}

void WriteLogical(const FieldWrite& w) {
  // A bare 0 is the desk's default for columns it does not name: it stores
  // false. Any other number is still a mismatch.
  if (IsZeroNumber(w.value)) {
    w.p[0] = 'F';
    return;
  }
  if (w.value.type != Value::Type::Logical) throw w.Mismatch();
  w.p[0] = w.value.stamp ? 'T' : 'F';
}

// D: YYYYMMDD text.
void WriteDate(const FieldWrite& w) {
  // A bare 0 stores the empty date (the default the desk writes for a date
  // column it does not name); other numbers are a mismatch.
  if (IsZeroNumber(w.value)) return;
  std::int64_t days = 0;
  const std::int64_t stamp = w.value.stamp;
  if (w.value.type == Value::Type::Date) days = stamp;
  else if (w.value.type == Value::Type::DateTime) days = stamp >= 0 ? stamp / kMsPerDay
                                                                    : -((-stamp + kMsPerDay - 1) / kMsPerDay);
  else throw w.Mismatch();
  const CivilDate c = CivilFromDays(days + kEpoch1899);
  if (c.year < 1 || c.year > 9999) throw w.DateRange();
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(c.year), c.month, c.day);
  std::copy(text, text + 8, w.p);
}

// T: Julian day number and milliseconds since midnight.
void WriteDateTime(const FieldWrite& w) {
  if (IsZeroNumber(w.value)) return;  // the empty date-time, as for D
  std::int64_t ms = 0;
  if (w.value.type == Value::Type::DateTime) ms = w.value.stamp;
  else if (w.value.type == Value::Type::Date) ms = w.value.stamp * kMsPerDay;
  else throw w.Mismatch();
  std::int64_t days = ms / kMsPerDay, rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  const std::int64_t jdn = days + kJdn1899;
  if (jdn < 1721426 || jdn > 5373484) throw w.DateRange();
  PutLe32(w.p, static_cast<std::uint32_t>(jdn));
  PutLe32(w.p + 4, static_cast<std::uint32_t>(rest));
}

}  // namespace

void WriteValue(TableFile& table, const FieldDescriptor& f, const Value& value, std::vector<unsigned char>& record) {
  const TableSchema& s = table.Schema();
  const FieldWrite w{table, f, value, record, record.data() + f.offset,
                     "column '" + f.name + "' of table '" + table.Name() + "'"};
  // Start from the field's empty bytes.
  const std::vector<unsigned char> blank = BlankRecord(s);
  std::copy(blank.begin() + f.offset, blank.begin() + f.offset + f.length, w.p);
  if (f.varLengthBit >= 0) SetBit(s, record.data(), f.varLengthBit, true);
  if (value.IsNull()) {
    if (f.nullBit < 0) throw DatabaseError("Field " + w.column + " does not accept null values");
    SetBit(s, record.data(), f.nullBit, true);
    return;
  }
  SetBit(s, record.data(), f.nullBit, false);
  switch (f.type) {
    case 'C': case 'V': case 'Q': return WriteText(w);
    case 'M': case 'G': case 'W': case 'P': return WriteMemo(w);
    case 'N': case 'F': return WriteDecimal(w);
    case 'I': case 'B': case 'Y': return WriteBinaryNumber(w);
    case 'L': return WriteLogical(w);
    case 'D': return WriteDate(w);
    case 'T': return WriteDateTime(w);
    default:
      throw DatabaseError("Field " + w.column + " of type " + std::string(1, f.type) + " cannot be written");
  }
}

const char* TypeName(Value::Type type) {
  switch (type) {
    case Value::Type::Null: return "NULL";
    case Value::Type::Char: return "character";
    case Value::Type::Number: return "numeric";
    case Value::Type::Date: return "date";
    case Value::Type::DateTime: return "date-time";
    case Value::Type::Logical: return "logical";
  }
  return "unknown";
}

}  // namespace ravelto::registry
