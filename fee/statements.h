// The fee component's statement helpers: values between quotes, the slip
// condition every slip statement ends in, the method's working recordset,
// and the description a failure trap hands to pErr.
#pragma once

#include <string>
#include <string_view>

#include "platform/ado/recordset.h"
#include "platform/com/variant.h"

namespace tivel::gf {

// The text with every single quote doubled, for a value between quotes.
std::string QuoteSql(std::string_view s);

// " WHERE JH = '<jh>' AND Script_Id = '<id>'", both values quoted: the
// condition that names one slip's rows in every slip table.
std::string slipCondition(const std::string& jh, const std::string& scriptId);

// A new recordset on the thread's connection with batch-optimistic locking,
// opened on sql with nothing else specified.
ado::RecordsetPtr openBatch(const std::string& sql);

// The recordset an argument holds; nullptr for Nothing; another object fails
// "Type mismatch".
ado::RecordsetPtr recordsetArg(const com::Variant& v);
// The recordset behind a recordset argument; Nothing fails "Object variable
// or With block variable not set".
ado::Recordset& deref(const ado::RecordsetPtr& rs);

// Inside a catch block: the description of the failure being handled.
std::string failureDescription();

// The number of characters (not bytes) of a UTF-8 text.
size_t characterCount(std::string_view s);

}  // namespace tivel::gf
