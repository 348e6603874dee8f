// Releasing what objects hold: long chains go without recursion, and an
// arena frees the cycles its session made.
#include "platform/com/arena.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/com/object.h"

namespace tivel::com {
namespace {

int live = 0;

// An object with one property that may hold anything, another object included.
class Holder : public Object {
 public:
  Holder() { ++live; }
  ~Holder() override { --live; }
  const ClassInfo& classInfo() const override {
    static const ClassInfo ci("TivelTest.Holder", "Holder");
    return ci;
  }
  void dropReferences() override { held = Variant(); }
  Variant held;
};

TEST(Release, LongChainsGoOneAfterAnother) {
  constexpr int kLength = 1'000'000;
  {
    // Each holds the previous one directly.
    auto last = std::make_shared<Holder>();
    for (int i = 1; i < kLength; ++i) {
      auto next = std::make_shared<Holder>();
      next->held = Variant(ObjectPtr(std::move(last)));
      last = std::move(next);
    }
    EXPECT_EQ(live, kLength);
  }
  EXPECT_EQ(live, 0);
  {
    // Each holds the previous one inside arrays in arrays, the last one in a Variant.
    Variant last = Variant(ObjectPtr(std::make_shared<Holder>()));
    for (int i = 1; i < kLength; ++i) {
      auto next = std::make_shared<Holder>();
      next->held = Variant(Variant::Array{Variant(Variant::Array{std::move(last)})});
      last = Variant(ObjectPtr(std::move(next)));
    }
  }
  EXPECT_EQ(live, 0);
  // Arrays alone, nested as deep, and a chain whose last link is overwritten.
  {
    Variant deep;
    for (int i = 0; i < kLength; ++i) {
      Variant::Array outer;
      outer.push_back(std::move(deep));  // a braced list would copy the whole depth
      deep = Variant(std::move(outer));
    }
  }
  auto head = std::make_shared<Holder>();
  for (int i = 1; i < kLength; ++i) {
    auto next = std::make_shared<Holder>();
    next->held = Variant(ObjectPtr(std::move(head)));
    head = std::move(next);
  }
  Variant slot = Variant(ObjectPtr(std::move(head)));
  slot = Variant("replaced");
  EXPECT_EQ(live, 0);
}

TEST(ObjectArena, FreesTheCyclesOfItsSessionWhenItEnds) {
  std::weak_ptr<Object> self, kept;
  auto outside = std::make_shared<Holder>();  // made before any scope: not the arena's
  {
    ObjectArena arena;
    {
      ObjectArena::Scope scope(arena);
      auto a = std::make_shared<Holder>();
      a->held = Variant(ObjectPtr(a));  // holds itself
      self = a;
      auto b = std::make_shared<Holder>(), c = std::make_shared<Holder>();
      b->held = Variant(Variant::Array{Variant(ObjectPtr(c))});
      c->held = Variant(ObjectPtr(b));  // a pair holding each other
      outside->held = Variant(ObjectPtr(std::make_shared<Holder>()));
      kept = outside->held.toObject();
      EXPECT_EQ(arena.size(), 4u);
    }
    EXPECT_EQ(ObjectArena::current(), nullptr);
    EXPECT_EQ(live, 5);  // reference counting alone frees none of the cycles
  }
  EXPECT_EQ(live, 2);
  EXPECT_TRUE(self.expired());
  // What is held from outside the session lives on, emptied of what it held.
  ASSERT_FALSE(kept.expired());
  EXPECT_TRUE(static_cast<Holder&>(*kept.lock()).held.isEmpty());
  outside.reset();
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace tivel::com
