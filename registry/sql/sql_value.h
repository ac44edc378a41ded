#pragma once
// A value of the SQL subset while a statement is evaluated.

#include <cstdint>
#include <string>

namespace ravelto::registry {

struct Value {
  enum class Type { Null, Char, Number, Date, DateTime, Logical };
  Type type = Type::Null;
  std::string text;        // Char: the bytes. Number: exact decimal text if known, else ""
  double number = 0;       // Number
  std::int64_t stamp = 0;  // Date: days since 1899-12-30; DateTime: ms since then; Logical: 0/1

  static Value Null() { return {}; }
  static Value Char(std::string bytes) {
    Value v;
    v.type = Type::Char;
    v.text = std::move(bytes);
    return v;
  }
  static Value Number(double d, std::string exact = {}) {
    Value v;
    v.type = Type::Number;
    v.number = d;
    v.text = std::move(exact);
    return v;
  }
  static Value Date(std::int64_t days) {
    Value v;
    v.type = Type::Date;
    v.stamp = days;
    return v;
  }
  static Value DateTime(std::int64_t ms) {
    Value v;
    v.type = Type::DateTime;
    v.stamp = ms;
    return v;
  }
  static Value Logical(bool b) {
    Value v;
    v.type = Type::Logical;
    v.stamp = b ? 1 : 0;
    return v;
  }
  bool IsNull() const { return type == Type::Null; }
};

const char* TypeName(Value::Type type);

}  // namespace ravelto::registry
