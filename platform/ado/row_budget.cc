#include "platform/ado/row_budget.h"

#include <string>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {

void RowBudget::count(size_t bytes) {
  used_ += bytes;
  if (used_ > kMaxResultBytes)
    com::raise(kProviderError, source_,
               "The statement's rows hold more than " + std::to_string(kMaxResultBytes >> 20) +
                   " MiB; the result is refused (narrow the statement, or read it in parts).");
}

void RowBudget::count(const com::Variant& value) {
  if (value.isString())
    count(static_cast<size_t>(value.length()));
  else if (value.type() == com::VarType::Bytes)
    count(value.bytes().size());
  else
    count(9);
}

}  // namespace tivel::ado
