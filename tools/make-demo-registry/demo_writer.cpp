#include "tools/make-demo-registry/demo_writer.h"

#include <filesystem>
#include <utility>

#include "registry/sql/sql_ast.h"
#include "registry/sql/table_writer.h"
#include "registry/table/create_table.h"
#include "registry/table/database_error.h"

namespace ravelto::demo {
namespace {

namespace fs = std::filesystem;
using registry::Value;

std::vector<registry::FieldSpec> Fields(const TableSpec& t) {
  std::vector<registry::FieldSpec> out;
  for (const auto& c : t.columns) {
    registry::FieldSpec f;
    f.name = c.name;
    f.type = c.type;
    f.length = c.length;
    f.decimals = c.decimals;
    out.push_back(f);
  }
  return out;
}

// One row: column names with typed values, inserted as one INSERT statement.
class Row {
 public:
  Row& Text(const char* column, std::string value) { return Put(column, Value::Char(std::move(value))); }
  Row& Number(const char* column, int value) {
    return Put(column, Value::Number(value, std::to_string(value)));
  }
  Row& Date(const char* column, CivilDay day) { return Put(column, Value::Date(DaysSince1899(day))); }

  void InsertInto(const std::string& folder, const std::string& table) {
    registry::InsertRow(folder, table, std::move(values_));
  }

 private:
  Row& Put(const char* column, Value v) {
    values_.emplace_back(column, std::move(v));
    return *this;
  }
  std::vector<std::pair<std::string, Value>> values_;
};

}  // namespace

void WriteDemoRegistry(const std::string& folder, const DemoRegistry& data, bool replace) {
  fs::create_directories(folder);
  const TableSpec tables[] = {PatientTable(), DistrictTable(), StaffTable(), VisitTable()};
  for (const auto& t : tables) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
      const fs::path p = fs::path(folder) / (t.name + ext);
      if (!fs::exists(p)) continue;
      if (!replace) throw registry::DatabaseError("Table " + p.string() + " exists already");
      fs::remove(p);
    }
  }
  for (const auto& t : tables) registry::CreateTable(folder, t.name, Fields(t));

  for (const auto& s : data.staff) {
    Row().Number("kw", s.kw).Text("nb", s.nb).Text("dolj", s.dolj).InsertInto(folder, "ci003");
  }
  for (const auto& d : data.districts) {
    Row().Number("kuch", d.kuch).Number("kw", d.kw).Text("nuch", d.nuch).InsertInto(folder, "ci007");
  }
  for (const auto& p : data.patients) {
    Row()
        .Number("kl", p.kl)
        .Text("fiol", p.fiol)
        .Text("im", p.im)
        .Text("ot", p.ot)
        .Text("pol", std::string(1, p.sex == 'F' ? '\xC6' : '\xCC'))  // Ж / М
        .Date("data_r", p.data_r)
        .Number("uch", p.uch)
        .Text("nnacp", p.nnacp)
        .Text("street1", p.street1)
        .Text("house", p.house)
        .Text("kv", p.kv)
        .Text("nnacp_f", p.nnacp_f)
        .Text("street_f", p.street_f)
        .Text("house_f", p.house_f)
        .Text("kv_f", p.kv_f)
        .Number("stree1_f", p.stree1_f)
        .Number("kr_f", p.kr_f)
        .Number("knacp_f", p.knacp_f)
        .Text("telef", p.telef)
        .InsertInto(folder, "m1005");
  }
}

}  // namespace ravelto::demo
