// A session's objects: while a scope of an arena is open on a thread, every
// object created on that thread is noted in the arena, and when the arena
// ends it makes each of them that is still alive let go of the objects it
// holds. Reference counting alone never frees a cycle (a record holding
// itself, a list added to itself); the arena frees it when the session that
// made it ends. Hosts keep one arena per session (or per batch of requests).
#pragma once

#include <mutex>
#include <unordered_set>

namespace tivel::com {

class Object;

class ObjectArena {
 public:
  ObjectArena() = default;
  // Sweeps (see sweep()) and forgets the objects that still live.
  ~ObjectArena();
  ObjectArena(const ObjectArena&) = delete;
  ObjectArena& operator=(const ObjectArena&) = delete;

  // Makes every live object noted here let go of the objects it holds, so
  // that what only the session's own objects kept alive is freed.
  void sweep();
  // The number of live objects noted here.
  size_t size() const;

  // While a Scope lives, objects created on this thread are noted in the arena.
  class Scope {
   public:
    explicit Scope(ObjectArena& arena);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ObjectArena* previous_;
  };

  // The arena whose scope is open on this thread, or nullptr.
  static ObjectArena* current();

 private:
  friend class Object;
  void add(Object* object);
  void remove(Object* object);

  mutable std::mutex mutex_;  // an object may be released on another thread
  std::unordered_set<Object*> objects_;
};

}  // namespace tivel::com
