#include "mgt/common/health.h"

#include "mgt/common/module.h"

namespace tivel::mgt {

void checkDatabase() {
  startUp();
  sharedConnection()->execute("select 1");
}

}  // namespace tivel::mgt
