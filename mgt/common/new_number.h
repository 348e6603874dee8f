// Generated row keys: prefix, second and a random part, never repeated by
// this process and never waiting for the clock.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace tivel::mgt {

// A new row key: prefix ("SYS" when empty) + "_" + yymmddhhmmss + "_" + R.
// R is 100..1098 until, within one second, this process has drawn all 999 of
// them for the prefix or one of its keys was found taken elsewhere
// (NoteKeyTaken); the prefix's further keys of that second draw R from
// 1099..9999999.
std::string NewNumber(std::string_view prefix);

// Notes that a key NewNumber drew was already taken by another process or
// host: the rest of that key's second draws the wider random parts for its prefix.
void NoteKeyTaken(std::string_view key);

// The clock NewNumber reads; a test seam only (nullptr: the system's clock).
using KeyClock = com::DateTime (*)();
// Replaces the clock for this process's later draws; for tests.
void setKeyClockForTests(KeyClock clock);

}  // namespace tivel::mgt
