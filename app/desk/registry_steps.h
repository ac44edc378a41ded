#pragma once
// The registry work of the request card and of accepting a request, over the
// window's connection (`ADO`) and statement object (`SQL`). The window's
// handlers call these between their own steps and keep the widgets; every
// failure is raised (registry::DatabaseError or DeskError) for the handler
// to catch or to pass to the error box.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "app/desk/statements.h"
#include "registry/gateway.h"

namespace ravelto::desk {

// Runs a query: Clear, Add, Execute, Open. True when it yields a row.
bool RunQuery(registry::Query& sql, std::string_view text);

// The named columns of the current row, each read as text, trimmed, joined by
// single spaces (JoinTrimmed).
std::string JoinColumns(const registry::Query& sql, std::initializer_list<std::string_view> names);

// The seven actual-address columns of the current m1005 row, trimmed.
AddressValues ReadKeptAddress(const registry::Query& sql);

// The district doctor's code: 0 for the empty district or when ci007 has no
// row for it, else kw of the first row read as an integer. A district that is
// not a whole number fails with DeskError.
int DistrictDoctor(registry::Query& sql, std::string_view district);

// Where the doctors' list entries go: `add` appends an entry to the list,
// `select` selects the entry at a list position.
struct DoctorListSink {
  std::function<void(const std::string& entry)> add;
  std::function<void(int index)> select;
};

// Lists one department's doctors (nothing for the code "0"), ordered by
// name: each row adds DoctorEntry(nb, kw as text) and, when kw as an integer
// equals districtDoctor, selects the entry at the running index. Returns the
// running index after the last entry. Entries added before a failure stay.
int AddDepartmentDoctors(registry::Query& sql, std::string_view departmentCode, int districtDoctor,
                         int runningIndex, const DoctorListSink& sink);

// The field list of the open result.
std::vector<Column> ReadFieldList(const registry::Query& sql);

// The registry part of accepting a request: opens the connection, reads
// m1042's field list, builds the insert and the marker update (both before
// either runs, so a refused value writes nothing), runs them, closes the
// connection. A failure leaves the connection as it was at that moment (open
// after a successful opening); the next operation's opening step then does
// nothing and its closing step closes it.
void WriteAcceptedRow(registry::Connection& ado, registry::Query& sql, const AcceptValues& values,
                      std::string_view fragment);

// A retry of that registry part for a decision whose earlier attempt may
// have stopped between the insert and the marker update: when the patient
// already has a marked m1042 row, only the update runs, so the retry never
// writes a second visit row. Otherwise as WriteAcceptedRow.
void CompleteAcceptedRow(registry::Connection& ado, registry::Query& sql, const AcceptValues& values,
                         std::string_view fragment);

}  // namespace ravelto::desk
