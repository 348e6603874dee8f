// The state of an object as plain JSON, for a client that wants to look at
// it rather than call it member by member.
#pragma once

#include "platform/com/object.h"
#include "tools/tivel/rpc/json_value.h"

namespace tivel::tool {

// A recordset: {"fields":[names...],"rows":[[values...]...]} of every row,
// read without moving its cursor or ending an edit. A keyed list (cCollection):
// [{"key":K,"item":V}...]. An object whose members are all property reads
// and writes without parameters (a record): {"Property":V,...} in interface
// order. Anything else fails with badRequest. Objects inside get new handles.
Json dumpObject(com::Object& object, HandleTable& handles);

}  // namespace tivel::tool
