// The late-bound Fields collection of a recordset and its Field objects. Both
// are views: they read and write the recordset's current row at the time of
// each call.
#pragma once

#include <memory>

#include "platform/ado/recordset.h"

namespace tivel::ado {

// Fields: Count, Item(name or 0-based position) → Field.
com::ObjectPtr makeFields(std::shared_ptr<Recordset> rs);
// Field: Name, Value (read and write), OriginalValue; fails kItemNotFound for
// an unknown name or a position out of range.
com::ObjectPtr makeField(std::shared_ptr<Recordset> rs, const com::Variant& index);
// The field position an index names (a number: the position; a text: the
// name in any letter case); fails kItemNotFound.
int32_t fieldPosition(const Recordset& rs, const com::Variant& index);

}  // namespace tivel::ado
