#pragma once
// Index key and FOR expressions: a parser and evaluator for the subset of the
// registry program's expression language that real tags use. Anything
// outside the subset is refused at compile time with the reason, and values
// whose key is not known exactly (an overflowing STR(), a numeric field
// holding asterisks, ...) are refused when evaluated: a write is refused
// rather than stored with a guessed key.
//
// Supported: field names (C, N, F, I, B, Y, D, T, L), string literals in
// '...', "..." and [...], numbers, .T./.F., UPPER(), LOWER(), STR(n[,len[,dec]]),
// DTOS(), TTOC(t,1), ALLTRIM()/LTRIM()/RTRIM()/TRIM(), SUBSTR(), LEFT(),
// RIGHT(), PADL()/PADR(), IIF(), DELETED(), EMPTY() of non-character values,
// + (concatenation, addition), - * / on numbers, comparisons of numbers,
// dates and logicals, !/NOT/.NOT., AND/.AND., OR/.OR., parentheses. Function
// names may be abbreviated to four letters.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "registry/index/cdx_record.h"

namespace ravelto::registry {

enum class CdxType { Char, Number, Integer, Currency, Date, DateTime, Logical };

struct CdxValue {
  CdxType type = CdxType::Logical;
  std::string text;     // Char
  double number = 0;    // Number, Currency
  int64_t integer = 0;  // Integer; Date and DateTime: Julian day (0 = empty)
  int64_t ms = 0;       // DateTime: milliseconds since midnight
  bool logical = false;
  bool null = false;    // a single nullable field reference that is NULL
};

struct CdxExprNode;

class CdxExpression {
 public:
  // Parses text and resolves its field names. Throws CdxError whose text
  // says what is not supported.
  static CdxExpression Compile(std::string_view text, const CdxLayout& layout);

  CdxType Type() const;
  // Width of a character result known without a record, or -1.
  int Width() const;
  // The field when the whole expression is one field reference, else nullptr.
  const CdxField* SingleField() const;
  // Evaluates on a record (deletion flag at byte 0). Throws CdxError for a
  // value whose result is not known exactly.
  CdxValue Evaluate(std::span<const uint8_t> record) const;

 private:
  std::shared_ptr<const CdxExprNode> root_;
  std::shared_ptr<const CdxLayout> layout_;
};

// Upper/lower case in Windows-1251: ASCII letters and the Russian alphabet
// (including Ё/ё); every other byte is left unchanged.
char UpperCp1251(char c);
char LowerCp1251(char c);

}  // namespace ravelto::registry
