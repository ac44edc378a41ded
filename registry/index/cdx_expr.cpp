#include "registry/index/cdx_expr.h"

#include "registry/index/cdx_expr_node.h"

namespace ravelto::registry {

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw CdxError(why); }

}  // namespace

CdxExpression CdxExpression::Compile(std::string_view text, const CdxLayout& layout) {
  CdxExpression e;
  e.layout_ = std::make_shared<const CdxLayout>(layout);
  int nullable_refs = 0;
  std::shared_ptr<CdxExprNode> root = ParseCdxExpression(text, *e.layout_, nullable_refs);
  if (nullable_refs > 0 && !(root->op == Op::Field && nullable_refs == 1)) {
    Refuse("keys of expressions that combine a nullable field with anything else are not reproduced");
  }
  e.root_ = root;
  return e;
}

CdxType CdxExpression::Type() const { return root_->type; }
int CdxExpression::Width() const { return root_->width; }
const CdxField* CdxExpression::SingleField() const { return root_->op == Op::Field ? root_->field : nullptr; }

CdxValue CdxExpression::Evaluate(std::span<const uint8_t> record) const {
  if (record.size() < layout_->record_length) Refuse("the record is shorter than the table's record length");
  return EvalCdxExpression(*root_, record, *layout_);
}

}  // namespace ravelto::registry
