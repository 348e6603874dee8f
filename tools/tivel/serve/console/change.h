// The console's batches: the batch protocol of /rpc under the console scope,
// each batch one change that is done whole or not at all. The first call
// that changes data opens a transaction on the thread's shared connection;
// from then on a failed change (a result other than "0" or true) or any
// error stops the batch and undoes everything. When every change succeeded,
// one system log entry naming the administrator and what changed is written
// in the same transaction, which then commits.
#pragma once

#include <string>
#include <string_view>

#include "tools/tivel/serve/batch.h"
#include "tools/tivel/serve/server.h"

namespace tivel::tool {

enum class ChangeOutcome {
  None,    // nothing was to change (reads only)
  Done,    // every change made, and logged
  Undone,  // a change failed: nothing of the batch stays
};

struct ConsoleBatch {
  BatchOutcome batch;
  ChangeOutcome change = ChangeOutcome::None;
};

// Whether a call of `member` on a `progid` object changes data, as the
// class's member table declares it.
bool changesData(std::string_view progid, std::string_view member);

// Writes one system log entry of the console's (module "console"); false when it could not.
bool writeConsoleLog(const std::string& text);

// The system log text of a change: "<account>在控制台：<description> [<calls>]".
std::string changeLogText(const std::string& account, const std::string& description, const std::string& calls);

// Runs the request's body as a console batch of `account` (a batch thread
// only). `description` says what the change is, in the administrator's words.
ConsoleBatch runConsoleBatch(ServeServer& server, const HttpRequest& request, const std::string& account,
                             const std::string& description);

}  // namespace tivel::tool
