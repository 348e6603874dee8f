// cPublic: configuration values of the portal (TivelMgt.cPublic).
#pragma once

#include <string>

#include "platform/com/object.h"

namespace tivel::mgt {

class cPublic : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // The connection string of the configuration; a "mode" that is not a number fails.
  std::string GetDBStr() const;
  // product_name/name, product_name/version, setting/AppPath, setting/WebPath;
  // "" on any failure.
  std::string GetProductName() const;
  std::string GetVersionName() const;
  std::string GetAppPath() const;
  std::string GetWebPath() const;
};

}  // namespace tivel::mgt
