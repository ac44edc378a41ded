// The parser of index expressions: tokens, precedence, and each supported
// function's argument checks. Anything outside the subset is refused here.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "registry/index/cdx_expr_node.h"

namespace ravelto::registry {

namespace {

using NodePtr = std::shared_ptr<CdxExprNode>;

[[noreturn]] void Refuse(const std::string& why) { throw CdxError(why); }

struct Token {
  enum Kind { End, Ident, Number, String, Punct } kind = End;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) { Next(); }
  const Token& Peek() const { return tok_; }
  Token Take() {
    Token t = tok_;
    Next();
    return t;
  }

 private:
  void Next() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    tok_ = Token{};
    if (pos_ >= s_.size()) return;
    char c = s_[pos_];
    auto upper = [](char ch) { return static_cast<char>(std::toupper(static_cast<unsigned char>(ch))); };
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t b = pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      tok_.kind = Token::Ident;
      for (std::size_t i = b; i < pos_; ++i) tok_.text.push_back(upper(s_[i]));
      return;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && pos_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])))) {
      std::size_t b = pos_;
      while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) ++pos_;
      tok_.kind = Token::Number;
      tok_.text.assign(s_.substr(b, pos_ - b));
      return;
    }
    if (c == '\'' || c == '"' || c == '[') {
      char close = c == '[' ? ']' : c;
      std::size_t end = s_.find(close, pos_ + 1);
      if (end == std::string_view::npos) Refuse("the expression has an unterminated string");
      tok_.kind = Token::String;
      tok_.text.assign(s_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return;
    }
    if (c == '.') {  // .T. .F. .AND. .OR. .NOT.
      std::size_t end = s_.find('.', pos_ + 1);
      if (end != std::string_view::npos) {
        std::string word;
        for (std::size_t i = pos_ + 1; i < end; ++i) word.push_back(upper(s_[i]));
        if (word == "T" || word == "F" || word == "Y" || word == "N" || word == "AND" || word == "OR" || word == "NOT") {
          tok_.kind = Token::Punct;
          tok_.text = "." + word + ".";
          pos_ = end + 1;
          return;
        }
      }
    }
    static const char* kTwo[] = {"==", "<>", "!=", "<=", ">=", "->"};
    for (const char* two : kTwo) {
      if (s_.substr(pos_, 2) == two) {
        tok_.kind = Token::Punct;
        tok_.text = two;
        pos_ += 2;
        return;
      }
    }
    if (std::strchr("()+-*/,=<>#!", c) == nullptr) {
      Refuse(std::string("the expression has the unexpected character '") + c + "'");
    }
    tok_.kind = Token::Punct;
    tok_.text = std::string(1, c);
    ++pos_;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  Token tok_;
};

bool IsNumeric(CdxType t) { return t == CdxType::Number || t == CdxType::Integer || t == CdxType::Currency; }

// A function name matches when it is the whole name or an abbreviation of at
// least four letters.
bool NameIs(const std::string& word, std::string_view full) {
  if (word == full) return true;
  return word.size() >= 4 && word.size() < full.size() && full.substr(0, word.size()) == word;
}

class Parser {
 public:
  Parser(std::string_view text, const CdxLayout& layout) : lex_(text), layout_(layout) {}

  NodePtr ParseAll() {
    NodePtr n = Or();
    if (lex_.Peek().kind != Token::End) Refuse("the expression has unexpected text at '" + lex_.Peek().text + "'");
    return n;
  }

 private:
  bool Accept(std::string_view punct) {
    const Token& t = lex_.Peek();
    if ((t.kind == Token::Punct || t.kind == Token::Ident) && t.text == punct) {
      lex_.Take();
      return true;
    }
    return false;
  }
  void Expect(std::string_view punct) {
    if (!Accept(punct)) Refuse("the expression lacks '" + std::string(punct) + "'");
  }

  static NodePtr Make(Op op, CdxType type, std::vector<NodePtr> args = {}) {
    auto n = std::make_shared<CdxExprNode>();
    n->op = op;
    n->type = type;
    for (auto& a : args) n->args.push_back(a);
    return n;
  }

  NodePtr Or() {
    NodePtr l = And();
    while (Accept("OR") || Accept(".OR.")) l = Logic(Op::Or, l, And());
    return l;
  }
  NodePtr And() {
    NodePtr l = Not();
    while (Accept("AND") || Accept(".AND.")) l = Logic(Op::And, l, Not());
    return l;
  }
  NodePtr Logic(Op op, NodePtr l, NodePtr r) {
    if (l->type != CdxType::Logical || r->type != CdxType::Logical) Refuse("AND/OR need logical operands");
    return Make(op, CdxType::Logical, {l, r});
  }
  NodePtr Not() {
    if (Accept("!") || Accept("NOT") || Accept(".NOT.")) {
      NodePtr n = Not();
      if (n->type != CdxType::Logical) Refuse("NOT needs a logical operand");
      return Make(Op::Not, CdxType::Logical, {n});
    }
    return Compare();
  }
  NodePtr Compare() {
    NodePtr l = Additive();
    static const std::pair<const char*, Op> kOps[] = {{"==", Op::Eq}, {"=", Op::Eq}, {"<>", Op::Ne}, {"!=", Op::Ne},
                                                      {"#", Op::Ne},  {"<=", Op::Le}, {">=", Op::Ge}, {"<", Op::Lt},
                                                      {">", Op::Gt}};
    for (const auto& [text, op] : kOps) {
      if (Accept(text)) {
        NodePtr r = Additive();
        bool ok = (IsNumeric(l->type) && IsNumeric(r->type)) || (l->type == r->type && l->type != CdxType::Char);
        if (l->type == CdxType::Logical && op != Op::Eq && op != Op::Ne) ok = false;
        if (!ok) Refuse("comparisons are supported for numbers, dates and logicals only");
        return Make(op, CdxType::Logical, {l, r});
      }
    }
    return l;
  }
  NodePtr Additive() {
    NodePtr l = Multiplicative();
    for (;;) {
      if (Accept("+")) {
        NodePtr r = Multiplicative();
        if (l->type == CdxType::Char && r->type == CdxType::Char) {
          NodePtr n = Make(Op::Concat, CdxType::Char, {l, r});
          n->width = (l->width >= 0 && r->width >= 0) ? l->width + r->width : -1;
          l = n;
        } else if (IsNumeric(l->type) && IsNumeric(r->type)) {
          l = Make(Op::Add, CdxType::Number, {l, r});
        } else {
          Refuse("'+' is supported for two texts or two numbers only");
        }
      } else if (Accept("-")) {
        l = Arith(Op::Sub, l, Multiplicative());
      } else {
        return l;
      }
    }
  }
  NodePtr Multiplicative() {
    NodePtr l = Unary();
    for (;;) {
      if (Accept("*")) {
        l = Arith(Op::Mul, l, Unary());
      } else if (Accept("/")) {
        l = Arith(Op::Div, l, Unary());
      } else {
        return l;
      }
    }
  }
  NodePtr Arith(Op op, NodePtr l, NodePtr r) {
    if (!IsNumeric(l->type) || !IsNumeric(r->type)) Refuse("arithmetic is supported on numbers only");
    return Make(op, CdxType::Number, {l, r});
  }
  NodePtr Unary() {
    if (Accept("-")) {
      NodePtr n = Unary();
      if (!IsNumeric(n->type)) Refuse("unary minus needs a number");
      return Make(Op::Neg, CdxType::Number, {n});
    }
    if (Accept("+")) return Unary();
    return Primary();
  }

  int ConstInt(const NodePtr& n, const char* what) {
    if (n->op != Op::Literal || !IsNumeric(n->type) || n->literal.number != std::floor(n->literal.number) ||
        n->literal.number < 0 || n->literal.number > 255) {
      Refuse(std::string(what) + " must be a whole number constant from 0 to 255");
    }
    return static_cast<int>(n->literal.number);
  }

  NodePtr Primary() {
    Token t = lex_.Take();
    if (t.kind == Token::Number) {
      auto n = Make(Op::Literal, CdxType::Number);
      double v = 0;
      auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), v);
      if (r.ec != std::errc() || r.ptr != t.text.data() + t.text.size()) Refuse("bad number '" + t.text + "'");
      n->literal.type = CdxType::Number;
      n->literal.number = v;
      return n;
    }
    if (t.kind == Token::String) {
      auto n = Make(Op::Literal, CdxType::Char);
      n->literal.type = CdxType::Char;
      n->literal.text = t.text;
      n->width = static_cast<int>(t.text.size());
      return n;
    }
    if (t.kind == Token::Punct && (t.text == ".T." || t.text == ".F." || t.text == ".Y." || t.text == ".N.")) {
      auto n = Make(Op::Literal, CdxType::Logical);
      n->literal.logical = t.text == ".T." || t.text == ".Y.";
      return n;
    }
    if (t.kind == Token::Punct && t.text == "(") {
      NodePtr n = Or();
      Expect(")");
      return n;
    }
    if (t.kind != Token::Ident) Refuse("the expression has unexpected text at '" + t.text + "'");
    if (lex_.Peek().kind == Token::Punct && (lex_.Peek().text == "->" || lex_.Peek().text == ".")) {
      Refuse("references to other tables (" + t.text + ") are not supported");
    }
    if (!Accept("(")) return FieldRef(t.text);
    std::vector<NodePtr> args;
    if (!Accept(")")) {
      do {
        args.push_back(Or());
      } while (Accept(","));
      Expect(")");
    }
    return Function(t.text, std::move(args));
  }

  NodePtr FieldRef(const std::string& name) {
    const CdxField* f = layout_.Find(name);
    if (f == nullptr) Refuse("the expression names " + name + ", which is not a field of the table");
    auto n = Make(Op::Field, CdxType::Char);
    n->field = f;
    switch (f->type) {
      case 'C': n->width = static_cast<int>(f->length); break;
      case 'N': case 'F': case 'B': n->type = CdxType::Number; break;
      case 'I': n->type = CdxType::Integer; break;
      case 'Y': n->type = CdxType::Currency; break;
      case 'D': n->type = CdxType::Date; break;
      case 'T': n->type = CdxType::DateTime; break;
      case 'L': n->type = CdxType::Logical; break;
      default: Refuse("field " + f->name + " has type " + std::string(1, f->type) + ", which keys are not built from");
    }
    if (f->null_bit >= 0) ++nullable_refs;
    return n;
  }

  void Arity(const std::string& name, const std::vector<NodePtr>& args, std::size_t lo, std::size_t hi) {
    if (args.size() < lo || args.size() > hi) Refuse(name + "() has the wrong number of arguments");
  }
  void NeedChar(const std::string& name, const NodePtr& a) {
    if (a->type != CdxType::Char) Refuse(name + "() is supported on text only");
  }

  // A call by its function name, whole or abbreviated to four letters; each
  // family below checks its own arguments.
  NodePtr Function(const std::string& word, std::vector<NodePtr> args) {
    if (NameIs(word, "UPPER")) return TextCall(Op::Upper, "UPPER", true, args);
    if (NameIs(word, "LOWER")) return TextCall(Op::Lower, "LOWER", true, args);
    if (NameIs(word, "ALLTRIM")) return TextCall(Op::AllTrim, "ALLTRIM", false, args);
    if (NameIs(word, "LTRIM")) return TextCall(Op::LTrim, "LTRIM", false, args);
    if (NameIs(word, "RTRIM") || word == "TRIM") return TextCall(Op::RTrim, "RTRIM", false, args);
    if (NameIs(word, "DELETED")) {
      Arity("DELETED", args, 0, 0);
      return Make(Op::Deleted, CdxType::Logical);
    }
    if (NameIs(word, "STR")) return StrCall(args);
    if (NameIs(word, "DTOS")) return DtosCall(args);
    if (NameIs(word, "TTOC")) return TtocCall(args);
    if (NameIs(word, "SUBSTR")) return SubstrCall(args);
    if (NameIs(word, "LEFT") || NameIs(word, "RIGHT")) return LeftRightCall(NameIs(word, "LEFT"), args);
    if (NameIs(word, "PADL") || NameIs(word, "PADR")) return PadCall(NameIs(word, "PADL"), args);
    if (word == "IIF") return IifCall(args);
    if (NameIs(word, "EMPTY")) {
      Arity("EMPTY", args, 1, 1);
      if (args[0]->type == CdxType::Char) Refuse("EMPTY() of text is not supported");
      return Make(Op::Empty, CdxType::Logical, {args[0]});
    }
    Refuse("the function " + word + "() is not supported");
  }

  // UPPER(), LOWER() and the trims: one text argument. Changing case keeps
  // the width; trimming makes it unknown.
  NodePtr TextCall(Op op, const char* name, bool keeps_width, const std::vector<NodePtr>& args) {
    Arity(name, args, 1, 1);
    NeedChar(name, args[0]);
    NodePtr n = Make(op, CdxType::Char, {args[0]});
    n->width = keeps_width ? args[0]->width : -1;
    return n;
  }

  // STR(number[, length[, decimals]]): constant length (default 10, at least
  // 1) and decimals (default 0).
  NodePtr StrCall(const std::vector<NodePtr>& args) {
    Arity("STR", args, 1, 3);
    if (!IsNumeric(args[0]->type)) Refuse("STR() needs a number");
    NodePtr n = Make(Op::Str, CdxType::Char, {args[0]});
    int len = args.size() > 1 ? ConstInt(args[1], "the length of STR()") : 10;
    int dec = args.size() > 2 ? ConstInt(args[2], "the decimals of STR()") : 0;
    if (len < 1) Refuse("STR() with length 0 is not supported");
    n->ints = {len, dec};
    n->width = len;
    return n;
  }

  // DTOS(date or date-time): eight characters YYYYMMDD.
  NodePtr DtosCall(const std::vector<NodePtr>& args) {
    Arity("DTOS", args, 1, 1);
    if (args[0]->type != CdxType::Date && args[0]->type != CdxType::DateTime) Refuse("DTOS() needs a date");
    NodePtr n = Make(Op::Dtos, CdxType::Char, {args[0]});
    n->width = 8;
    return n;
  }

  // TTOC(date-time, 1): fourteen characters YYYYMMDDhhmmss.
  NodePtr TtocCall(const std::vector<NodePtr>& args) {
    Arity("TTOC", args, 2, 2);
    if (args[0]->type != CdxType::DateTime) Refuse("TTOC() needs a date-time");
    if (ConstInt(args[1], "the format of TTOC()") != 1) Refuse("TTOC() is supported with format 1 only");
    NodePtr n = Make(Op::Ttoc, CdxType::Char, {args[0]});
    n->width = 14;
    return n;
  }

  // SUBSTR(text, start[, length]): constant start from 1 and length; the
  // width follows from the text's width when that is known.
  NodePtr SubstrCall(const std::vector<NodePtr>& args) {
    Arity("SUBSTR", args, 2, 3);
    NeedChar("SUBSTR", args[0]);
    int start = ConstInt(args[1], "the start of SUBSTR()");
    if (start < 1) Refuse("SUBSTR() from position 0 is not supported");
    int len = args.size() > 2 ? ConstInt(args[2], "the length of SUBSTR()") : -1;
    NodePtr n = Make(Op::Substr, CdxType::Char, {args[0]});
    n->ints = {start, len};
    int w = args[0]->width;
    if (w >= 0) {
      int rest = std::max(0, w - start + 1);
      n->width = len < 0 ? rest : std::min(len, rest);
    }
    return n;
  }

  // LEFT(text, length) and RIGHT(text, length) with a constant length.
  NodePtr LeftRightCall(bool left, const std::vector<NodePtr>& args) {
    Arity(left ? "LEFT" : "RIGHT", args, 2, 2);
    NeedChar(left ? "LEFT" : "RIGHT", args[0]);
    int len = ConstInt(args[1], "the length of LEFT()/RIGHT()");
    NodePtr n = Make(left ? Op::Left : Op::Right, CdxType::Char, {args[0]});
    n->ints = {len};
    n->width = args[0]->width >= 0 ? std::min(len, args[0]->width) : -1;
    return n;
  }

  // PADL(text, length[, fill]) and PADR(): constant length; the fill is the
  // first character of a text constant, a blank by default.
  NodePtr PadCall(bool left, const std::vector<NodePtr>& args) {
    Arity("PADL/PADR", args, 2, 3);
    NeedChar("PADL/PADR", args[0]);
    int len = ConstInt(args[1], "the length of PADL()/PADR()");
    std::string fill = " ";
    if (args.size() > 2) {
      if (args[2]->op != Op::Literal || args[2]->type != CdxType::Char || args[2]->literal.text.empty()) {
        Refuse("the fill of PADL()/PADR() must be a text constant");
      }
      fill = args[2]->literal.text.substr(0, 1);
    }
    NodePtr n = Make(left ? Op::Padl : Op::Padr, CdxType::Char, {args[0]});
    n->ints = {len, static_cast<uint8_t>(fill[0])};
    n->width = len;
    return n;
  }

  // IIF(condition, a, b): a logical condition and two branches of one type.
  NodePtr IifCall(const std::vector<NodePtr>& args) {
    Arity("IIF", args, 3, 3);
    if (args[0]->type != CdxType::Logical) Refuse("IIF() needs a logical condition");
    if (args[1]->type != args[2]->type) Refuse("IIF() with branches of different types is not supported");
    NodePtr n = Make(Op::Iif, args[1]->type, {args[0], args[1], args[2]});
    n->width = args[1]->width == args[2]->width ? args[1]->width : -1;
    return n;
  }

  Lexer lex_;
  const CdxLayout& layout_;

 public:
  int nullable_refs = 0;
};

}  // namespace

std::shared_ptr<CdxExprNode> ParseCdxExpression(std::string_view text, const CdxLayout& layout, int& nullable_refs) {
  Parser parser(text, layout);
  NodePtr root = parser.ParseAll();
  nullable_refs = parser.nullable_refs;
  return root;
}

}  // namespace ravelto::registry
