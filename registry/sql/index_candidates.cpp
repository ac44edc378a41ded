#include "registry/sql/index_candidates.h"

#include <algorithm>
#include <cmath>

#include "registry/index/cdx_lookup.h"
#include "registry/sql/sql_ast.h"
#include "registry/table/dbf_schema.h"
#include "registry/table/dbf_table.h"

namespace ravelto::registry {

namespace {

struct Bound {
  const FieldDescriptor* field = nullptr;
  std::string column;
  Op op = Op::Equal;
  const Value* value = nullptr;
};

void Conjuncts(const Expr& e, std::vector<Bound>& out) {
  if (e.kind != Expr::Kind::Binary || e.args.size() != 2) return;
  if (e.op == Op::And) {
    Conjuncts(*e.args[0], out);
    Conjuncts(*e.args[1], out);
    return;
  }
  if (e.op != Op::Equal && e.op != Op::ExactEqual && e.op != Op::Less && e.op != Op::LessEqual &&
      e.op != Op::Greater && e.op != Op::GreaterEqual) {
    return;
  }
  const Expr* col = e.args[0].get();
  const Expr* lit = e.args[1].get();
  Op op = e.op;
  if (col->kind != Expr::Kind::Column) {
    std::swap(col, lit);
    op = Mirror(op);
  }
  if (col->kind != Expr::Kind::Column || lit->kind != Expr::Kind::Literal) return;
  out.push_back({col->field, col->name, op, &lit->literal});
}

}  // namespace

std::optional<std::vector<uint32_t>> IndexCandidates(const TableFile& table, const Expr& where) {
  const std::string& cdx_path = table.CdxPath();
  const TableSchema& schema = table.Schema();
  if (cdx_path.empty() || !schema.HasStructuralIndex()) return std::nullopt;
  // Records as the index layer reads them, to confirm a collated tag's keys.
  std::vector<unsigned char> buffer;
  CdxRecordSource records;
  records.count = table.RecordCount();
  records.record = [&table, &buffer](uint32_t recno) {
    if (!table.ReadRecord(recno, buffer)) throw CdxError("record " + std::to_string(recno) + " cannot be read");
    return std::span<const uint8_t>(buffer);
  };
  std::vector<Bound> bounds;
  Conjuncts(where, bounds);
  if (bounds.empty()) return std::nullopt;
  const CdxLayout layout = LayoutOfSchema(schema);
  for (const Bound& b : bounds) {
    const FieldDescriptor* f = b.field ? b.field : schema.Find(b.column);
    if (f == nullptr) continue;
    const bool numeric_column = f->type == 'N' || f->type == 'F' || f->type == 'I' || f->type == 'B';
    std::optional<std::vector<uint32_t>> found;
    if (numeric_column && b.value->type == Value::Type::Number && std::isfinite(b.value->number)) {
      auto index = CdxColumnIndex::Open(cdx_path, layout, f->name);
      if (!index) continue;
      double v = b.value->number;
      switch (b.op) {
        case Op::Equal: case Op::ExactEqual: found = index->Range(v, true, v, true); break;
        case Op::Less: found = index->Range(std::nullopt, false, v, false); break;
        case Op::LessEqual: found = index->Range(std::nullopt, false, v, true); break;
        case Op::Greater: found = index->Range(v, false, std::nullopt, false); break;
        default: found = index->Range(v, true, std::nullopt, false); break;
      }
    } else if (f->type == 'C' && b.value->type == Value::Type::Char &&
               (b.op == Op::Equal || b.op == Op::ExactEqual)) {
      std::string text = b.value->text;
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (text.empty()) continue;
      auto index = CdxColumnIndex::Open(cdx_path, layout, f->name, &records);
      if (!index) continue;
      found = index->TextPrefix(text);
    }
    if (found) {
      std::sort(found->begin(), found->end());
      found->erase(std::unique(found->begin(), found->end()), found->end());
      return found;
    }
  }
  return std::nullopt;
}

}  // namespace ravelto::registry
