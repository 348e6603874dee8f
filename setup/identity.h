// The installation helper as the shared component plumbing knows it: its
// directory (and so its root's ini/), its log prefix and its errors' source.
#pragma once

#include "platform/component/component.h"

namespace tivel::setup {

// The helper's name and daily log (R/log/logSetupYYYYMMDD.txt, never pruned:
// it records what was installed). The helper opens no database connection.
const component::Identity& identity();

}  // namespace tivel::setup
