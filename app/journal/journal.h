#pragma once
// The decision journal: every accept and reject the desk sends, kept in an
// SQLite file in the working folder so that nothing is lost between the
// request service and the registry. A decision is recorded before its save
// query goes out, completed with the service's answer, and, for an accept,
// with the registry write's outcome. An accept whose registry write failed or
// never finished stays pending until a retry writes it.
//
// Texts are Windows-1251 bytes, stored as blobs so that SQLite never
// reinterprets them. Times are the desk's local time "YYYY-MM-DD HH:MM:SS",
// given by the caller. Every failure is raised as JournalError; the desk
// shows it once and goes on deciding without the journal.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/desk/statements.h"

struct sqlite3;

namespace ravelto::journal {

// What kind of failure stopped the journal, from SQLite's result code, so
// that the desk can say it in the operator's words.
enum class JournalFailure { kOther, kCannotOpen, kDiskFull, kReadOnly, kBusy, kDamaged, kInputOutput };

class JournalError : public std::runtime_error {
 public:
  explicit JournalError(const std::string& message, JournalFailure kind = JournalFailure::kOther,
                        std::string file = {})
      : std::runtime_error(message), kind_(kind), file_(std::move(file)) {}
  JournalFailure Kind() const noexcept { return kind_; }
  // The journal file's path.
  const std::string& File() const noexcept { return file_; }

 private:
  JournalFailure kind_;
  std::string file_;
};

// The journal file's name in the working folder.
inline constexpr std::string_view kJournalFileName = "ravelto-journal.db";

enum class Decision { kAccept, kReject };

// Where an accept's registry write stands. A reject has kNone.
enum class RegistryState {
  kNone,     // nothing to write (reject)
  kPending,  // recorded, the write has not finished (or the desk stopped)
  kWritten,  // insert and update ran
  kFailed,   // the write raised; registryMessage holds the failure
};

struct Entry {
  std::int64_t id = 0;
  std::string decidedAt;  // "YYYY-MM-DD HH:MM:SS", desk local time
  std::string requestId;
  std::string patientCode;
  std::string patientName;
  Decision decision = Decision::kReject;
  // As sent: doc and vzap for an accept (spaces already "_"), error for a
  // reject.
  std::string doctor;
  std::string partOfDay;
  std::string reason;
  // What the registry write uses (accept only).
  desk::AcceptValues values;
  std::string fragment;
  std::optional<std::string> serviceAnswer;  // unset until the answer came
  RegistryState registryState = RegistryState::kNone;
  std::string registryMessage;  // the last failure's message
  std::string registryAt;       // when the last outcome was recorded
  int attempts = 0;             // registry write attempts
};

class Journal {
 public:
  // Opens (creating when missing) the journal at `path` and sets it up for
  // durable writes. Throws JournalError naming the file.
  explicit Journal(const std::string& path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const std::string& Path() const { return path_; }

  // Records a decision about to be sent; returns its id. An accept starts
  // as kPending, a reject as kNone. The entry's id, answer and outcome are
  // ignored.
  std::int64_t Record(const Entry& entry);
  // The service's answer to the save query.
  void SetAnswer(std::int64_t id, std::string_view answer);
  // A registry write is starting (counts the attempt, state kPending).
  void BeginRegistryWrite(std::int64_t id, std::string_view at);
  // The registry write's outcome: written, or failed with its message.
  void SetRegistryOutcome(std::int64_t id, bool written, std::string_view message,
                          std::string_view at);

  // The decisions of one day ("YYYY-MM-DD"), newest first; only the
  // patient's when `patientCode` is not empty.
  std::vector<Entry> Day(std::string_view day, std::string_view patientCode) const;
  // Accepts whose registry write is pending or failed, oldest first.
  std::vector<Entry> PendingWrites() const;
  // The newest accept of the day for the patient, if any.
  std::optional<Entry> AcceptOfDay(std::string_view day, std::string_view patientCode) const;
  std::optional<Entry> Find(std::int64_t id) const;

 private:
  std::vector<Entry> Select(std::string_view where, const std::vector<std::string>& args) const;
  void Exec(const char* sql);

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace ravelto::journal
