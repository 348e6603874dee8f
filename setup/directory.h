// The directory services the installation helper drives, reached by path as
// through ADSI: "IIS://LocalHost/W3SVC/1/Root" (the web site's root),
// "IIS://LocalHost/MSFTPSVC/1/Root" (the FTP site's root), "WinNT://<computer>"
// (the local accounts) and "WinNT://<computer>/<group>". Each object keeps
// the properties put on it until SetInfo writes them to the root's store.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/variant.h"
#include "setup/store.h"

namespace tivel::setup {

class DirectoryObject;
using DirectoryPtr = std::shared_ptr<DirectoryObject>;

// Binds the object `path` names. Fails with kBadPathname for a path that names
// no object of this computer, and as the store fails when it cannot be read.
DirectoryPtr bindPath(std::string_view path);

class DirectoryObject {
 public:
  virtual ~DirectoryObject() = default;

  // Sets a property (name in any letter case) in the object's cache, converted
  // to the property's kind; kPropertyNotFound for a property the object has not.
  void Put(std::string_view property, const com::Variant& value);
  // Writes the cached properties (a new object: creates it).
  virtual void SetInfo() = 0;
  // Containers: a new child of class `cls` named `name`, made by its SetInfo.
  virtual DirectoryPtr Create(std::string_view cls, std::string_view name);
  // Containers: removes the child of class `cls` named `name` at once.
  virtual void Delete(std::string_view cls, std::string_view name);
  // Virtual directories: makes the directory an application (in-process or pooled).
  virtual void AppCreate(bool inProcess);
  // Accounts: sets the password (kept as a salted hash; a new account's at SetInfo).
  virtual void SetPassword(std::string_view password);
  // Groups: adds the account that the path "WinNT://<computer>/<account>" names.
  virtual void Add(std::string_view memberPath);

 protected:
  struct Property {
    const char* name;
    com::VarType kind;
  };
  DirectoryObject(std::string path, std::vector<Property> schema);

  // The value put for the property (its schema name), or nullptr.
  const com::Variant* cached(std::string_view property) const;
  void clearCache() { cache_.clear(); }
  [[noreturn]] void unsupported(const char* member) const;
  const std::string& path() const { return path_; }
  const Store& store() const { return store_; }

 private:
  std::string path_;
  std::vector<Property> schema_;
  std::vector<std::pair<std::string, com::Variant>> cache_;
  Store store_;
};

}  // namespace tivel::setup
