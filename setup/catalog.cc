#include "setup/catalog.h"

#include <algorithm>
#include <filesystem>

#include "platform/com/class_catalogue.h"
#include "platform/com/error.h"
#include "setup/password_hash.h"
#include "setup/service_errors.h"

namespace tivel::setup {
namespace {

constexpr const char* kSource = "catalogue";
constexpr const char* kHidden = "********";

const char* const kPackageValues[] = {"ID", "Name", "Identity", "Password"};
const char* const kComponentValues[] = {"ProgID", "DLL"};

// The canonical spelling of a value name of the item, or nullptr.
template <size_t N>
const char* canonical(const char* const (&names)[N], std::string_view property) {
  for (const char* n : names)
    if (sameName(n, std::string(property))) return n;
  return nullptr;
}

Package* findPackage(ServiceState& s, const std::string& key) {
  for (auto& p : s.packages)
    if (p.key == key) return &p;
  return nullptr;
}

[[noreturn]] void noPackage(const std::string& key) {
  com::raise(kNotFound, kSource, "No package has the key " + (key.empty() ? std::string("(none)") : key));
}

}  // namespace

com::Variant CatalogObject::Value(std::string_view property) const {
  const char* name = editable_ ? canonical(kPackageValues, property) : canonical(kComponentValues, property);
  if (!name) com::raise(kPropertyNotFound, kSource, "The catalogue object has no value " + std::string(property));
  auto it = values_.find(name);
  if (it == values_.end()) return com::Variant("");
  if (std::string_view(name) == "Password") return com::Variant(it->second.empty() ? "" : kHidden);
  return com::Variant(it->second);
}

void CatalogObject::setValue(std::string_view property, const com::Variant& value) {
  const char* name = editable_ ? canonical(kPackageValues, property) : nullptr;
  if (!name || std::string_view(name) == "ID")
    com::raise(kPropertyNotFound, kSource, "The catalogue value " + std::string(property) + " cannot be set");
  std::string text = value.toString();
  values_[name] = std::string_view(name) == "Password" ? hashPassword(text) : text;
  changed_ = true;
}

void CatalogCollection::Populate() {
  ServiceState s = store_.read();
  items_.clear();
  removed_.clear();
  if (kind_ == Kind::Packages) {
    for (const Package& p : s.packages) {
      auto item = std::shared_ptr<CatalogObject>(new CatalogObject(p.key, true));
      item->values_ = {{"ID", p.key}, {"Name", p.name}, {"Identity", p.identity}, {"Password", p.passwordHash}};
      items_.push_back(std::move(item));
    }
    return;
  }
  Package* p = findPackage(s, packageKey_);
  if (!p) noPackage(packageKey_);
  for (const Component& c : p->components) {
    auto item = std::shared_ptr<CatalogObject>(new CatalogObject(c.progId, false));
    item->values_ = {{"ProgID", c.progId}, {"DLL", c.file}};
    items_.push_back(std::move(item));
  }
}

std::shared_ptr<CatalogObject> CatalogCollection::Item(int32_t index) const {
  if (index < 0 || index >= Count())
    com::raise(kInvalidArg, kSource, "No item at index " + std::to_string(index) + " of " + std::to_string(Count()));
  return items_[static_cast<size_t>(index)];
}

void CatalogCollection::Remove(int32_t index) {
  std::shared_ptr<CatalogObject> item = Item(index);
  if (!item->added_) removed_.push_back(item->key_);
  items_.erase(items_.begin() + index);
}

std::shared_ptr<CatalogObject> CatalogCollection::Add() {
  if (kind_ != Kind::Packages) com::raise(kNotSupported, kSource, "Components are added by InstallComponent, not Add");
  std::string key = newKey();
  auto item = std::shared_ptr<CatalogObject>(new CatalogObject(key, true));
  item->values_ = {{"ID", key}, {"Name", ""}, {"Identity", ""}, {"Password", ""}};
  item->added_ = true;
  items_.push_back(item);
  return item;
}

int32_t CatalogCollection::SaveChanges() {
  int32_t written = 0;
  store_.update([&](ServiceState& s) {
    written = 0;
    if (kind_ == Kind::Components) {
      Package* p = findPackage(s, packageKey_);
      if (!p) noPackage(packageKey_);
      for (const std::string& key : removed_) {
        auto& list = p->components;
        auto it = std::find_if(list.begin(), list.end(), [&](const Component& c) { return c.progId == key; });
        if (it != list.end()) list.erase(it), ++written;
      }
      return;
    }
    // A package removed meanwhile by someone else is gone either way.
    for (const std::string& key : removed_) {
      auto& list = s.packages;
      auto it = std::find_if(list.begin(), list.end(), [&](const Package& p) { return p.key == key; });
      if (it != list.end()) list.erase(it), ++written;
    }
    for (const auto& item : items_) {
      if (!item->added_ && !item->changed_) continue;
      Package* p =
          item->added_ ? &s.packages.emplace_back(Package{item->key_, "", "", "", {}}) : findPackage(s, item->key_);
      if (!p) noPackage(item->key_);
      p->name = item->values_["Name"];
      p->identity = item->values_["Identity"];
      p->passwordHash = item->values_["Password"];
      ++written;
    }
  });
  removed_.clear();
  for (const auto& item : items_) item->added_ = item->changed_ = false;
  return written;
}

std::shared_ptr<CatalogCollection> CatalogCollection::GetCollection(std::string_view name, const com::Variant& key) {
  if (kind_ != Kind::Packages || !sameName(std::string(name), "ComponentsInPackage"))
    com::raise(kInvalidArg, kSource, "No related collection " + std::string(name));
  std::string packageKey = key.toString();
  ServiceState s = store_.read();
  if (!findPackage(s, packageKey)) noPackage(packageKey);
  return std::shared_ptr<CatalogCollection>(new CatalogCollection(Kind::Components, packageKey));
}

std::shared_ptr<ComponentUtil> CatalogCollection::GetUtilInterface() {
  if (kind_ != Kind::Components)
    com::raise(kNotSupported, kSource, "Only a package's components have a component utility");
  return std::make_shared<ComponentUtil>(packageKey_);
}

void ComponentUtil::InstallComponent(std::string_view dllFile, std::string_view typeLibFile,
                                     std::string_view proxyStubFile) {
  if (!typeLibFile.empty() || !proxyStubFile.empty())
    com::raise(kNotSupported, kSource,
               "Libraries describe their own classes here; no type library or proxy file is used");
  std::string file(dllFile);
  std::vector<std::string> classes = com::loadComponentLibrary(file);  // fails for a missing or unloadable file
  if (classes.empty()) com::raise(kInvalidData, kSource, file + " registers no class: it is not a component library");
  std::error_code ec;
  std::string absolute = std::filesystem::canonical(file, ec).string();
  if (ec) absolute = std::filesystem::absolute(file).lexically_normal().string();
  Store().update([&](ServiceState& s) {
    Package* target = findPackage(s, packageKey_);
    if (!target) noPackage(packageKey_);
    for (const Package& p : s.packages) {
      if (&p == target) continue;
      for (const Component& c : p.components)
        for (const std::string& progId : classes)
          if (sameName(c.progId, progId))
            com::raise(kAlreadyExists, kSource, progId + " is installed in the package " + p.name + " already");
    }
    // Installing a library again replaces its entries.
    for (const std::string& progId : classes) {
      auto& list = target->components;
      auto it = std::find_if(list.begin(), list.end(), [&](const Component& c) { return sameName(c.progId, progId); });
      if (it == list.end())
        list.push_back(Component{progId, absolute});
      else
        it->file = absolute;
    }
  });
}

std::shared_ptr<CatalogCollection> Catalog::GetCollection(std::string_view name) {
  if (!sameName(std::string(name), "Packages")) com::raise(kInvalidArg, kSource, "No collection " + std::string(name));
  return std::shared_ptr<CatalogCollection>(new CatalogCollection(CatalogCollection::Kind::Packages, ""));
}

}  // namespace tivel::setup
