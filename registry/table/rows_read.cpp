#include "registry/table/rows_read.h"

#include <atomic>

namespace ravelto::registry {

namespace {
std::atomic<std::uint64_t> rowsRead{0};
}  // namespace

std::uint64_t RowsReadByStatements() { return rowsRead.load(std::memory_order_relaxed); }

void CountRowsRead(std::uint64_t rows) { rowsRead.fetch_add(rows, std::memory_order_relaxed); }

}  // namespace ravelto::registry
