// Test support for the fee suites: a throwaway root on one engine, set up by
// `tivel init`, and sessions of `tivel rpc` on it, each a process of its own
// driven line by line, as a page server would drive the component.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/ado/connection.h"
#include "testing/engines.h"

namespace tivel::gf::testing {

using Json = nlohmann::json;

// The built tivel command ($TIVEL_BIN/tivel).
std::string tivelCommand();

// A root made by `tivel init --no-seed`; on a server engine its Scrivane.ini is
// written first and names a scratch server database (mode 2, provider form),
// and after the owner made the schema it names a role with only the grants
// the portal needs; db() stays the owner's.
class FeeRoot {
 public:
  explicit FeeRoot(const std::string& engine);
  ~FeeRoot();

  const std::string& path() const { return dir_.path(); }
  const std::string& engine() const { return engine_; }
  // What `tivel init` printed.
  const std::string& initOutput() const { return initOutput_; }
  // A connection of its own to the fee database.
  ado::Connection& db() { return *db_; }
  // The first column of the first row (Empty when no row).
  com::Variant scalar(const std::string& sql);
  long count(const std::string& table, const std::string& where = "");
  void exec(const std::string& sql);
  // The text of today's fee log ("" when there is none).
  std::string logText() const;

 private:
  std::string engine_;
  tivel::testing::TempDir dir_;
  std::unique_ptr<tivel::testing::ScratchDatabase> server_;
  std::string initOutput_;
  ado::ConnectionPtr db_;
};

// One `tivel rpc --root R` process.
class RpcSession {
 public:
  explicit RpcSession(const std::string& root);
  ~RpcSession();  // ends the input and waits for the process
  RpcSession(const RpcSession&) = delete;
  RpcSession& operator=(const RpcSession&) = delete;

  // Sends one request and returns its answer.
  Json ask(const Json& request);
  // Sends one request without waiting for its answer.
  void send(const Json& request);
  // Reads the next answer (null at the end of the output).
  Json receive();
  pid_t pid() const { return pid_; }

  // Shorthands; each fails the test on an error answer.
  int64_t create(const std::string& progid);
  Json call(int64_t object, const std::string& member, Json args = Json::array());
  void put(int64_t object, const std::string& property, Json value, Json args = Json::array());
  Json dump(int64_t object);

 private:
  pid_t pid_ = -1;
  FILE* in_ = nullptr;   // the process's standard input
  FILE* out_ = nullptr;  // its standard output
  int next_ = 1;
};

// A handle from an answer's object result.
int64_t handleOf(const Json& answer);

// A JSON argument naming an object handle.
inline Json obj(int64_t handle) { return Json{{"object", handle}}; }
// A JSON argument passed by reference.
inline Json byRef(Json v) { return Json{{"ref", std::move(v)}}; }

}  // namespace tivel::gf::testing
