// Generated row keys: prefix, second and a random part, never repeated by
// this process and never waiting for the clock.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace tivel::mgt {

// A new row key: prefix ("SYS" when empty) + "_" + yymmddhhmmss + "_" + R.
// R is 100..1098 while the second has room: a key found taken elsewhere
// (NoteKeyTaken) is drawn again from that range. Once this process knows all
// 999 used, or 90 % used with some taken elsewhere, the prefix's further keys
// of that second draw R from 1099..9999999; so does the one draw after twelve
// standard draws in a row were met taken.
std::string NewNumber(std::string_view prefix);

// Notes that a key NewNumber drew was already taken by another process or
// host, so its random part is not drawn again in that second.
void NoteKeyTaken(std::string_view key);

// The clock NewNumber reads; a test seam only (nullptr: the system's clock).
using KeyClock = com::DateTime (*)();
// Replaces the clock for this process's later draws; for tests.
void setKeyClockForTests(KeyClock clock);

}  // namespace tivel::mgt
