#include "mgt/common/public_class.h"

#include "mgt/common/class_registration.h"
#include "mgt/common/helpers.h"

namespace tivel::mgt {
namespace {

// There is no component-services object context on this platform, so the
// object holds none and reports nothing on release.
std::string setting(const char* section, const char* key) {
  try {
    return ReadIniString(configPath(), section, key);
  } catch (...) {
    return "";
  }
}

const com::ClassInfo& info() {
  static const com::ClassInfo c = [] {
    com::ClassInfo c("TivelMgt.cPublic", "cPublic");
    auto getter = [&c](const char* name, std::string (cPublic::*fn)() const) {
      c.method(name, {}, com::bind<cPublic>([fn](cPublic& self, com::Args&) { return com::Variant((self.*fn)()); }));
    };
    getter("GetDBStr", &cPublic::GetDBStr);
    getter("GetProductName", &cPublic::GetProductName);
    getter("GetVersionName", &cPublic::GetVersionName);
    getter("GetAppPath", &cPublic::GetAppPath);
    getter("GetWebPath", &cPublic::GetWebPath);
    return c;
  }();
  return c;
}

const bool registered = (registerMgtClass<cPublic>(info()), true);

}  // namespace

const com::ClassInfo& cPublic::classInfo() const { return info(); }
std::string cPublic::GetDBStr() const { return GetConnectionString(); }
std::string cPublic::GetProductName() const { return setting("product_name", "name"); }
std::string cPublic::GetVersionName() const { return setting("product_name", "version"); }
std::string cPublic::GetAppPath() const { return setting("setting", "AppPath"); }
std::string cPublic::GetWebPath() const { return setting("setting", "WebPath"); }

}  // namespace tivel::mgt
