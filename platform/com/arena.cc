#include "platform/com/arena.h"

#include <memory>
#include <vector>

#include "platform/com/object.h"

namespace tivel::com {
namespace {

thread_local ObjectArena* currentArena = nullptr;

}  // namespace

ObjectArena::~ObjectArena() {
  sweep();
  std::lock_guard lock(mutex_);
  for (Object* o : objects_) o->arena_ = nullptr;
  objects_.clear();
}

void ObjectArena::sweep() {
  // Hold every live object first, so that none goes while the others are
  // still being emptied; they go together when `alive` ends.
  std::vector<ObjectPtr> alive;
  {
    std::lock_guard lock(mutex_);
    alive.reserve(objects_.size());
    for (Object* o : objects_)
      if (ObjectPtr p = o->weak_from_this().lock()) alive.push_back(std::move(p));
  }
  for (const ObjectPtr& p : alive) p->dropReferences();
}

size_t ObjectArena::size() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

void ObjectArena::add(Object* object) {
  std::lock_guard lock(mutex_);
  objects_.insert(object);
}

void ObjectArena::remove(Object* object) {
  std::lock_guard lock(mutex_);
  objects_.erase(object);
}

ObjectArena::Scope::Scope(ObjectArena& arena) : previous_(currentArena) { currentArena = &arena; }
ObjectArena::Scope::~Scope() { currentArena = previous_; }

ObjectArena* ObjectArena::current() { return currentArena; }

}  // namespace tivel::com
