// The late-bound host behind `tivel rpc`: one JSON request a line in, one
// JSON answer a line out, in order, on the calling thread. Requests create
// objects, call, read and write their members, release them, list a class's
// members and dump an object's state; objects travel as integer handles.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/com/arena.h"
#include "tools/tivel/rpc/handles.h"
#include "tools/tivel/rpc/json_value.h"

namespace tivel::tool {

// What a host lets its requests do, checked before each one runs; a host
// without a gate lets them do everything.
class RequestGate {
 public:
  virtual ~RequestGate() = default;
  // Fails (com::ComError) when requests may not create objects of the class
  // or list its members.
  virtual void create(std::string_view progid) = 0;
  // Fails when requests may not call, read or write the member of the object.
  virtual void call(const com::Object& object, std::string_view member) = 0;
};

class RpcHost {
 public:
  // Checks every later request against `gate` (nullptr: none), which must
  // outlive the host's use of it.
  void setGate(RequestGate* gate) { gate_ = gate; }

  // The answer to one request line, without a line end. A line that is not a
  // valid request, or a request that fails, gets an error answer; this never
  // throws. A blank line gets the empty string (no answer).
  std::string handle(const std::string& line);
  // The answer to one parsed request, as handle() gives it.
  Json answer(const Json& request);
  // Answers every line of `in` on `out`, flushing after each answer, until
  // `in` ends. Blank lines are skipped.
  void serve(std::istream& in, std::ostream& out);

  // The objects the host holds for its client.
  HandleTable& handles() { return handles_; }
  // Every object created while the host answered, cycles included; freed
  // when the host (the session) ends.
  com::ObjectArena& arena() { return arena_; }

 private:
  // Notes the value a call or read answered, for later {"from":id}.
  void nameValue(const std::string& id, const Json& result);

  com::ObjectArena arena_;  // outlives handles_: swept once they are let go
  HandleTable handles_;
  RequestGate* gate_ = nullptr;
};

}  // namespace tivel::tool
