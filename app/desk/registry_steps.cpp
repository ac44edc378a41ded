#include "app/desk/registry_steps.h"

#include "app/desk/card_text.h"

namespace ravelto::desk {

bool RunQuery(registry::Query& sql, std::string_view text) {
  sql.Clear();
  sql.Add(text);
  sql.Execute();
  sql.Open();
  return sql.RecordCount() > 0;
}

std::string JoinColumns(const registry::Query& sql, std::initializer_list<std::string_view> names) {
  std::vector<std::string> parts;
  parts.reserve(names.size());
  for (std::string_view name : names) parts.push_back(sql.AsText(name));
  return JoinTrimmed(parts);
}

AddressValues ReadKeptAddress(const registry::Query& sql) {
  AddressValues a;
  a.stree1_f = TrimText(sql.AsText("stree1_f"));
  a.street_f = TrimText(sql.AsText("street_f"));
  a.house_f = TrimText(sql.AsText("house_f"));
  a.kv_f = TrimText(sql.AsText("kv_f"));
  a.kr_f = TrimText(sql.AsText("kr_f"));
  a.knacp_f = TrimText(sql.AsText("knacp_f"));
  a.nnacp_f = TrimText(sql.AsText("nnacp_f"));
  return a;
}

int DistrictDoctor(registry::Query& sql, std::string_view district) {
  if (district.empty()) return 0;
  if (!RunQuery(sql, DistrictQuery(district))) return 0;
  sql.First();
  return sql.AsInteger("kw");
}

int AddDepartmentDoctors(registry::Query& sql, std::string_view departmentCode, int districtDoctor,
                         int runningIndex, const DoctorListSink& sink) {
  if (departmentCode == "0") return runningIndex;
  if (!RunQuery(sql, DoctorsQuery(departmentCode))) return runningIndex;
  sql.First();
  while (!sql.Eof()) {
    sink.add(DoctorEntry(sql.AsText("nb"), sql.AsText("kw")));
    if (sql.AsInteger("kw") == districtDoctor) sink.select(runningIndex);
    sql.Next();
    ++runningIndex;
  }
  return runningIndex;
}

std::vector<Column> ReadFieldList(const registry::Query& sql) {
  std::vector<Column> columns;
  const int count = sql.FieldCount();
  columns.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) columns.push_back({sql.FieldName(i), sql.FieldType(i)});
  return columns;
}

void WriteAcceptedRow(registry::Connection& ado, registry::Query& sql, const AcceptValues& values,
                      std::string_view fragment) {
  ado.SetConnected(true);
  RunQuery(sql, kFieldListQuery);
  const std::vector<Column> columns = ReadFieldList(sql);
  const std::string insert = BuildInsert(columns, values);
  const std::string update = BuildMarkerUpdate(fragment);
  sql.Clear();
  sql.Add(insert);
  sql.Execute();
  sql.Clear();
  sql.Add(update);
  sql.Execute();
  ado.SetConnected(false);
}

void CompleteAcceptedRow(registry::Connection& ado, registry::Query& sql, const AcceptValues& values,
                         std::string_view fragment) {
  const std::string& code = values.patientCode;
  const bool whole = !code.empty() && code.find_first_not_of("0123456789") == std::string::npos;
  ado.SetConnected(true);
  if (whole && RunQuery(sql, "SELECT * FROM m1042 WHERE data_vizc='112233' AND kl=" + code)) {
    const std::string update = BuildMarkerUpdate(fragment);
    sql.Clear();
    sql.Add(update);
    sql.Execute();
    ado.SetConnected(false);
    return;
  }
  WriteAcceptedRow(ado, sql, values, fragment);
}

}  // namespace ravelto::desk
