// Test support: what a page of the fee application does through `tivel rpc`
// to save a slip: disconnected recordsets from f_GetRecordset, a header row,
// detail rows and an attachment added to them, then Save_Script.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fee/testing/rpc_session.h"

namespace tivel::gf::testing {

struct SlipForms {
  int64_t header = 0, details = 0, file = 0;
};

// Opens f_GetRecordset on sql and returns the recordset's handle.
int64_t openRecordset(RpcSession& s, int64_t gf, const std::string& sql);

// Recordsets for one slip: the header (JH, Script_Id, Title, Operator and
// the given fields), `details` detail rows (S_NO 1.., Amount 100 * S_NO) and,
// when data is not null, an attachment row.
SlipForms slipForms(RpcSession& s, int64_t gf, const std::string& jh, const std::string& scriptId, int details,
                    const Json& data = nullptr, const std::vector<std::pair<std::string, Json>>& fields = {});

// Save_Script(pErr, year, month, jh, header, details, file): the answer.
Json saveSlip(RpcSession& s, int64_t gf, int year, int month, const std::string& jh, const SlipForms& f);

}  // namespace tivel::gf::testing
