#include "registry/sql/sql_eval.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "registry/sql/record_codec.h"
#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/decimal_text.h"

namespace ravelto::registry {

namespace {

using Type = Value::Type;

[[noreturn]] void Mismatch(std::size_t position) {
  throw DatabaseError("Operator/operand type mismatch at position " + std::to_string(position));
}

Type FieldType(const FieldDescriptor& f) {
  switch (f.type) {
    case 'N': case 'F': case 'I': case 'B': case 'Y': return Type::Number;
    case 'D': return Type::Date;
    case 'T': return Type::DateTime;
    case 'L': return Type::Logical;
    default: return Type::Char;
  }
}

bool IsComparison(Op op) {
  return op == Op::Equal || op == Op::ExactEqual || op == Op::NotEqual || op == Op::Less ||
         op == Op::LessEqual || op == Op::Greater || op == Op::GreaterEqual;
}

bool Comparable(Type a, Type b) {
  if (a == Type::Null || b == Type::Null || a == b) return true;
  const bool dateA = a == Type::Date || a == Type::DateTime;
  const bool dateB = b == Type::Date || b == Type::DateTime;
  return dateA && dateB;
}

std::int64_t NowMs() {
  const std::time_t t = std::time(nullptr);
  const std::tm local = platform::LocalTime(t);
  const std::int64_t days =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday)) -
      kEpoch1899;
  return days * kMsPerDay + (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000LL;
}

int CompareDecimal(const DecimalText& a, const DecimalText& b) {
  const bool za = a.integer == "0" && a.fraction.find_first_not_of('0') == std::string::npos;
  const bool zb = b.integer == "0" && b.fraction.find_first_not_of('0') == std::string::npos;
  const bool na = a.negative && !za, nb = b.negative && !zb;
  if (na != nb) return na ? -1 : 1;
  int mag = 0;
  if (a.integer.size() != b.integer.size()) {
    mag = a.integer.size() < b.integer.size() ? -1 : 1;
  } else if (int c = a.integer.compare(b.integer); c != 0) {
    mag = c < 0 ? -1 : 1;
  } else {
    std::string fa = a.fraction, fb = b.fraction;
    const std::size_t n = std::max(fa.size(), fb.size());
    fa.resize(n, '0');
    fb.resize(n, '0');
    const int f = fa.compare(fb);
    mag = f < 0 ? -1 : (f > 0 ? 1 : 0);
  }
  return na ? -mag : mag;
}

std::int64_t AsMs(const Value& v) { return v.type == Type::Date ? v.stamp * kMsPerDay : v.stamp; }

int Sign(std::int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

int CompareBytes(const unsigned char* a, std::size_t na, const unsigned char* b, std::size_t nb, Op op) {
  if (op == Op::ExactEqual) {
    while (na > 0 && a[na - 1] == ' ') --na;
    while (nb > 0 && b[nb - 1] == ' ') --nb;
    const int c = std::memcmp(a, b, std::min(na, nb));
    if (c != 0) return c < 0 ? -1 : 1;
    return na == nb ? 0 : (na < nb ? -1 : 1);
  }
  // Up to the shorter operand's length: "abc" = "ab" and "x" = "" hold.
  const int c = std::memcmp(a, b, std::min(na, nb));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool Holds(Op op, int c) {
  switch (op) {
    case Op::Equal: case Op::ExactEqual: return c == 0;
    case Op::NotEqual: return c != 0;
    case Op::Less: return c < 0;
    case Op::LessEqual: return c <= 0;
    case Op::Greater: return c > 0;
    case Op::GreaterEqual: return c >= 0;
    default: return false;
  }
}

Truth ToTruth(const Value& v) {
  if (v.IsNull()) return Truth::Unknown;
  return v.stamp ? Truth::True : Truth::False;
}

Value FromTruth(Truth t) {
  if (t == Truth::Unknown) return Value::Null();
  return Value::Logical(t == Truth::True);
}

}  // namespace

int CompareValues(const Value& a, const Value& b, Op op) {
  if (a.type == Type::Char) {
    return CompareBytes(reinterpret_cast<const unsigned char*>(a.text.data()), a.text.size(),
                        reinterpret_cast<const unsigned char*>(b.text.data()), b.text.size(), op);
  }
  if (a.type == Type::Number) {
    if (!a.text.empty() && !b.text.empty()) {
      auto da = ParseDecimalText(a.text), db = ParseDecimalText(b.text);
      if (da && db) return CompareDecimal(*da, *db);
    }
    return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  }
  if (a.type == Type::Date || a.type == Type::DateTime) return Sign(AsMs(a) - AsMs(b));
  return Sign(a.stamp - b.stamp);
}

Value::Type BindExpression(Expr& e, const TableFile& table) {
  switch (e.kind) {
    case Expr::Kind::Literal: return e.literal.type;
    case Expr::Kind::Column: {
      e.field = table.Schema().Find(e.name);
      if (!e.field)
        throw DatabaseError("Column '" + e.name + "' not found in table '" + table.Name() + "' (position " +
                            std::to_string(e.position) + ")");
      return FieldType(*e.field);
    }
    case Expr::Kind::Function: {
      std::vector<Type> types;
      for (auto& a : e.args) types.push_back(BindExpression(*a, table));
      auto arity = [&](std::size_t n) {
        if (e.args.size() != n)
          throw DatabaseError("Function " + e.name + "() at position " + std::to_string(e.position) +
                              " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s"));
      };
      if (e.name == "DATETIME") {
        arity(0);
        return Type::DateTime;
      }
      if (e.name == "DATE") {
        arity(0);
        return Type::Date;
      }
      if (e.name == "CHR") {
        arity(1);
        if (types[0] != Type::Number) Mismatch(e.args[0]->position);
        return Type::Char;
      }
      throw DatabaseError("Unknown function " + e.name + "() at position " + std::to_string(e.position));
    }
    case Expr::Kind::Unary: {
      const Type t = BindExpression(*e.args[0], table);
      if (e.op == Op::Not) {
        if (t != Type::Logical && t != Type::Null) Mismatch(e.position);
        return Type::Logical;
      }
      if (t != Type::Number && t != Type::Null) Mismatch(e.position);
      return Type::Number;
    }
    case Expr::Kind::Binary: {
      const Type a = BindExpression(*e.args[0], table);
      const Type b = BindExpression(*e.args[1], table);
      if (e.op == Op::And || e.op == Op::Or) {
        if ((a != Type::Logical && a != Type::Null) || (b != Type::Logical && b != Type::Null))
          Mismatch(e.position);
        return Type::Logical;
      }
      if (IsComparison(e.op)) {
        if (!Comparable(a, b)) Mismatch(e.position);
        if (e.op == Op::ExactEqual && a != Type::Char && b != Type::Char && a != Type::Null && b != Type::Null) {
          // == also compares other types fully.
        }
        return Type::Logical;
      }
      if (e.op == Op::Add && (a == Type::Char || b == Type::Char)) {
        if ((a != Type::Char && a != Type::Null) || (b != Type::Char && b != Type::Null)) Mismatch(e.position);
        return Type::Char;
      }
      if ((a != Type::Number && a != Type::Null) || (b != Type::Number && b != Type::Null)) Mismatch(e.position);
      return Type::Number;
    }
  }
  return Type::Null;
}

Value Evaluate(const Expr& e, const TableFile& table, const unsigned char* record, std::uint32_t recno) {
  switch (e.kind) {
    case Expr::Kind::Literal: return e.literal;
    case Expr::Kind::Column:
      if (!record || !e.field)
        throw DatabaseError("Column '" + e.name + "' cannot be used here (position " + std::to_string(e.position) + ")");
      return ReadValue(RecordContext{&table, recno}, *e.field, record);
    case Expr::Kind::Function: {
      if (e.name == "DATETIME") return Value::DateTime(NowMs());
      if (e.name == "DATE") return Value::Date(NowMs() / kMsPerDay);
      const Value n = Evaluate(*e.args[0], table, record, recno);
      if (n.IsNull()) return Value::Null();
      const double code = std::floor(n.number);
      if (!(code >= 0 && code <= 255))
        throw DatabaseError("CHR() at position " + std::to_string(e.position) + " needs a code from 0 to 255");
      return Value::Char(std::string(1, static_cast<char>(static_cast<unsigned char>(code))));
    }
    case Expr::Kind::Unary: {
      const Value v = Evaluate(*e.args[0], table, record, recno);
      if (v.IsNull()) return v;
      if (e.op == Op::Not) return Value::Logical(!v.stamp);
      std::string exact = v.text;
      if (!exact.empty()) exact = exact[0] == '-' ? exact.substr(1) : "-" + exact;
      return Value::Number(-v.number, exact);
    }
    case Expr::Kind::Binary: {
      if (e.op == Op::And || e.op == Op::Or) {
        const Truth a = ToTruth(Evaluate(*e.args[0], table, record, recno));
        if (e.op == Op::And && a == Truth::False) return Value::Logical(false);
        if (e.op == Op::Or && a == Truth::True) return Value::Logical(true);
        const Truth b = ToTruth(Evaluate(*e.args[1], table, record, recno));
        if (e.op == Op::And) {
          if (b == Truth::False) return Value::Logical(false);
          return FromTruth(a == Truth::True && b == Truth::True ? Truth::True : Truth::Unknown);
        }
        if (b == Truth::True) return Value::Logical(true);
        return FromTruth(a == Truth::False && b == Truth::False ? Truth::False : Truth::Unknown);
      }
      const Value a = Evaluate(*e.args[0], table, record, recno);
      const Value b = Evaluate(*e.args[1], table, record, recno);
      if (a.IsNull() || b.IsNull()) return Value::Null();
      if (IsComparison(e.op)) {
        if (!Comparable(a.type, b.type)) Mismatch(e.position);
        return Value::Logical(Holds(e.op, CompareValues(a, b, e.op)));
      }
      if (a.type == Type::Char && b.type == Type::Char && e.op == Op::Add) return Value::Char(a.text + b.text);
      if (a.type != Type::Number || b.type != Type::Number) Mismatch(e.position);
      double r = 0;
      switch (e.op) {
        case Op::Add: r = a.number + b.number; break;
        case Op::Subtract: r = a.number - b.number; break;
        case Op::Multiply: r = a.number * b.number; break;
        case Op::Divide:
          if (b.number == 0) throw DatabaseError("Division by zero at position " + std::to_string(e.position));
          r = a.number / b.number;
          break;
        default: Mismatch(e.position);
      }
      return Value::Number(r);
    }
  }
  return Value::Null();
}

namespace {

class GenericPredicate : public Predicate {
 public:
  GenericPredicate(const Expr& e, const TableFile& t) : expr_(e), table_(t) {}
  Truth Test(const unsigned char* record, std::uint32_t recno) const override {
    return ToTruth(Evaluate(expr_, table_, record, recno));
  }

 private:
  const Expr& expr_;
  const TableFile& table_;
};

class LogicPredicate : public Predicate {
 public:
  LogicPredicate(Op op, std::unique_ptr<Predicate> a, std::unique_ptr<Predicate> b)
      : op_(op), a_(std::move(a)), b_(std::move(b)) {}
  Truth Test(const unsigned char* r, std::uint32_t n) const override {
    const Truth a = a_->Test(r, n);
    if (op_ == Op::Not) return a == Truth::Unknown ? a : (a == Truth::True ? Truth::False : Truth::True);
    if (op_ == Op::And) {
      if (a == Truth::False) return a;
      const Truth b = b_->Test(r, n);
      if (b == Truth::False) return b;
      return (a == Truth::True && b == Truth::True) ? Truth::True : Truth::Unknown;
    }
    if (a == Truth::True) return a;
    const Truth b = b_->Test(r, n);
    if (b == Truth::True) return b;
    return (a == Truth::False && b == Truth::False) ? Truth::False : Truth::Unknown;
  }

 private:
  Op op_;
  std::unique_ptr<Predicate> a_, b_;
};

// A fixed-width character field compared with a constant: raw bytes only.
class CharFieldPredicate : public Predicate {
 public:
  CharFieldPredicate(const TableSchema& s, const FieldDescriptor& f, std::string constant, Op op, bool swapped)
      : schema_(s), field_(f), constant_(std::move(constant)), op_(op), swapped_(swapped) {}
  Truth Test(const unsigned char* r, std::uint32_t) const override {
    if (field_.nullBit >= 0 && FieldIsNull(schema_, field_, r)) return Truth::Unknown;
    const auto* k = reinterpret_cast<const unsigned char*>(constant_.data());
    int c = CompareBytes(r + field_.offset, field_.length, k, constant_.size(), op_);
    if (swapped_) c = -c;
    return Holds(op_, c) ? Truth::True : Truth::False;
  }

 private:
  const TableSchema& schema_;
  const FieldDescriptor& field_;
  std::string constant_;
  Op op_;
  bool swapped_;
};

// A numeric text field without decimals compared with a whole constant:
// the digits are read straight from the record; anything unusual in the
// field falls back to the general path.
class IntegerFieldPredicate : public Predicate {
 public:
  IntegerFieldPredicate(const TableFile& t, const FieldDescriptor& f, std::int64_t constant, Op op,
                        std::unique_ptr<Predicate> fallback)
      : table_(t), field_(f), constant_(constant), op_(op), fallback_(std::move(fallback)) {}
  Truth Test(const unsigned char* r, std::uint32_t n) const override {
    if (field_.nullBit >= 0 && FieldIsNull(table_.Schema(), field_, r)) return Truth::Unknown;
    const unsigned char* p = r + field_.offset;
    const unsigned char* end = p + field_.length;
    while (p < end && *p == ' ') ++p;
    bool negative = false;
    if (p < end && *p == '-') {
      negative = true;
      ++p;
    }
    std::int64_t v = 0;
    const unsigned char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
    if (p != end || (digits == p && negative)) return fallback_->Test(r, n);
    if (negative) v = -v;
    return Holds(op_, Sign(v - constant_)) ? Truth::True : Truth::False;
  }

 private:
  const TableFile& table_;
  const FieldDescriptor& field_;
  std::int64_t constant_;
  Op op_;
  std::unique_ptr<Predicate> fallback_;
};

std::unique_ptr<Predicate> TryFast(const Expr& e, const TableFile& t) {
  if (e.kind != Expr::Kind::Binary || !IsComparison(e.op)) return nullptr;
  const Expr* col = e.args[0].get();
  const Expr* lit = e.args[1].get();
  bool swapped = false;
  if (col->kind != Expr::Kind::Column) {
    std::swap(col, lit);
    swapped = true;
  }
  if (col->kind != Expr::Kind::Column || lit->kind != Expr::Kind::Literal || !col->field) return nullptr;
  const FieldDescriptor& f = *col->field;
  if (f.type == 'C' && lit->literal.type == Type::Char)
    return std::make_unique<CharFieldPredicate>(t.Schema(), f, lit->literal.text, e.op, swapped);
  if (f.type == 'N' && f.decimals == 0 && lit->literal.type == Type::Number && f.length <= 18) {
    auto d = ParseDecimalText(lit->literal.text);
    if (!d || d->fraction.find_first_not_of('0') != std::string::npos || d->integer.size() > 18) return nullptr;
    auto v = ScaledValue(*d, 0);
    if (!v) return nullptr;
    return std::make_unique<IntegerFieldPredicate>(t, f, *v, swapped ? Mirror(e.op) : e.op,
                                                   std::make_unique<GenericPredicate>(e, t));
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<Predicate> CompilePredicate(const Expr& e, const TableFile& t) {
  if (e.kind == Expr::Kind::Binary && (e.op == Op::And || e.op == Op::Or))
    return std::make_unique<LogicPredicate>(e.op, CompilePredicate(*e.args[0], t), CompilePredicate(*e.args[1], t));
  if (e.kind == Expr::Kind::Unary && e.op == Op::Not)
    return std::make_unique<LogicPredicate>(Op::Not, CompilePredicate(*e.args[0], t), nullptr);
  if (auto fast = TryFast(e, t)) return fast;
  return std::make_unique<GenericPredicate>(e, t);
}

std::unique_ptr<Predicate> CompileWhere(Statement& statement, const TableFile& table) {
  if (!statement.where) return nullptr;
  const Value::Type t = BindExpression(*statement.where, table);
  if (t != Value::Type::Logical && t != Value::Type::Null)
    throw DatabaseError("The WHERE condition at position " + std::to_string(statement.where->position) +
                        " is not a logical expression");
  return CompilePredicate(*statement.where, table);
}

}  // namespace ravelto::registry
