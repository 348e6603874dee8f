#include "mgt/common/collection.h"

#include <strings.h>

#include "mgt/common/class_registration.h"

namespace tivel::mgt {
namespace {

bool sameKey(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A hash of the key as sameKey compares it (letters A-Z as a-z), in the
// high half of a slot (FNV-1a).
uint64_t keyHash(const std::string& key) {
  uint64_t h = 14695981039346656037ull;
  for (char c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return h & 0xFFFFFFFF00000000ull;
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

void cCollection::Add(com::Variant obj, std::string key) {
  const uint64_t hash = keyHash(key);
  if (2 * (items_.size() + 1) > slots_.size()) index(items_.size() + 1);
  // One walk both looks for the key and finds the free slot it will take.
  const uint64_t mask = slots_.size() - 1;
  size_t at = static_cast<size_t>(hash >> 32) & mask;
  for (; slots_[at]; at = (at + 1) & mask) {
    const size_t position = (slots_[at] & 0xFFFFFFFFu) - 1;
    if ((slots_[at] & ~0xFFFFFFFFull) == hash && sameKey(items_[position].first, key))
      com::raise(com::kKeyAlreadyAssociated, "TivelMgt.cCollection",
                 "This key is already associated with an element of this collection");
  }
  items_.emplace_back(std::move(key), std::move(obj));
  slots_[at] = hash | items_.size();
}

void cCollection::reserve(size_t n) {
  items_.reserve(n);
  if (2 * n > slots_.size()) index(n);
}

long cCollection::find(const std::string& key, uint64_t hash) const {
  if (slots_.empty()) return -1;
  const uint64_t mask = slots_.size() - 1;
  for (size_t at = static_cast<size_t>(hash >> 32) & mask; slots_[at]; at = (at + 1) & mask) {
    const size_t position = (slots_[at] & 0xFFFFFFFFu) - 1;
    if ((slots_[at] & ~0xFFFFFFFFull) == hash && sameKey(items_[position].first, key))
      return static_cast<long>(position);
  }
  return -1;
}

void cCollection::index(size_t n) {
  size_t size = 16;
  while (size < 2 * n) size *= 2;
  slots_.assign(size, 0);
  const uint64_t mask = size - 1;
  for (size_t i = 0; i < items_.size(); ++i) {
    const uint64_t hash = keyHash(items_[i].first);
    size_t at = static_cast<size_t>(hash >> 32) & mask;
    while (slots_[at]) at = (at + 1) & mask;
    slots_[at] = hash | (i + 1);
  }
}

com::Variant cCollection::Item(int i) const {
  if (i < 1 || i > Count()) com::raise(com::kSubscriptOutOfRange, "TivelMgt.cCollection", "Subscript out of range");
  return items_[static_cast<size_t>(i - 1)].second;
}

// The positions after the removed entry move up, so the index is made anew.
void cCollection::Remove(const std::string& key) {
  const long position = find(key, keyHash(key));
  if (position < 0)
    com::raise(com::kInvalidProcedureCall, "TivelMgt.cCollection", "Invalid procedure call or argument");
  items_.erase(items_.begin() + position);
  index(items_.size());
}

void cCollection::Clear() {
  for (int32_t n = Count(); n >= 1; --n) items_.erase(items_.begin() + (n - 1));
  slots_.clear();
}

com::ObjectPtr cCollection::NewEnum() const {
  std::vector<com::Variant> objs;
  for (const auto& e : items_) objs.push_back(e.second);
  return std::make_shared<Enumerator>(std::move(objs));
}

CollectionPtr newCollection() { return std::make_shared<cCollection>(); }

}  // namespace tivel::mgt
