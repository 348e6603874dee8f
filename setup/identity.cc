#include "setup/identity.h"

namespace tivel::setup {

const component::Identity& identity() {
  static const component::Identity id{.source = "Tivel",
                                      .iniName = "",
                                      .logPrefix = "logSetup",
                                      .logSeparator = "   ",
                                      .form = component::ConnectionForm::Driver,
                                      .commandTimeout = 0,
                                      .logsFailureReason = false,
                                      .prunesLog = false,
                                      .anchor = reinterpret_cast<const void*>(&identity)};
  return id;
}

}  // namespace tivel::setup
