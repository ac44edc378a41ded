#pragma once
// The operator's words for a failure: one place that turns an exception from
// the registry engine, the decision journal or the maintenance code into a
// short Russian text (Windows-1251) saying what happened, what was kept and
// what to do, with the file concerned on a second line. The English message
// stays the technical record: the decision journal keeps it for registry
// writes, and the window writes it to its standard error.
//
// Texts fixed for the desk elsewhere (the transport's messages, the
// conversion and file messages, the gateway's field and dataset messages)
// and failures of any other class pass through unchanged.

#include <exception>
#include <string>

#include "registry/table/database_error.h"

namespace ravelto::desk {

// What the desk had done with the work when the failure came, which decides
// what the text says was kept.
enum class FailureSetting {
  kGeneral,        // any handler: nothing was kept on the failure's behalf
  kAcceptJournal,  // an accept's registry write whose decision the journal holds
  kRetryJournal,   // "Повторить запись" failed; the decision stays in the journal
};

struct FailureText {
  std::string text;         // what the box shows (Windows-1251)
  bool translated = false;  // false: a text fixed elsewhere, shown as it came
};

// The operator's text for the failure `e`.
FailureText DescribeFailure(const std::exception& e, FailureSetting setting);

// The registry engine's part, for a failure of the given kind with its
// English message and file (tested on its own).
std::string DescribeDatabaseFailure(registry::DatabaseFailure kind, const std::string& message,
                                    const std::string& file, FailureSetting setting);

// "Журнал решений не записывается: ..." for a journal failure: why, in
// Russian, and the journal file's name on the last line.
std::string DescribeJournalFailure(const std::exception& e);

}  // namespace ravelto::desk
