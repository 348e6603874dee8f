#include "mgt/common/collection.h"

#include <strings.h>

#include "mgt/common/class_registration.h"

namespace tivel::mgt {
namespace {

bool sameKey(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The key as sameKey compares it: letters A-Z in lower case, every other byte as it is.
std::string folded(std::string key) {
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

// Walks a snapshot of a collection's objects in position order.
class Enumerator : public com::Object {
 public:
  explicit Enumerator(std::vector<com::Variant> items) : items_(std::move(items)) {}
  const com::ClassInfo& classInfo() const override {
    static const com::ClassInfo info = [] {
      com::ClassInfo c("TivelMgt.cCollectionEnum", "cCollectionEnum");
      c.method("Next", {}, com::bind<Enumerator>([](Enumerator& e, com::Args&) {
                 return e.pos_ < e.items_.size() ? e.items_[e.pos_++] : com::Variant::nothing();
               }));
      c.method("Reset", {}, com::bind<Enumerator>([](Enumerator& e, com::Args&) {
                 e.pos_ = 0;
                 return com::Variant();
               }));
      return c;
    }();
    return info;
  }
  void dropReferences() override {
    items_.clear();
    pos_ = 0;
  }

 private:
  std::vector<com::Variant> items_;
  size_t pos_ = 0;
};

const com::ClassInfo& info() {
  using com::VarType;
  static const com::ClassInfo c = [] {
    com::ClassInfo c("TivelMgt.cCollection", "cCollection");
    c.method("Add", {com::ref("obj", VarType::Object), com::ref("strObj_PK", VarType::String)},
             com::bind<cCollection>([](cCollection& self, com::Args& a) {
               self.Add(a[0], a[1].toString());
               return com::Variant();
             }));
    c.get("Item", {com::ref("i", VarType::Integer)},
          com::bind<cCollection>([](cCollection& self, com::Args& a) { return self.Item(a[0].toInteger()); }));
    c.get("Count", {},
          com::bind<cCollection>([](cCollection& self, com::Args&) { return com::Variant(self.Count()); }));
    c.method("Remove", {com::ref("strObj_PK", VarType::String)},
             com::bind<cCollection>([](cCollection& self, com::Args& a) {
               self.Remove(a[0].toString());
               return com::Variant();
             }));
    c.get("NewEnum", {},
          com::bind<cCollection>([](cCollection& self, com::Args&) { return com::Variant(self.NewEnum()); }));
    c.method("Clear", {}, com::bind<cCollection>([](cCollection& self, com::Args&) {
               self.Clear();
               return com::Variant();
             }));
    return c;
  }();
  return c;
}

const bool registered = (registerMgtClass<cCollection>(info()), true);

}  // namespace

const com::ClassInfo& cCollection::classInfo() const { return info(); }

void cCollection::Add(const com::Variant& obj, const std::string& key) {
  std::string k = folded(key);
  if (keys_.count(k))
    com::raise(com::kKeyAlreadyAssociated, "TivelMgt.cCollection",
               "This key is already associated with an element of this collection");
  items_.emplace_back(key, obj);
  try {
    keys_.insert(std::move(k));
  } catch (...) {
    items_.pop_back();
    throw;
  }
}

com::Variant cCollection::Item(int i) const {
  if (i < 1 || i > Count()) com::raise(com::kSubscriptOutOfRange, "TivelMgt.cCollection", "Subscript out of range");
  return items_[static_cast<size_t>(i - 1)].second;
}

void cCollection::Remove(const std::string& key) {
  for (auto it = items_.begin(); it != items_.end(); ++it)
    if (sameKey(it->first, key)) {
      keys_.erase(folded(it->first));
      items_.erase(it);
      return;
    }
  com::raise(com::kInvalidProcedureCall, "TivelMgt.cCollection", "Invalid procedure call or argument");
}

void cCollection::Clear() {
  for (int32_t n = Count(); n >= 1; --n) items_.erase(items_.begin() + (n - 1));
  keys_.clear();
}

com::ObjectPtr cCollection::NewEnum() const {
  std::vector<com::Variant> objs;
  for (const auto& e : items_) objs.push_back(e.second);
  return std::make_shared<Enumerator>(std::move(objs));
}

CollectionPtr newCollection() { return std::make_shared<cCollection>(); }

}  // namespace tivel::mgt
