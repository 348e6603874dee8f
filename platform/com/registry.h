// The class registry: classes register under their ProgID when their library
// loads, and CreateObject makes a new instance by ProgID.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/object.h"

namespace tivel::com {

using Factory = std::function<ObjectPtr()>;

// Registers a class; a later registration of the same ProgID replaces it.
// The library whose code calls it is remembered as the class's origin.
void registerClass(const ClassInfo& info, Factory factory);
// An address in the code that registered the class (see registerClass), or nullptr.
const void* registrationOrigin(std::string_view progid);
// A new object of the class with that ProgID (any letter case); fails with
// kInvalidClassString for an unknown ProgID. A factory's failure reaches the caller.
ObjectPtr CreateObject(std::string_view progid);
// The description of a registered class, or nullptr.
const ClassInfo* findClass(std::string_view progid);
// All registered ProgIDs, sorted.
std::vector<std::string> registeredClasses();

// Registers at static-initialisation time: static Registrar r(info(), factory);
// Always inlined, so that the call comes from the registering library's own code.
struct Registrar {
  [[gnu::always_inline]] inline Registrar(const ClassInfo& info, Factory factory) {
    registerClass(info, std::move(factory));
  }
};

}  // namespace tivel::com
