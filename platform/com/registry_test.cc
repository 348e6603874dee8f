#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <memory>

namespace tivel::com {
namespace {

class Probe : public Object {
 public:
  explicit Probe(int tag) : tag(tag) {}
  static const ClassInfo& info() {
    static const ClassInfo ci = [] {
      ClassInfo c("TivelTest.Probe", "Probe");
      c.get("Tag", {}, bind<Probe>([](Probe& self, Args&) { return Variant(int32_t{self.tag}); }));
      return c;
    }();
    return ci;
  }
  const ClassInfo& classInfo() const override { return info(); }
  int tag;
};

// Registered the way component libraries register their classes.
const Registrar probeRegistrar(Probe::info(), [] { return std::make_shared<Probe>(1); });

TEST(Registry, CreatesRegisteredClassesByProgIdInAnyCase) {
  ObjectPtr a = CreateObject("TivelTest.Probe");
  ObjectPtr b = CreateObject("tiveltest.PROBE");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);  // a new object each time
  EXPECT_EQ(b->classInfo().className(), "Probe");
  EXPECT_EQ(b->getProperty("tag"), Variant(int32_t{1}));
  EXPECT_EQ(findClass("TIVELTEST.probe"), &Probe::info());
  auto names = registeredClasses();
  EXPECT_NE(std::find(names.begin(), names.end(), "TivelTest.Probe"), names.end());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
    return strcasecmp(x.c_str(), y.c_str()) < 0;
  }));
}

TEST(Registry, UnknownProgIdFailsClearly) {
  EXPECT_EQ(findClass("TivelTest.Nothing"), nullptr);
  try {
    CreateObject("TivelTest.Nothing");
    FAIL() << "created an unknown class";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), kInvalidClassString);
    EXPECT_NE(e.description().find("TivelTest.Nothing"), std::string::npos);
  }
}

TEST(Registry, ALaterRegistrationReplacesAndFactoryFailuresReachTheCaller) {
  static const ClassInfo failing("TivelTest.Failing", "Failing");
  registerClass(failing, []() -> ObjectPtr { raise(kObjectError + 1, "Failing", "cannot start"); });
  try {
    CreateObject("TivelTest.Failing");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), kObjectError + 1);
    EXPECT_EQ(e.description(), "cannot start");
  }

  registerClass(Probe::info(), [] { return std::make_shared<Probe>(2); });
  EXPECT_EQ(CreateObject("TivelTest.Probe")->getProperty("Tag"), Variant(int32_t{2}));
  registerClass(Probe::info(), [] { return std::make_shared<Probe>(1); });
}

}  // namespace
}  // namespace tivel::com
