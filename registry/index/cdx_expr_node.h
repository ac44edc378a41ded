#pragma once
// The compiled form of an index expression, shared by the parser
// (cdx_expr_parse.cpp) and the evaluator (cdx_expr_eval.cpp). Internal to
// the index library: callers use CdxExpression from cdx_expr.h.

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "registry/index/cdx_expr.h"
#include "registry/index/cdx_format.h"

namespace ravelto::registry {

enum class Op {
  Literal, Field, Deleted, Upper, Lower, Str, Dtos, Ttoc, AllTrim, LTrim, RTrim, Substr, Left, Right,
  Padl, Padr, Iif, Empty, Concat, Add, Sub, Mul, Div, Neg, Not, And, Or, Eq, Ne, Lt, Le, Gt, Ge
};

struct CdxExprNode {
  Op op = Op::Literal;
  CdxType type = CdxType::Logical;
  int width = -1;
  CdxValue literal;
  const CdxField* field = nullptr;
  std::vector<std::shared_ptr<const CdxExprNode>> args;
  std::vector<int> ints;  // constant arguments (lengths, positions)
};

// Parses text into a tree whose field references point into layout, which
// must outlive the tree. nullable_refs receives how many references name a
// nullable field. Throws CdxError saying what is not supported.
std::shared_ptr<CdxExprNode> ParseCdxExpression(std::string_view text, const CdxLayout& layout, int& nullable_refs);

// Evaluates a tree on a record (deletion flag at byte 0). Throws CdxError
// for a value whose result is not known exactly.
CdxValue EvalCdxExpression(const CdxExprNode& node, std::span<const uint8_t> record, const CdxLayout& layout);

}  // namespace ravelto::registry
