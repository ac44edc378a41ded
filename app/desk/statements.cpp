#include "app/desk/statements.h"

#include "app/desk/card_text.h"
#include "app/desk/cp1251_literal.h"
#include "registry/sql/parameter_scan.h"
#include "registry/sql/sql_literal.h"

namespace ravelto::desk {

namespace {

// "<what> "<value>" не является целым числом" + suffix.
[[noreturn]] void RefuseNumber(std::string_view what, std::string_view value,
                               std::string_view suffix = {}) {
  throw DeskError(std::string(what) + " \"" + std::string(value) + "\"" +
                  Cp1251(" не является целым числом") + std::string(suffix));
}

const std::string& NothingWritten() {
  static const std::string text = Cp1251("; в m1042 ничего не записано");
  return text;
}

void AppendBare(std::string& out, std::string_view column, std::string_view value) {
  if (!IsWholeNumber(value)) {
    RefuseNumber(Cp1251("Значение столбца ") + std::string(column), value, NothingWritten());
  }
  out += ',';
  out += value;
}

}  // namespace

std::string SqlLiteral(std::string_view text) { return registry::QuoteLiteral(text); }

std::string PatientQuery(std::string_view patientCode) {
  if (!IsWholeNumber(patientCode)) RefuseNumber(Cp1251("Код пациента"), patientCode);
  return "select * from m1005 where kl=" + std::string(patientCode);
}

std::string DistrictQuery(std::string_view district) {
  if (!IsWholeNumber(district)) RefuseNumber(Cp1251("Участок"), district);
  return "select * from ci007 where kuch=" + std::string(district);
}

std::string DoctorsQuery(std::string_view departmentCode) {
  if (!departmentCode.empty() && !IsWholeNumber(departmentCode)) {
    RefuseNumber(Cp1251("Код отделения"), departmentCode);
  }
  const std::string code(departmentCode);
  return "select * from ci003 where kw>=" + code + "000 and kw<=" + code + "999 order by nb";
}

std::string BuildInsert(std::span<const Column> columns, const AcceptValues& values) {
  if (!IsWholeNumber(values.patientCode)) {
    RefuseNumber(Cp1251("Код пациента"), values.patientCode, NothingWritten());
  }
  const AddressValues& a = values.address;
  std::string names = "INSERT INTO m1042 (kl";
  std::string pieces = ") VALUE (" + values.patientCode;
  for (size_t i = 1; i < columns.size(); ++i) {
    const std::string& name = columns[i].name;
    names += ',';
    names += name;
    if (name == "data_vizc") {
      pieces += ",'" + std::string(kRegistryMarker) + "'";
    } else if (name == "kto") {
      pieces += ",'ZUVA'";
    } else if (name == "prich_v") {
      pieces += ',' + SqlLiteral(values.memo);
    } else if (name == "telef") {
      pieces += ',' + SqlLiteral(values.phone);
    } else if (name == "stree1_f") {
      AppendBare(pieces, name, a.stree1_f);
    } else if (name == "street_f") {
      pieces += ',' + SqlLiteral(a.street_f);
    } else if (name == "house_f") {
      pieces += ',' + SqlLiteral(a.house_f);
    } else if (name == "kv_f") {
      pieces += ',' + SqlLiteral(a.kv_f);
    } else if (name == "kr_f") {
      AppendBare(pieces, name, a.kr_f);
    } else if (name == "knacp_f") {
      AppendBare(pieces, name, a.knacp_f);
    } else if (name == "nnacp_f") {
      pieces += ',' + SqlLiteral(a.nnacp_f);
    } else if (name == "kw") {
      const std::string code = DoctorCode(values.doctorText);
      if (!IsWholeNumber(code)) {
        RefuseNumber(Cp1251("Код врача в \"") + values.doctorText + "\":", code, NothingWritten());
      }
      pieces += ',' + code;
    } else {
      switch (columns[i].typeCode) {
        case kTextTypeCode:
        case kMemoTypeCode: pieces += ",''"; break;
        case kDateTimeTypeCode: pieces += ",DATETIME()"; break;
        // Every other column, a date or a logical one included, gets a bare
        // 0; the registry engine stores it as that type's empty value.
        default: pieces += ",0"; break;
      }
    }
  }
  std::string statement = names + pieces + ")";
  if (registry::ScanParameters(statement) != statement) {
    // Only a column name could bring a colon here; refuse rather than let
    // the statement object turn it into a parameter without a value.
    throw DeskError(Cp1251("Запрос на добавление содержит двоеточие вне кавычек") + NothingWritten());
  }
  return statement;
}

std::string BuildMarkerUpdate(std::string_view fragment) {
  std::string statement = "UPDATE m1042 SET data_vizc='0'" + std::string(fragment) +
                          " WHERE data_vizc='" + std::string(kRegistryMarker) + "'";
  if (!registry::IsAssignmentFragment(fragment) ||
      registry::ScanParameters(statement) != statement) {
    throw DeskError(Cp1251("Дополнение запроса \"") + std::string(fragment) +
                    Cp1251("\" не является списком присваиваний вида ,столбец=значение") +
                    NothingWritten());
  }
  return statement;
}

}  // namespace ravelto::desk
