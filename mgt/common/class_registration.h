// Registration of the component's public classes: creating any of them runs
// the thread's start-up first, so a failed start-up fails the creation.
#pragma once

#include <memory>

#include "mgt/common/module.h"
#include "platform/com/registry.h"

namespace tivel::mgt {

template <class T>
void registerMgtClass(const com::ClassInfo& info) {
  com::registerClass(info, [] {
    startUp();
    return std::make_shared<T>();
  });
}

}  // namespace tivel::mgt
