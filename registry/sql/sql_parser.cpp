#include <cstdlib>
#include <string_view>

#include "registry/sql/sql_ast.h"
#include "registry/table/database_error.h"
#include "registry/table/decimal_text.h"

namespace ravelto::registry {

namespace {

struct Token {
  enum class Type { Identifier, Number, String, Symbol, End };
  Type type = Type::End;
  std::string text;  // identifier/number/symbol text; a string's content
  std::string source;  // as written, for messages
  std::size_t position = 0;  // 1-based
};

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentPart(char c) { return IsIdentStart(c) || IsDigit(c); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string ToLower(std::string s) {
  for (char& c : s) c = Lower(c);
  return s;
}
std::string ToUpper(std::string s) {
  for (char& c : s) c = Upper(c);
  return s;
}

[[noreturn]] void SyntaxError(std::size_t position, const std::string& expected, const Token& found) {
  std::string what = found.type == Token::Type::End ? "end of statement" : "\"" + found.source + "\"";
  throw DatabaseError("Syntax error at position " + std::to_string(position) + ": expected " + expected +
                      ", found " + what);
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    Token t;
    t.position = pos_ + 1;
    if (pos_ >= text_.size()) {
      // The end is reported right after the last character that is not blank.
      std::size_t end = text_.size();
      while (end > 0 && IsBlank(text_[end - 1])) --end;
      t.position = end + 1;
      return t;
    }
    const std::size_t start = pos_;
    const char c = text_[pos_];
    if (IsIdentStart(c)) {
      while (pos_ < text_.size() && IsIdentPart(text_[pos_])) ++pos_;
      t.type = Token::Type::Identifier;
    } else if (IsDigit(c) || (c == '.' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      LexNumber(t, start);
    } else if (c == '\'' || c == '"' || c == '[') {
      LexText(t, start, c);
      return t;
    } else if (c == '.' && pos_ + 2 < text_.size() && text_[pos_ + 2] == '.' &&
               (Upper(text_[pos_ + 1]) == 'T' || Upper(text_[pos_ + 1]) == 'F' ||
                Upper(text_[pos_ + 1]) == 'Y' || Upper(text_[pos_ + 1]) == 'N')) {
      pos_ += 3;  // .T. .F. logical literals
      t.type = Token::Type::Symbol;
    } else {
      static const char* kTwo[] = {"==", "<>", "!=", "<=", ">="};
      t.type = Token::Type::Symbol;
      pos_ += 1;
      for (const char* two : kTwo)
        if (text_.substr(start, 2) == two) pos_ = start + 2;
    }
    t.text = t.source = std::string(text_.substr(start, pos_ - start));
    return t;
  }

 private:
  // Digits with at most one decimal point (either side may be empty, not
  // both). A letter straight after the digits makes the word no number.
  void LexNumber(Token& t, std::size_t start) {
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && IsIdentStart(text_[pos_])) {
      while (pos_ < text_.size() && IsIdentPart(text_[pos_])) ++pos_;
      t.type = Token::Type::Symbol;
      t.text = t.source = std::string(text_.substr(start, pos_ - start));
      SyntaxError(t.position, "a number", t);
    }
    t.type = Token::Type::Number;
  }

  // Text between '...', "..." or [...]; the content is taken as written, with
  // no escapes, and must be closed before the statement ends.
  void LexText(Token& t, std::size_t start, char open) {
    const char close = open == '[' ? ']' : open;
    const std::size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) {
      t.type = Token::Type::Symbol;
      t.source = std::string(1, open);
      throw DatabaseError("Syntax error at position " + std::to_string(t.position) +
                          ": the text literal has no closing " + std::string(1, close));
    }
    t.type = Token::Type::String;
    t.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    t.source = std::string(text_.substr(start, pos_ - start));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { Advance(); }

  Statement ParseStatement() {
    Statement s;
    if (IsKeyword("SELECT")) {
      ParseSelect(s);
    } else if (IsKeyword("INSERT")) {
      ParseInsert(s);
    } else if (IsKeyword("UPDATE")) {
      ParseUpdate(s);
    } else {
      SyntaxError(tok_.position, "SELECT, INSERT or UPDATE", tok_);
    }
    if (IsSymbol(";")) Advance();
    ExpectEnd();
    return s;
  }

  ExprPtr ParseWholeExpression() {
    ExprPtr e = ParseOr();
    ExpectEnd();
    return e;
  }

 private:
  void Advance() { tok_ = lexer_.Next(); }
  bool IsKeyword(const char* word) const {
    return tok_.type == Token::Type::Identifier && ToUpper(tok_.text) == word;
  }
  bool IsSymbol(const char* s) const { return tok_.type == Token::Type::Symbol && tok_.text == s; }
  void ExpectKeyword(const char* word) {
    if (!IsKeyword(word)) SyntaxError(tok_.position, word, tok_);
    Advance();
  }
  void ExpectSymbol(const char* s) {
    if (!IsSymbol(s)) SyntaxError(tok_.position, std::string("\"") + s + "\"", tok_);
    Advance();
  }
  void ExpectEnd() {
    if (tok_.type != Token::Type::End) SyntaxError(tok_.position, "end of statement", tok_);
  }
  static bool Reserved(const std::string& upper) {
    static const char* kWords[] = {"SELECT", "TOP", "FROM", "WHERE", "ORDER", "BY", "ASC", "DESC",
                                   "INSERT", "INTO", "VALUE", "VALUES", "UPDATE", "SET", "AND", "OR",
                                   "NOT", "NULL"};
    for (const char* w : kWords)
      if (upper == w) return true;
    return false;
  }
  std::string ExpectName(const char* what, std::size_t* position) {
    if (tok_.type != Token::Type::Identifier || Reserved(ToUpper(tok_.text)))
      SyntaxError(tok_.position, what, tok_);
    *position = tok_.position;
    std::string name = tok_.text;
    Advance();
    return name;
  }

  // SELECT [TOP n] * FROM table [WHERE condition] [ORDER BY column [ASC|DESC], ...]
  void ParseSelect(Statement& s) {
    s.kind = Statement::Kind::Select;
    Advance();
    if (IsKeyword("TOP")) ParseTop(s);
    ExpectSymbol("*");
    ExpectKeyword("FROM");
    s.table = ExpectName("a table name", &s.tablePosition);
    if (IsKeyword("WHERE")) {
      Advance();
      s.where = ParseOr();
    }
    if (IsKeyword("ORDER")) ParseOrderBy(s);
  }

  // TOP n: a whole number from 1 to 2147483647 written without a point.
  void ParseTop(Statement& s) {
    Advance();
    if (tok_.type != Token::Type::Number || tok_.text.find('.') != std::string::npos)
      SyntaxError(tok_.position, "a whole number after TOP", tok_);
    const unsigned long long n = std::strtoull(tok_.text.c_str(), nullptr, 10);
    if (n < 1 || n > 2147483647ULL || tok_.text.size() > 10)
      throw DatabaseError("Syntax error at position " + std::to_string(tok_.position) +
                          ": TOP needs a number from 1 to 2147483647");
    s.top = n;
    Advance();
  }

  // ORDER BY: one or more column names, each optionally ASC or DESC.
  void ParseOrderBy(Statement& s) {
    Advance();
    ExpectKeyword("BY");
    for (;;) {
      OrderItem item;
      item.column = ToLower(ExpectName("a column name", &item.position));
      if (IsKeyword("ASC")) {
        Advance();
      } else if (IsKeyword("DESC")) {
        item.descending = true;
        Advance();
      }
      s.orderBy.push_back(std::move(item));
      if (!IsSymbol(",")) break;
      Advance();
    }
  }

  // INSERT INTO table (column, ...) VALUE[S] (value, ...), as many values as columns.
  void ParseInsert(Statement& s) {
    s.kind = Statement::Kind::Insert;
    Advance();
    ExpectKeyword("INTO");
    s.table = ExpectName("a table name", &s.tablePosition);
    ExpectSymbol("(");
    for (;;) {
      std::size_t at = 0;
      s.columns.push_back(ToLower(ExpectName("a column name", &at)));
      s.columnPositions.push_back(at);
      if (!IsSymbol(",")) break;
      Advance();
    }
    ExpectSymbol(")");
    if (IsKeyword("VALUE") || IsKeyword("VALUES")) {
      Advance();
    } else {
      SyntaxError(tok_.position, "VALUES", tok_);
    }
    const std::size_t open = tok_.position;
    ExpectSymbol("(");
    for (;;) {
      s.values.push_back(ParseOr());
      if (!IsSymbol(",")) break;
      Advance();
    }
    ExpectSymbol(")");
    if (s.values.size() != s.columns.size())
      throw DatabaseError("Syntax error at position " + std::to_string(open) + ": " +
                          std::to_string(s.columns.size()) + " columns but " + std::to_string(s.values.size()) +
                          " values");
  }

  // UPDATE table SET column = value, ... [WHERE condition]
  void ParseUpdate(Statement& s) {
    s.kind = Statement::Kind::Update;
    Advance();
    s.table = ExpectName("a table name", &s.tablePosition);
    ExpectKeyword("SET");
    for (;;) {
      std::size_t at = 0;
      s.columns.push_back(ToLower(ExpectName("a column name", &at)));
      s.columnPositions.push_back(at);
      ExpectSymbol("=");
      s.values.push_back(ParseOr());
      if (!IsSymbol(",")) break;
      Advance();
    }
    if (IsKeyword("WHERE")) {
      Advance();
      s.where = ParseOr();
    }
  }

  static ExprPtr MakeBinary(Op op, ExprPtr a, ExprPtr b, std::size_t position) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Binary;
    e->op = op;
    e->position = position;
    e->args.push_back(std::move(a));
    e->args.push_back(std::move(b));
    return e;
  }

  ExprPtr ParseOr() {
    ExprPtr left = ParseAnd();
    while (IsKeyword("OR")) {
      const std::size_t at = tok_.position;
      Advance();
      left = MakeBinary(Op::Or, std::move(left), ParseAnd(), at);
    }
    return left;
  }

  ExprPtr ParseAnd() {
    ExprPtr left = ParseNot();
    while (IsKeyword("AND")) {
      const std::size_t at = tok_.position;
      Advance();
      left = MakeBinary(Op::And, std::move(left), ParseNot(), at);
    }
    return left;
  }

  ExprPtr ParseNot() {
    if (IsKeyword("NOT") || IsSymbol("!")) {
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::Unary;
      e->op = Op::Not;
      e->position = tok_.position;
      Advance();
      e->args.push_back(ParseNot());
      return e;
    }
    return ParseComparison();
  }

  ExprPtr ParseComparison() {
    ExprPtr left = ParseAdditive();
    static const std::pair<const char*, Op> kOps[] = {
        {"=", Op::Equal}, {"==", Op::ExactEqual}, {"<>", Op::NotEqual}, {"!=", Op::NotEqual},
        {"#", Op::NotEqual}, {"<", Op::Less}, {"<=", Op::LessEqual}, {">", Op::Greater},
        {">=", Op::GreaterEqual}};
    for (const auto& [symbol, op] : kOps) {
      if (IsSymbol(symbol)) {
        const std::size_t at = tok_.position;
        Advance();
        ExprPtr right = ParseAdditive();
        left = MakeBinary(op, std::move(left), std::move(right), at);
        break;
      }
    }
    return left;
  }

  ExprPtr ParseAdditive() {
    ExprPtr left = ParseMultiplicative();
    while (IsSymbol("+") || IsSymbol("-")) {
      const Op op = IsSymbol("+") ? Op::Add : Op::Subtract;
      const std::size_t at = tok_.position;
      Advance();
      left = MakeBinary(op, std::move(left), ParseMultiplicative(), at);
    }
    return left;
  }

  ExprPtr ParseMultiplicative() {
    ExprPtr left = ParseUnary();
    while (IsSymbol("*") || IsSymbol("/")) {
      const Op op = IsSymbol("*") ? Op::Multiply : Op::Divide;
      const std::size_t at = tok_.position;
      Advance();
      left = MakeBinary(op, std::move(left), ParseUnary(), at);
    }
    return left;
  }

  ExprPtr ParseUnary() {
    if (IsSymbol("-") || IsSymbol("+")) {
      const bool negate = IsSymbol("-");
      const std::size_t at = tok_.position;
      Advance();
      ExprPtr operand = ParseUnary();
      if (!negate) return operand;
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::Unary;
      e->op = Op::Negate;
      e->position = at;
      e->args.push_back(std::move(operand));
      return e;
    }
    return ParsePrimary();
  }

  // A value: a number, a text literal, NULL, a column, a function call, an
  // expression in parentheses or a logical literal .T. .F. .Y. .N.
  ExprPtr ParsePrimary() {
    switch (tok_.type) {
      case Token::Type::Number:
        return ParseNumberLiteral();
      case Token::Type::String: {
        auto e = std::make_unique<Expr>();
        e->position = tok_.position;
        e->kind = Expr::Kind::Literal;
        e->literal = Value::Char(tok_.text);
        Advance();
        return e;
      }
      case Token::Type::Identifier:
        return ParseName();
      case Token::Type::Symbol:
        return ParseSymbolValue();
      default:
        SyntaxError(tok_.position, "a value", tok_);
    }
  }

  // A number keeps its digits as written, with a bare point completed
  // (".5" -> "0.5") or dropped ("5." -> "5").
  ExprPtr ParseNumberLiteral() {
    auto e = std::make_unique<Expr>();
    e->position = tok_.position;
    e->kind = Expr::Kind::Literal;
    std::string exact = tok_.text;
    if (exact[0] == '.') exact = "0" + exact;
    if (exact.back() == '.') exact.pop_back();
    e->literal = Value::Number(ParseDouble(exact), exact);
    Advance();
    return e;
  }

  // NULL, a column name, or a function name followed by its argument list;
  // other reserved words are no value.
  ExprPtr ParseName() {
    auto e = std::make_unique<Expr>();
    e->position = tok_.position;
    const std::string upper = ToUpper(tok_.text);
    if (upper == "NULL") {
      e->kind = Expr::Kind::Literal;
      Advance();
      return e;
    }
    if (Reserved(upper)) SyntaxError(tok_.position, "a value", tok_);
    const std::string name = tok_.text;
    Advance();
    if (IsSymbol("(")) {
      e->kind = Expr::Kind::Function;
      e->name = ToUpper(name);
      Advance();
      ParseArguments(*e);
      return e;
    }
    e->kind = Expr::Kind::Column;
    e->name = ToLower(name);
    return e;
  }

  // A function's arguments after its "(": none, or expressions separated by
  // commas, then ")".
  void ParseArguments(Expr& call) {
    if (!IsSymbol(")")) {
      for (;;) {
        call.args.push_back(ParseOr());
        if (!IsSymbol(",")) break;
        Advance();
      }
    }
    ExpectSymbol(")");
  }

  // "(" expression ")", or a logical literal. A "?" left in the text is a
  // parameter that was given no value.
  ExprPtr ParseSymbolValue() {
    if (IsSymbol("(")) {
      Advance();
      ExprPtr inner = ParseOr();
      ExpectSymbol(")");
      return inner;
    }
    if (IsSymbol("?"))
      throw DatabaseError("No value was supplied for the parameter at position " +
                          std::to_string(tok_.position));
    if (tok_.text.size() == 3 && tok_.text[0] == '.') {
      auto e = std::make_unique<Expr>();
      e->position = tok_.position;
      const char c = Upper(tok_.text[1]);
      e->kind = Expr::Kind::Literal;
      e->literal = Value::Logical(c == 'T' || c == 'Y');
      Advance();
      return e;
    }
    SyntaxError(tok_.position, "a value", tok_);
  }

  Lexer lexer_;
  Token tok_;
};

}  // namespace

Statement ParseStatement(std::string_view sql) {
  Parser p(sql);
  return p.ParseStatement();
}

ExprPtr ParseExpression(std::string_view text) {
  Parser p(text);
  return p.ParseWholeExpression();
}

}  // namespace ravelto::registry
