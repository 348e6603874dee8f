// cCollection: the keyed, ordered list in which every list operation returns
// its records (TivelMgt.cCollection).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/keyed_list.h"
#include "platform/com/object.h"

namespace tivel::mgt {

class cCollection : public com::Object, public com::KeyedList {
 public:
  const com::ClassInfo& classInfo() const override;

  // Appends obj under key; a key already present in any letter case fails
  // (error 457) and leaves the list unchanged.
  void Add(com::Variant obj, std::string key);
  // The object at position i (from 1); outside 1..Count fails (error 9).
  com::Variant Item(int i) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Removes the entry with that key (any case); a missing key fails (error 5).
  void Remove(const std::string& key);
  // Removes every entry, last first.
  void Clear();
  // Makes room for n entries in all, so that adding them moves none.
  void reserve(size_t n);
  // Removes every entry at once.
  void dropReferences() override {
    items_.clear();
    slots_.clear();
  }
  // A new enumerator over the entries in position order.
  com::ObjectPtr NewEnum() const;

  std::vector<std::pair<std::string, com::Variant>> entries() const override { return items_; }

 private:
  // The position of the entry with that key (any case) and that keyHash, or -1.
  long find(const std::string& key, uint64_t hash) const;
  // Makes the key index anew, with room for at least n entries.
  void index(size_t n);

  std::vector<std::pair<std::string, com::Variant>> items_;
  // An index of the keys, so that Add finds a key already present without
  // walking the list (a list of n rows costs n, not n²): open addressing,
  // each slot the hash of a key (letters folded as the comparison folds
  // them) in its high half and its entry's position + 1 in its low half, 0
  // for none; at most half the slots are used.
  std::vector<uint64_t> slots_;
};
using CollectionPtr = std::shared_ptr<cCollection>;

// A new empty collection (the thread is already started by the caller).
CollectionPtr newCollection();

}  // namespace tivel::mgt
