#include "platform/ado/row_budget.h"

#include <string>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {

void RowBudget::count(const PackedRow& row) {
  used_ += row.bytes();
  if (used_ > kMaxResultBytes)
    com::raise(kProviderError, source_,
               "The statement's rows hold more than " + std::to_string(kMaxResultBytes >> 20) +
                   " MiB; the result is refused (narrow the statement, or read it in parts).");
}

}  // namespace tivel::ado
