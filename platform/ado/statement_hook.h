// A window for tests onto the steps a connection takes: every statement and
// every commit of a backend opened on this thread passes the hook first, and
// a hook that throws fails that step the way an engine failure would. With no
// hook set (always, outside tests) the cost is one thread-local load a step.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ado/backend.h"

namespace tivel::ado {

enum class HookStep { Statement, Commit };

// Called before the step runs; `sql` is the statement text ("" for a commit).
using StatementHook = std::function<void(HookStep step, const std::string& sql)>;

// Sets this thread's hook (an empty function removes it); returns the previous one.
StatementHook setStatementHook(StatementHook hook);

// Wraps a backend so that its statements and commits pass the hook of the
// thread that runs them. A commit the hook fails is rolled back first.
std::unique_ptr<Backend> hookable(std::unique_ptr<Backend> backend);

}  // namespace tivel::ado
