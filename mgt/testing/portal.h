// Test support for the management suites: a throwaway portal root on one
// engine, with the management schema, TIVEL_HOME pointing at it and this
// thread's module state reset, plus an independent connection to inspect
// what the operations wrote. On a server database the schema's owner makes
// the schema and the components connect as a role with only the grants the
// portal's role needs; the inspecting connection is the owner's.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/ado/connection.h"
#include "platform/com/variant.h"
#include "testing/engines.h"

namespace tivel::mgt::testing {

class Portal {
 public:
  // seed: also seed the fixed data (groups 1-3, security attribute definitions).
  Portal(const std::string& engine, bool seed);
  ~Portal();

  const std::string& root() const { return dir_.path(); }
  const std::string& engine() const { return engine_; }
  // A connection of its own (not the component's shared one).
  ado::Connection& db();
  // The first column of the first row of a query (Empty when no row).
  com::Variant scalar(const std::string& sql);
  // count(*) of a table with an optional condition.
  long count(const std::string& table, const std::string& where = "");
  void exec(const std::string& sql);
  // On a server database: names the owner's account in the root's
  // SysTivel.ini from now on, as a site does while it runs `tivel init`.
  void useOwnerAccount();

 private:
  std::string engine_;
  tivel::testing::TempDir dir_;
  std::unique_ptr<tivel::testing::ScratchDatabase> server_;
  ado::ConnectionPtr db_;
};

// Writes the SysTivel.ini of a root for the engine (mode 3 file tivel.db for
// sqlite, mode 2 naming the server database otherwise) and, for sqlite, the
// empty file.
void writeConfig(const std::string& root, const std::string& engine, tivel::testing::ScratchDatabase* server);

// Base of the management suites: one Portal per test, per engine.
class PortalTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { portal_ = std::make_unique<Portal>(GetParam(), seed()); }
  void TearDown() override { portal_.reset(); }
  virtual bool seed() const { return false; }
  Portal& portal() { return *portal_; }

 private:
  std::unique_ptr<Portal> portal_;
};

}  // namespace tivel::mgt::testing
