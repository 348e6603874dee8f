// A backend that remembers the primary keys its engine reported, so that
// writing rows back does not ask the catalogue again for every recordset
// (on a server database each question is a round trip). What it remembers
// is dropped whenever a statement through it may have changed the schema,
// and at every rollback (which may undo a change made meanwhile).
#pragma once

#include <memory>
#include <string>

#include "platform/ado/backend.h"

namespace tivel::ado {

// Wraps a backend so that primaryKey answers from what it remembers.
std::unique_ptr<Backend> keepingKeys(std::unique_ptr<Backend> backend);

// False when the statement text surely leaves the schema alone: one
// statement (a trailing ";" aside) that starts with SELECT, INSERT, UPDATE,
// DELETE, VALUES, LOCK, SAVEPOINT, RELEASE, BEGIN or COMMIT; true otherwise.
bool mayChangeSchema(const std::string& sql);

}  // namespace tivel::ado
