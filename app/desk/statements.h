#pragma once
// The registry statements of the request card and of accepting a request.
//
// Values from the request service, the operator or the registry reach a
// statement in one of two forms only: a whole number (optional sign, digits)
// spliced bare, or a literal that holds exactly the value's text (SqlLiteral).
// A value that cannot take its form is refused with DeskError before any
// statement is run, so a refused accept writes nothing to the registry.

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ravelto::desk {

// A value the desk refuses to put into a statement. what() is the message for
// the operator (Windows-1251 bytes) naming the value and what was refused.
class DeskError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The registry marker: written into data_vizc of a new m1042 row, then used by
// the update to find the row again.
inline constexpr std::string_view kRegistryMarker = "112233";

// The query that reads m1042's field list (its row is not used).
inline constexpr std::string_view kFieldListQuery = "select top 1 * from m1042 order by kl";

// "select * from m1005 where kl=" + the patient code (slot 0 of the item
// answer), which must be a whole number.
std::string PatientQuery(std::string_view patientCode);

// "select * from ci007 where kuch=" + district; the district must be a whole
// number (callers skip the query for the empty district).
std::string DistrictQuery(std::string_view district);

// "select * from ci003 where kw>=" + code + "000 and kw<=" + code + "999
// order by nb". The code is a whole number or empty (the range 000..999);
// callers skip the query for the code "0".
std::string DoctorsQuery(std::string_view departmentCode);

// Field type codes of the registry gateway: text, date-time and memo, and
// the codes it gives date columns (no time of day) and logical columns.
inline constexpr int kTextTypeCode = 1;
inline constexpr int kDateTimeTypeCode = 11;
inline constexpr int kMemoTypeCode = 16;

// A column of m1042's field list: name as reported and field type code
// (1 text, 11 date-time, 16 memo, anything else for the rest).
struct Column {
  std::string name;
  int typeCode = 0;
};

// The patient's actual address as the card kept it: trimmed texts of the
// m1005 columns of the same names; all empty when no patient was found.
struct AddressValues {
  std::string stree1_f;
  std::string street_f;
  std::string house_f;
  std::string kv_f;
  std::string kr_f;
  std::string knacp_f;
  std::string nnacp_f;
};

// What the accept step writes, as the card holds it.
struct AcceptValues {
  std::string patientCode;  // Label24: slot 0 of the item answer
  std::string memo;         // Memo1 at accept time (line breaks kept)
  std::string phone;        // Label15: slot 4
  AddressValues address;    // KeptAddress
  std::string doctorText;   // ComboBox1 as shown
};

// A literal of the registry's SQL that evaluates to exactly `text` and that
// the statement object's named-parameter scan leaves untouched (which
// toggles on every ' " and `, so a colon after such a character inside a
// naive literal would turn into a parameter): registry::QuoteLiteral.
std::string SqlLiteral(std::string_view text);

// "INSERT INTO m1042 (kl,<columns 2..n>) VALUE (<patient code>,<pieces>)".
// The first column is taken to be kl. Named columns (exact names, letter
// case included) get their values: data_vizc the marker, kto 'ZUVA',
// prich_v the memo, telef the phone, street_f/house_f/kv_f/nnacp_f the kept
// texts as literals; stree1_f/kr_f/knacp_f the kept texts bare; kw the
// doctor code bare. Any other column gets its type's default: text and memo
// '', date-time DATETIME(), date DATE(), logical .F., anything else 0.
// Throws DeskError when the patient code, a bare address value or the doctor
// code (for a table that has those columns) is not a whole number.
std::string BuildInsert(std::span<const Column> columns, const AcceptValues& values);

// "UPDATE m1042 SET data_vizc='0'" + fragment + " WHERE data_vizc='112233'".
// The fragment (slot 10 of the item answer) is spliced unchanged but only
// when it is empty or a list of ",column=value" assignments with numbers or
// literals; otherwise DeskError.
std::string BuildMarkerUpdate(std::string_view fragment);

}  // namespace ravelto::desk
