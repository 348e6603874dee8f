// The embedded engine as a data-access backend, registered as "sqlite" for
// connection strings with Provider=SQLite and Data Source=FILE.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/backend.h"

namespace tivel::ado::sqlite {

// Opens an existing database file (a missing file fails with kOpenFailed and
// never creates one) in WAL mode, with a busy time-out of timeoutSeconds
// (0: wait without limit), with the defences of defences.h in place.
//
// Values read: NULL is Null; INTEGER Long when it fits 32 bits, else Double;
// REAL Double; TEXT String, or Date in a DATE/DATETIME/TIMESTAMP column when
// the text is the system's own date form "YYYY-MM-DD HH:MM:SS" (only that
// form, so that the value binds back to the very same text); BLOB Bytes.
// Values bound: Empty/Null/Missing NULL; Boolean 1 for true and 0 for false
// (what the caller means, not the scripting -1); Integer/Long INTEGER; Double
// REAL; Date the text "YYYY-MM-DD HH:MM:SS"; String TEXT; Bytes BLOB.
std::unique_ptr<Backend> open(const std::string& path, int timeoutSeconds);

}  // namespace tivel::ado::sqlite
