// The component catalogue the installation helper drives: packages, the
// components installed in each, and the utility that installs a library's
// classes into a package. Collections are read by Populate and edited in
// memory; SaveChanges writes the edits to the root's store. InstallComponent
// writes at once.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/variant.h"
#include "setup/store.h"

namespace tivel::setup {

class CatalogCollection;
class ComponentUtil;

// One item of a collection: its values by name and its key.
class CatalogObject {
 public:
  // The value `property` (any letter case): packages have ID, Name, Identity
  // and Password (read as "********" once set), components ProgID and DLL.
  // kPropertyNotFound for any other name.
  com::Variant Value(std::string_view property) const;
  // Sets a value (Name, Identity, Password of a package); written by SaveChanges.
  void setValue(std::string_view property, const com::Variant& value);
  // The item's key: a package's ID, a component's ProgID.
  com::Variant Key() const { return com::Variant(key_); }

 private:
  friend class CatalogCollection;
  CatalogObject(std::string key, bool editable) : key_(std::move(key)), editable_(editable) {}

  std::string key_;
  bool editable_;
  bool added_ = false, changed_ = false;
  std::map<std::string, std::string> values_;  // by canonical name; Password holds its hash
};

class CatalogCollection : public std::enable_shared_from_this<CatalogCollection> {
 public:
  // Reads the collection's items from the store, dropping unsaved edits.
  // ComponentsInPackage fails with kNotFound when its package no longer exists.
  void Populate();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // The item at `index` (0 to Count - 1); kInvalidArg outside.
  std::shared_ptr<CatalogObject> Item(int32_t index) const;
  // Drops the item at `index`; SaveChanges removes it from the store.
  void Remove(int32_t index);
  // A new package with a new key (Packages only); SaveChanges adds it.
  std::shared_ptr<CatalogObject> Add();
  // Writes removals, additions and changed values; returns how many items it wrote.
  int32_t SaveChanges();
  // The collection `name` related to the item with key `key`: only
  // "ComponentsInPackage" of a package; kNotFound for a key naming no package.
  std::shared_ptr<CatalogCollection> GetCollection(std::string_view name, const com::Variant& key);
  // The utility that installs components into this package's collection.
  std::shared_ptr<ComponentUtil> GetUtilInterface();

 private:
  friend class Catalog;
  enum class Kind { Packages, Components };
  CatalogCollection(Kind kind, std::string packageKey) : kind_(kind), packageKey_(std::move(packageKey)) {}

  Kind kind_;
  std::string packageKey_;  // for Components
  Store store_;
  std::vector<std::shared_ptr<CatalogObject>> items_;
  std::vector<std::string> removed_;  // keys
};

class ComponentUtil {
 public:
  explicit ComponentUtil(std::string packageKey) : packageKey_(std::move(packageKey)) {}
  // Loads the library `dllFile`, and records in the package every class it
  // registers. Refuses a missing file (kFileNotFound), a file that is not a
  // library, a library that registers no class (kInvalidData), a class
  // installed in another package (kAlreadyExists) and a separate type library
  // or proxy file (kNotSupported: none exists on this platform).
  void InstallComponent(std::string_view dllFile, std::string_view typeLibFile, std::string_view proxyStubFile);

 private:
  std::string packageKey_;
};

// The catalogue of the current root.
class Catalog {
 public:
  // The top-level collection `name`: only "Packages"; kInvalidArg otherwise.
  std::shared_ptr<CatalogCollection> GetCollection(std::string_view name);
};

}  // namespace tivel::setup
