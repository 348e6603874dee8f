// Values between libpq's text format and com::Variant, typed as the ODBC
// backend types them on PostgreSQL (odbc_backend.h): NULL Null; boolean
// Boolean; smallint, integer, bigint and oid Long, or Double outside 32 bits;
// numeric, real and double precision Double; date, timestamp and timestamp
// with time zone Date (the fraction of a second dropped); time Date on the
// zero date; bytea Bytes; everything else String, as the server writes it.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace tivel::ado::pq {

using Oid = unsigned int;

// How a column of the type `type` is read.
enum class Kind { Text, Bool, Integer, Real, Date, Time, Binary };
Kind kindOf(Oid type);

// The value of one field in text format (the bytea hex form for Binary).
com::Variant readValue(Kind kind, std::string_view text);

// A value to bind as one parameter: its type (0: the server infers it from
// where the parameter stands), its text, or its bytes in binary format.
struct Parameter {
  Oid type = 0;
  bool null = false;
  bool binary = false;
  std::string data;
};

// Empty/Null/Missing NULL; Boolean the text "1" or "0", of no stated type,
// which an integer, a boolean and a text column all take (an integer
// parameter does not go into a boolean); Integer/Long integer; Double double
// precision; Date timestamp; String text of no stated type; Bytes bytea.
// Other kinds fail with kTypeMismatch.
Parameter toParameter(const com::Variant& v);

}  // namespace tivel::ado::pq
