// Test support of the console's suites: a gateway serving the console's
// routes over a throwaway portal of the engine of the test's parameter.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mgt/testing/portal.h"
#include "tools/tivel/serve/console/key.h"
#include "tools/tivel/serve/console/routes.h"
#include "tools/tivel/serve/test_gateway.h"

namespace tivel::tool::servetest {

// A seeded portal with its console key, and a gateway with the console's
// routes added; suites add their users in their own SetUp after this one's.
class ConsoleGatewayTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    portal = std::make_unique<mgt::testing::Portal>(GetParam(), true);
    ensureConsoleKey(portal->root());
    gateway = std::make_unique<Gateway>(ServeOptions{}, nullptr,
                                        [this](ServeServer& s) { EXPECT_EQ(addConsoleRoutes(s, portal->root()), ""); });
  }

  std::unique_ptr<mgt::testing::Portal> portal;
  std::unique_ptr<Gateway> gateway;
};

}  // namespace tivel::tool::servetest
