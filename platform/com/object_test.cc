#include "platform/com/object.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "testing/errors.h"

namespace tivel::com {
namespace {

// A small class with a method, a read/write property, by-reference and
// optional parameters and a property with an argument.
class Counter : public Object {
 public:
  static const ClassInfo& info() {
    static const ClassInfo ci = [] {
      ClassInfo c("TivelTest.Counter", "Counter");
      c.method("Add", {in("n", VarType::Long)},
               bind<Counter>([](Counter& self, Args& a) { return Variant(self.total += a[0].toLong()); }))
          .get("Name", {}, bind<Counter>([](Counter& self, Args&) { return Variant(self.name); }))
          .put("Name", {in("value", VarType::String)}, bind<Counter>([](Counter& self, Args& a) {
                 self.name = a[0].toString();
                 return Variant();
               }))
          .method("Twice", {ref("n", VarType::Long), ref("label", VarType::String)},
                  bind<Counter>([](Counter&, Args& a) {
                    a[0] = Variant(a[0].toLong() * 2);
                    a[1] = Variant(a[1].toString() + "!");
                    return Variant(true);
                  }))
          .method("Greet", {in("who", VarType::String), opt(in("greeting", VarType::String))},
                  bind<Counter>([](Counter&, Args& a) {
                    std::string g = a[1].isMissing() ? "Hello" : a[1].toString();
                    return Variant(g + ", " + a[0].toString());
                  }))
          .get("Item", {in("index", VarType::Long)},
               bind<Counter>([](Counter&, Args& a) { return Variant(a[0].toLong() * 10); }));
      return c;
    }();
    return ci;
  }
  const ClassInfo& classInfo() const override { return info(); }

  int32_t total = 0;
  std::string name;
};

using tivel::testing::errorOf;

TEST(ClassInfo, MemberNamesKeepOrderAndListAPropertyOnce) {
  const ClassInfo& c = Counter::info();
  EXPECT_EQ(c.memberNames(), (std::vector<std::string>{"Add", "Name", "Twice", "Greet", "Item"}));
  EXPECT_EQ(c.members().size(), 6u);
  EXPECT_NE(c.find("name", MemberKind::Put), nullptr);
  EXPECT_EQ(c.find("Add", MemberKind::Put), nullptr);
  EXPECT_TRUE(c.hasName("GREET"));
  EXPECT_FALSE(c.hasName("Gree"));
}

TEST(Dispatch, CallsMembersInAnyCaseAndCoercesArguments) {
  auto o = std::make_shared<Counter>();
  EXPECT_EQ(o->call("Add", {Variant(int32_t{2})}), Variant(int32_t{2}));
  EXPECT_EQ(o->call("aDD", {Variant("40")}), Variant(int32_t{42}));
  EXPECT_EQ(o->call("Add", {Variant(0.5)}), Variant(int32_t{42}));  // 0.5 rounds to 0
  o->putProperty("name", Variant(int32_t{7}));
  EXPECT_EQ(o->name, "7");
  EXPECT_EQ(o->getProperty("NAME"), Variant("7"));
  // A property with an argument is reachable as a method call too.
  EXPECT_EQ(o->call("Item", {Variant(int32_t{3})}), Variant(int32_t{30}));
  EXPECT_EQ(o->getProperty("Item", {Variant("4")}), Variant(int32_t{40}));
}

TEST(Dispatch, ByReferenceArgumentsAreWrittenBack) {
  auto o = std::make_shared<Counter>();
  Args args{Variant("21"), Variant(int32_t{5})};
  EXPECT_EQ(o->invoke("Twice", MemberKind::Method, args), Variant(true));
  EXPECT_EQ(args[0], Variant(int32_t{42}));
  EXPECT_EQ(args[1], Variant("5!"));
  // By-value arguments stay as the caller passed them.
  Args byValue{Variant("3")};
  o->invoke("Add", MemberKind::Method, byValue);
  EXPECT_EQ(byValue[0], Variant("3"));
}

TEST(Dispatch, OmittedOptionalArgumentsArriveAsMissing) {
  auto o = std::make_shared<Counter>();
  EXPECT_EQ(o->call("Greet", {Variant("Li")}), Variant("Hello, Li"));
  EXPECT_EQ(o->call("Greet", {Variant("Li"), Variant::missing()}), Variant("Hello, Li"));
  EXPECT_EQ(o->call("Greet", {Variant("Li"), Variant("你好")}), Variant("你好, Li"));
}

TEST(Dispatch, CallErrors) {
  auto o = std::make_shared<Counter>();
  EXPECT_EQ(errorOf([&] { o->call("Subtract", {Variant(int32_t{1})}); }), kUnknownName);
  EXPECT_EQ(errorOf([&] { o->putProperty("Add", Variant(int32_t{1})); }), kUnknownName);
  EXPECT_EQ(errorOf([&] { o->call("Add"); }), kBadParamCount);
  EXPECT_EQ(errorOf([&] { o->call("Add", {Variant(int32_t{1}), Variant(int32_t{2})}); }), kBadParamCount);
  EXPECT_EQ(errorOf([&] { o->call("Greet", {Variant("a"), Variant("b"), Variant("c")}); }), kBadParamCount);
  EXPECT_EQ(errorOf([&] { o->call("Add", {Variant("abc")}); }), kTypeMismatchArg);
  EXPECT_EQ(errorOf([&] { o->call("Add", {Variant::null()}); }), kTypeMismatchArg);
  EXPECT_EQ(errorOf([&] { o->call("Add", {Variant(3e10)}); }), kTypeMismatchArg);
  // A failed call runs nothing and writes nothing back.
  Args args{Variant("x"), Variant("keep")};
  EXPECT_EQ(errorOf([&] { o->invoke("Twice", MemberKind::Method, args); }), kTypeMismatchArg);
  EXPECT_EQ(args[1], Variant("keep"));
  EXPECT_EQ(o->total, 0);
}

TEST(Dispatch, CallErrorsNameTheClassAndMember) {
  auto o = std::make_shared<Counter>();
  try {
    o->call("Add", {Variant("abc")});
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.source(), "Counter.Add");
    EXPECT_NE(e.description().find("n"), std::string::npos);
  }
}

TEST(Apartment, CallsFromAnotherThreadFail) {
  auto o = std::make_shared<Counter>();
  int32_t fromOther = 0;
  int32_t ownOnOther = -1;
  std::thread t([&] {
    fromOther = errorOf([&] { o->call("Add", {Variant(int32_t{1})}); });
    auto mine = std::make_shared<Counter>();
    ownOnOther = errorOf([&] { mine->call("Add", {Variant(int32_t{1})}); });
  });
  t.join();
  EXPECT_EQ(fromOther, kWrongThread);
  EXPECT_EQ(ownOnOther, 0);
  EXPECT_EQ(o->total, 0);
  EXPECT_EQ(o->ownerThread(), std::this_thread::get_id());
}

}  // namespace
}  // namespace tivel::com
