#include "app/journal/journal.h"

#include <sqlite3.h>

#include <utility>

namespace ravelto::journal {

namespace {

JournalFailure FailureOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_CANTOPEN: return JournalFailure::kCannotOpen;
    case SQLITE_FULL: return JournalFailure::kDiskFull;
    case SQLITE_READONLY: case SQLITE_PERM: return JournalFailure::kReadOnly;
    case SQLITE_BUSY: case SQLITE_LOCKED: return JournalFailure::kBusy;
    case SQLITE_CORRUPT: case SQLITE_NOTADB: return JournalFailure::kDamaged;
    case SQLITE_IOERR: return JournalFailure::kInputOutput;
    default: return JournalFailure::kOther;
  }
}

// One table; every text column is a blob of Windows-1251 bytes.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS decisions ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " decided_at TEXT NOT NULL,"
    " request_id BLOB NOT NULL,"
    " patient_code BLOB NOT NULL,"
    " patient_name BLOB NOT NULL,"
    " decision TEXT NOT NULL CHECK (decision IN ('accept', 'reject')),"
    " doctor BLOB NOT NULL, part_of_day BLOB NOT NULL, reason BLOB NOT NULL,"
    " memo BLOB NOT NULL, phone BLOB NOT NULL, doctor_text BLOB NOT NULL,"
    " stree1_f BLOB NOT NULL, street_f BLOB NOT NULL, house_f BLOB NOT NULL,"
    " kv_f BLOB NOT NULL, kr_f BLOB NOT NULL, knacp_f BLOB NOT NULL, nnacp_f BLOB NOT NULL,"
    " fragment BLOB NOT NULL,"
    " service_answer BLOB,"
    " registry_state TEXT NOT NULL"
    "  CHECK (registry_state IN ('none', 'pending', 'written', 'failed')),"
    " registry_message BLOB NOT NULL DEFAULT x'',"
    " registry_at TEXT NOT NULL DEFAULT '',"
    " attempts INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS decisions_day ON decisions (substr(decided_at, 1, 10));"
    "CREATE INDEX IF NOT EXISTS decisions_pending ON decisions (registry_state)"
    " WHERE registry_state IN ('pending', 'failed');";

constexpr const char* kColumns =
    "id, decided_at, request_id, patient_code, patient_name, decision, doctor, part_of_day,"
    " reason, memo, phone, doctor_text, stree1_f, street_f, house_f, kv_f, kr_f, knacp_f,"
    " nnacp_f, fragment, service_answer, registry_state, registry_message, registry_at, attempts";

const char* StateName(RegistryState s) {
  switch (s) {
    case RegistryState::kPending: return "pending";
    case RegistryState::kWritten: return "written";
    case RegistryState::kFailed: return "failed";
    case RegistryState::kNone: break;
  }
  return "none";
}

RegistryState StateOf(std::string_view name) {
  if (name == "pending") return RegistryState::kPending;
  if (name == "written") return RegistryState::kWritten;
  if (name == "failed") return RegistryState::kFailed;
  return RegistryState::kNone;
}

// A prepared statement, finalized on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql, const std::string& path) : db_(db), path_(path) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Blob(int i, std::string_view bytes) {
    // A zero-length blob, not NULL, for the empty text.
    const int rc = bytes.empty() ? sqlite3_bind_zeroblob(stmt_, i, 0)
                                 : sqlite3_bind_blob(stmt_, i, bytes.data(),
                                                     static_cast<int>(bytes.size()),
                                                     SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail();
    return *this;
  }
  Statement& Text(int i, std::string_view text) {
    if (sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
      Fail();
    }
    return *this;
  }
  Statement& Int(int i, std::int64_t v) {
    if (sqlite3_bind_int64(stmt_, i, v) != SQLITE_OK) Fail();
    return *this;
  }
  // True while a row is available.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail();
    return false;
  }
  std::string Bytes(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    const int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
  }
  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  int Changes() const { return sqlite3_changes(db_); }

  [[noreturn]] void Fail() const {
    throw JournalError("Decision journal " + path_ + ": " + sqlite3_errmsg(db_), FailureOf(sqlite3_errcode(db_)),
                       path_);
  }

 private:
  sqlite3* db_;
  const std::string& path_;
  sqlite3_stmt* stmt_ = nullptr;
};

Entry ReadEntry(const Statement& s) {
  Entry e;
  e.id = s.Int(0);
  e.decidedAt = s.Bytes(1);
  e.requestId = s.Bytes(2);
  e.patientCode = s.Bytes(3);
  e.patientName = s.Bytes(4);
  e.decision = s.Bytes(5) == "accept" ? Decision::kAccept : Decision::kReject;
  e.doctor = s.Bytes(6);
  e.partOfDay = s.Bytes(7);
  e.reason = s.Bytes(8);
  e.values.patientCode = e.patientCode;
  e.values.memo = s.Bytes(9);
  e.values.phone = s.Bytes(10);
  e.values.doctorText = s.Bytes(11);
  desk::AddressValues& a = e.values.address;
  a.stree1_f = s.Bytes(12);
  a.street_f = s.Bytes(13);
  a.house_f = s.Bytes(14);
  a.kv_f = s.Bytes(15);
  a.kr_f = s.Bytes(16);
  a.knacp_f = s.Bytes(17);
  a.nnacp_f = s.Bytes(18);
  e.fragment = s.Bytes(19);
  if (!s.IsNull(20)) e.serviceAnswer = s.Bytes(20);
  e.registryState = StateOf(s.Bytes(21));
  e.registryMessage = s.Bytes(22);
  e.registryAt = s.Bytes(23);
  e.attempts = static_cast<int>(s.Int(24));
  return e;
}

}  // namespace

Journal::Journal(const std::string& path) : path_(path) {
  const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw JournalError("Decision journal " + path + ": " + message, FailureOf(rc), path);
  }
  try {
    // Rollback journal with a full sync at every commit: each recorded step
    // is on the disk before the desk goes on, in one file that can be copied
    // and that works in a folder on a network share (WAL needs shared
    // memory). A few decisions an hour make WAL's speed irrelevant.
    sqlite3_busy_timeout(db_, 2000);
    Exec("PRAGMA journal_mode=DELETE");
    Exec("PRAGMA synchronous=FULL");
    Exec(kSchema);
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Journal::~Journal() { sqlite3_close(db_); }

void Journal::Exec(const char* sql) {
  char* error = nullptr;
  if (const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error); rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw JournalError("Decision journal " + path_ + ": " + message, FailureOf(rc), path_);
  }
}

std::int64_t Journal::Record(const Entry& e) {
  Statement s(db_,
              "INSERT INTO decisions (decided_at, request_id, patient_code, patient_name, "
              "decision, doctor, part_of_day, reason, memo, phone, doctor_text, stree1_f, "
              "street_f, house_f, kv_f, kr_f, knacp_f, nnacp_f, fragment, registry_state) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
              "?17, ?18, ?19, ?20)",
              path_);
  const bool accept = e.decision == Decision::kAccept;
  const desk::AddressValues& a = e.values.address;
  s.Text(1, e.decidedAt)
      .Blob(2, e.requestId)
      .Blob(3, e.patientCode)
      .Blob(4, e.patientName)
      .Text(5, accept ? "accept" : "reject")
      .Blob(6, e.doctor)
      .Blob(7, e.partOfDay)
      .Blob(8, e.reason)
      .Blob(9, e.values.memo)
      .Blob(10, e.values.phone)
      .Blob(11, e.values.doctorText)
      .Blob(12, a.stree1_f)
      .Blob(13, a.street_f)
      .Blob(14, a.house_f)
      .Blob(15, a.kv_f)
      .Blob(16, a.kr_f)
      .Blob(17, a.knacp_f)
      .Blob(18, a.nnacp_f)
      .Blob(19, e.fragment)
      .Text(20, StateName(accept ? RegistryState::kPending : RegistryState::kNone));
  s.Step();
  return sqlite3_last_insert_rowid(db_);
}

void Journal::SetAnswer(std::int64_t id, std::string_view answer) {
  Statement s(db_, "UPDATE decisions SET service_answer = ?1 WHERE id = ?2", path_);
  s.Blob(1, answer).Int(2, id);
  s.Step();
}

void Journal::BeginRegistryWrite(std::int64_t id, std::string_view at) {
  Statement s(db_,
              "UPDATE decisions SET registry_state = 'pending', registry_at = ?1, "
              "attempts = attempts + 1 WHERE id = ?2 AND decision = 'accept'",
              path_);
  s.Text(1, at).Int(2, id);
  s.Step();
}

void Journal::SetRegistryOutcome(std::int64_t id, bool written, std::string_view message,
                                 std::string_view at) {
  Statement s(db_,
              "UPDATE decisions SET registry_state = ?1, registry_message = ?2, registry_at = ?3 "
              "WHERE id = ?4 AND decision = 'accept'",
              path_);
  s.Text(1, StateName(written ? RegistryState::kWritten : RegistryState::kFailed))
      .Blob(2, message)
      .Text(3, at)
      .Int(4, id);
  s.Step();
}

std::vector<Entry> Journal::Select(std::string_view where,
                                   const std::vector<std::string>& args) const {
  const std::string sql = std::string("SELECT ") + kColumns + " FROM decisions WHERE " +
                          std::string(where);
  Statement s(db_, sql.c_str(), path_);
  for (std::size_t i = 0; i < args.size(); ++i) s.Blob(static_cast<int>(i + 1), args[i]);
  std::vector<Entry> out;
  while (s.Step()) out.push_back(ReadEntry(s));
  return out;
}

std::vector<Entry> Journal::Day(std::string_view day, std::string_view patientCode) const {
  // Blob parameters compare with the blob columns byte for byte; the day is
  // compared as text.
  if (patientCode.empty()) {
    return Select("substr(decided_at, 1, 10) = CAST(?1 AS TEXT) ORDER BY decided_at DESC, id DESC",
                  {std::string(day)});
  }
  return Select(
      "substr(decided_at, 1, 10) = CAST(?1 AS TEXT) AND patient_code = ?2"
      " ORDER BY decided_at DESC, id DESC",
      {std::string(day), std::string(patientCode)});
}

std::vector<Entry> Journal::PendingWrites() const {
  return Select("registry_state IN ('pending', 'failed') ORDER BY id", {});
}

std::optional<Entry> Journal::AcceptOfDay(std::string_view day,
                                          std::string_view patientCode) const {
  auto rows = Select(
      "decision = 'accept' AND substr(decided_at, 1, 10) = CAST(?1 AS TEXT)"
      " AND patient_code = ?2 ORDER BY decided_at DESC, id DESC LIMIT 1",
      {std::string(day), std::string(patientCode)});
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

std::optional<Entry> Journal::Find(std::int64_t id) const {
  auto rows = Select("id = CAST(?1 AS INTEGER)", {std::to_string(id)});
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

}  // namespace ravelto::journal
