// The request handler of `tivel rpc`, driven in-process with test classes:
// a property bag with methods (by-reference and optional arguments), a
// record-like class and a keyed list.
#include "tools/tivel/rpc/host.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "mgt/common/collection.h"
#include "platform/com/keyed_list.h"
#include "platform/com/registry.h"
#include "records/record.h"

namespace tivel::tool {
namespace {

using com::Args;
using com::Variant;
using com::VarType;

int liveBags = 0;

class Bag : public com::Object {
 public:
  Bag() { ++liveBags; }
  ~Bag() override { --liveBags; }
  const com::ClassInfo& classInfo() const override { return info(); }

  static const com::ClassInfo& info() {
    static const com::ClassInfo c = [] {
      using com::in;
      using com::opt;
      using com::ref;
      com::ClassInfo i("TivelTest.Bag", "cBag");
      i.get("Name", {}, com::bind<Bag>([](Bag& b, Args&) { return b.name; }));
      i.put("Name", {in("value")}, com::bind<Bag>([](Bag& b, Args& a) {
              b.name = a[0];
              return Variant();
            }));
      i.get("Item", {in("index", VarType::Long)},
            com::bind<Bag>([](Bag& b, Args& a) { return b.items[a[0].toLong()]; }));
      i.put("Item", {in("index", VarType::Long), in("value")}, com::bind<Bag>([](Bag& b, Args& a) {
              b.items[a[0].toLong()] = a[1];
              return Variant();
            }));
      i.method("Echo", {in("v")}, [](com::Object&, Args& a) { return a[0]; });
      i.method("TypeOf", {opt(in("v"))}, [](com::Object&, Args& a) {
        return Variant(com::typeName(a.empty() ? VarType::Missing : a[0].type()));
      });
      i.method("Swap", {ref("a"), ref("b")}, [](com::Object&, Args& a) {
        std::swap(a[0], a[1]);
        return Variant();
      });
      i.method("Bump", {ref("n", VarType::Long)}, [](com::Object&, Args& a) {
        a[0] = Variant(a[0].toLong() + 1);
        return a[0];
      });
      i.method("Add", {in("a", VarType::Long), opt(in("b", VarType::Long))},
               [](com::Object&, Args& a) { return Variant(a[0].toLong() + com::argOr(a, 1, int32_t{100}).toLong()); });
      i.method("Fail", {}, [](com::Object&, Args&) -> Variant {
        com::raise(static_cast<int32_t>(0x80040001), "cBag.Fail", "连接数据库出错！");
      });
      i.method("Throw", {}, [](com::Object&, Args&) -> Variant { throw std::runtime_error("plain failure"); });
      i.method("Me", {}, [](com::Object& self, Args&) { return Variant(self.shared_from_this()); });
      i.method("Nothing", {}, [](com::Object&, Args&) { return Variant::nothing(); });
      return i;
    }();
    return c;
  }

  Variant name;
  std::map<int32_t, Variant> items;
};

// Properties only, declared out of alphabetical order.
class Rec : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override { return info(); }
  static const com::ClassInfo& info() {
    static const com::ClassInfo c = [] {
      com::ClassInfo i("TivelTest.Rec", "cRec");
      for (int k = 0; k < 3; ++k) {
        static const char* names[] = {"Zeta", "Alpha", "Mid"};
        i.put(names[k], {com::in("value")}, [k](com::Object& self, Args& a) {
          static_cast<Rec&>(self).values[k] = a[0];
          return Variant();
        });
        i.get(names[k], {}, [k](com::Object& self, Args&) { return static_cast<Rec&>(self).values[k]; });
      }
      return i;
    }();
    return c;
  }
  void dropReferences() override {
    for (Variant& v : values) v = Variant();
  }
  Variant values[3];
};

class List : public com::Object, public com::KeyedList {
 public:
  const com::ClassInfo& classInfo() const override { return info(); }
  static const com::ClassInfo& info() {
    static const com::ClassInfo c = [] {
      com::ClassInfo i("TivelTest.List", "cList");
      i.method("Add", {com::in("item"), com::in("key", VarType::String)}, com::bind<List>([](List& l, Args& a) {
                 l.items.emplace_back(a[1].toString(), a[0]);
                 return Variant();
               }));
      return i;
    }();
    return c;
  }
  std::vector<std::pair<std::string, Variant>> entries() const override { return items; }
  void dropReferences() override { items.clear(); }
  std::vector<std::pair<std::string, Variant>> items;
};

const com::Registrar bagClass(Bag::info(), [] { return std::make_shared<Bag>(); });
const com::Registrar recClass(Rec::info(), [] { return std::make_shared<Rec>(); });
const com::Registrar listClass(List::info(), [] { return std::make_shared<List>(); });

constexpr int32_t kBadRequest = static_cast<int32_t>(0x80070057);

class RpcHostTest : public ::testing::Test {
 protected:
  // The parsed answer to one request line.
  Json ask(const std::string& line) {
    std::string out = host.handle(line);
    EXPECT_EQ(out.find('\n'), std::string::npos) << out;
    return Json::parse(out);
  }
  // The result of a request that must succeed.
  Json result(const std::string& line) {
    Json a = ask(line);
    EXPECT_FALSE(a.contains("error")) << line << " -> " << a.dump();
    return a.contains("result") ? a["result"] : Json();
  }
  // The error number of a request that must fail.
  int64_t errorNumber(const std::string& line) {
    Json a = ask(line);
    EXPECT_TRUE(a.contains("error")) << line << " -> " << a.dump();
    EXPECT_FALSE(a.contains("result")) << a.dump();
    return a.contains("error") ? a["error"]["number"].get<int64_t>() : 0;
  }
  int64_t newBag() { return result(R"({"id":0,"new":"TivelTest.Bag"})")["object"].get<int64_t>(); }
  std::string echo(int64_t bag, const std::string& valueJson) {
    return result(R"({"id":1,"object":)" + std::to_string(bag) + R"(,"call":"Echo","args":[)" + valueJson + "]}")
        .dump();
  }
  std::string typeOf(int64_t bag, const std::string& args) {
    return result(R"({"id":1,"object":)" + std::to_string(bag) + R"(,"call":"TypeOf","args":[)" + args + "]}")
        .get<std::string>();
  }

  RpcHost host;
};

TEST_F(RpcHostTest, NewAnswersAHandleAndTheClass) {
  EXPECT_EQ(host.handle(R"({"id":"a","new":"TivelTest.Bag"})"), R"({"id":"a","result":{"object":1,"class":"cBag"}})");
  EXPECT_EQ(host.handle(R"({"id":2,"new":"tiveltest.bag"})"), R"({"id":2,"result":{"object":2,"class":"cBag"}})");
  EXPECT_EQ(liveBags, 2);
}

TEST_F(RpcHostTest, PutThenGetKeepsTheValue) {
  int64_t b = newBag();
  std::string h = std::to_string(b);
  EXPECT_EQ(host.handle(R"({"id":3,"object":)" + h + R"(,"put":"Name","value":"财务部"})"),
            R"({"id":3,"result":{"empty":true}})");
  EXPECT_EQ(host.handle(R"({"id":4,"object":)" + h + R"(,"get":"name"})"), R"({"id":4,"result":"财务部"})");
  // A property with a parameter, read through get and through call.
  result(R"({"id":5,"object":)" + h + R"(,"put":"Item","args":[7],"value":{"date":"2024-05-06 07:08:09"}})");
  EXPECT_EQ(result(R"({"id":6,"object":)" + h + R"(,"get":"Item","args":[7]})").dump(),
            R"({"date":"2024-05-06 07:08:09"})");
  EXPECT_EQ(result(R"({"id":7,"object":)" + h + R"(,"call":"Item","args":["7"]})").dump(),
            R"({"date":"2024-05-06 07:08:09"})");
  EXPECT_EQ(result(R"({"id":8,"object":)" + h + R"(,"get":"Item","args":[8]})").dump(), R"({"empty":true})");
}

TEST_F(RpcHostTest, ValuesArriveAsTheirKinds) {
  int64_t b = newBag();
  EXPECT_EQ(typeOf(b, "5"), "Long");
  EXPECT_EQ(typeOf(b, "-2147483648"), "Long");
  EXPECT_EQ(typeOf(b, "2147483648"), "Double");
  EXPECT_EQ(typeOf(b, "-2147483649"), "Double");
  EXPECT_EQ(typeOf(b, "18446744073709551615"), "Double");
  EXPECT_EQ(typeOf(b, "2.0"), "Double");
  EXPECT_EQ(typeOf(b, "5.5"), "Double");
  EXPECT_EQ(typeOf(b, "\"5\""), "String");
  EXPECT_EQ(typeOf(b, "true"), "Boolean");
  EXPECT_EQ(typeOf(b, "null"), "Null");
  EXPECT_EQ(typeOf(b, R"({"empty":true})"), "Empty");
  EXPECT_EQ(typeOf(b, R"({"date":"2024-01-01 00:00:00"})"), "Date");
  EXPECT_EQ(typeOf(b, "[1,2]"), "Array");
  EXPECT_EQ(typeOf(b, R"({"bytes":"AAE="})"), "Byte()");
  EXPECT_EQ(typeOf(b, R"({"object":null})"), "Object");
  EXPECT_EQ(typeOf(b, R"({"object":1})"), "Object");
  EXPECT_EQ(typeOf(b, R"({"missing":true})"), "Missing");
  EXPECT_EQ(typeOf(b, ""), "Missing");
}

TEST_F(RpcHostTest, ValuesComeBackAsTheyWent) {
  int64_t b = newBag();
  for (const char* v : {R"({"empty":true})", "null", "true", "0", "-17", "2147483648.0", "0.25", R"("组织 'x' \"y\"")",
                        R"("")", R"({"date":"2000-02-29 12:34:56"})", R"([1,"二",[null,{"empty":true}],[]])",
                        R"({"bytes":"3q2+7w=="})", R"({"object":null})"})
    EXPECT_EQ(echo(b, v), v);
}

TEST_F(RpcHostTest, EveryObjectAnsweredGetsANewHandle) {
  int64_t b = newBag();
  Json first = result(R"({"id":1,"object":1,"call":"Me"})");
  Json second = result(R"({"id":2,"object":1,"call":"Me"})");
  EXPECT_EQ(first.dump(), R"({"object":2,"class":"cBag"})");
  EXPECT_EQ(second.dump(), R"({"object":3,"class":"cBag"})");
  // All three handles reach the same object.
  result(R"({"id":3,"object":2,"put":"Name","value":"x"})");
  EXPECT_EQ(result(R"({"id":4,"object":3,"get":"Name"})"), "x");
  EXPECT_EQ(result(R"({"id":5,"object":)" + std::to_string(b) + R"(,"get":"Name"})"), "x");
  // An object passed in comes back under a handle of its own too.
  EXPECT_EQ(echo(b, R"({"object":2})"), R"({"object":4,"class":"cBag"})");
  // What an answer gave may be passed back as it stands.
  EXPECT_EQ(echo(b, R"({"object":2,"class":"cBag"})"), R"({"object":5,"class":"cBag"})");
  EXPECT_EQ(result(R"({"id":6,"object":1,"call":"Nothing"})").dump(), R"({"object":null})");
  EXPECT_EQ(liveBags, 1);
}

TEST_F(RpcHostTest, ReferenceArgumentsAreWrittenBack) {
  newBag();
  EXPECT_EQ(host.handle(R"({"id":1,"object":1,"call":"Swap","args":[{"ref":"a"},{"ref":2}]})"),
            R"({"id":1,"result":{"empty":true},"refs":{"0":2,"1":"a"}})");
  // Only the positions passed by reference are reported.
  EXPECT_EQ(host.handle(R"({"id":2,"object":1,"call":"Swap","args":["a",{"ref":2}]})"),
            R"({"id":2,"result":{"empty":true},"refs":{"1":"a"}})");
  // The written-back value has the parameter's kind.
  EXPECT_EQ(host.handle(R"({"id":3,"object":1,"call":"Bump","args":[{"ref":"41"}]})"),
            R"({"id":3,"result":42,"refs":{"0":42}})");
  // No refs member without by-reference arguments.
  EXPECT_EQ(host.handle(R"({"id":4,"object":1,"call":"Bump","args":["41"]})"), R"({"id":4,"result":42})");
}

TEST_F(RpcHostTest, OptionalArgumentsMayBeOmitted) {
  newBag();
  EXPECT_EQ(result(R"({"id":1,"object":1,"call":"Add","args":[1,2]})"), 3);
  EXPECT_EQ(result(R"({"id":1,"object":1,"call":"Add","args":[1,{"missing":true}]})"), 101);
  EXPECT_EQ(result(R"({"id":1,"object":1,"call":"Add","args":[1]})"), 101);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Add","args":[{"missing":true},1]})"),
            static_cast<int32_t>(0x8002000F));
}

TEST_F(RpcHostTest, CallErrorsReachTheClientIntact) {
  newBag();
  EXPECT_EQ(host.handle(R"({"id":9,"object":1,"call":"Fail"})"),
            R"({"id":9,"error":{"number":-2147221503,"source":"cBag.Fail","description":"连接数据库出错！"}})");
  EXPECT_EQ(host.handle(R"({"id":10,"object":1,"call":"Throw"})"),
            R"({"id":10,"error":{"number":-2147467259,"source":"tivel","description":"plain failure"}})");
  EXPECT_EQ(errorNumber(R"({"id":1,"new":"TivelTest.NoSuchClass"})"), com::kInvalidClassString);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"NoSuchMember"})"), com::kUnknownName);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"get":"NoSuchProperty"})"), com::kUnknownName);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Add","args":[1,2,3]})"), com::kBadParamCount);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Add","args":["x"]})"), com::kTypeMismatchArg);
}

TEST_F(RpcHostTest, BadLinesGetErrorsAndTheHostGoesOn) {
  newBag();
  Json a = ask(R"({"id":1,"new":)");
  EXPECT_TRUE(a["id"].is_null());
  EXPECT_EQ(a["error"]["number"], kBadRequest);
  EXPECT_EQ(a["error"]["source"], "tivel");
  EXPECT_NE(a["error"]["description"].get<std::string>().find("Malformed"), std::string::npos);
  EXPECT_EQ(errorNumber("not json at all"), kBadRequest);
  EXPECT_EQ(errorNumber("[1,2]"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"new":"TivelTest.Bag","members":"TivelTest.Bag"})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"new":""})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"new":5})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Add","arg":[1]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Add","args":1})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":"1","call":"Add","args":[1]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"call":"Add","args":[1]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"put":"Name"})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"put":"Name","value":{"ref":1}})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Echo","args":[{"date":"2024-13-01"}]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":99,"call":"Echo","args":[1]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Echo","args":[{"object":99}]})"), kBadRequest);
  // Nesting without bound is refused before it is read; brackets in texts do not count.
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Echo","args":[)" + std::string(100000, '[') + "]}"), kBadRequest);
  EXPECT_EQ(echo(1, "\"" + std::string(100, '[') + "\\\"{\""), "\"" + std::string(100, '[') + "\\\"{\"");
  // Numbers beyond the range of a double, wherever they stand.
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Echo","args":[1e999]})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":-1e999,"new":"TivelTest.Bag"})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":1,"object":1,"call":"Echo","args":[)" + std::string(400, '7') + "]}"), kBadRequest);
  // The id comes back even when the request is refused.
  EXPECT_EQ(ask(R"({"id":[7],"object":99,"get":"Name"})")["id"], Json::parse("[7]"));
  // Blank lines get no answer at all.
  EXPECT_EQ(host.handle(""), "");
  EXPECT_EQ(host.handle("  \t\r"), "");
  // After all that the host still answers, and the bag is untouched.
  EXPECT_EQ(result(R"({"id":2,"object":1,"call":"Add","args":[2]})"), 102);
  EXPECT_TRUE(result(R"({"id":3,"object":1,"get":"Name"})").contains("empty"));
}

TEST_F(RpcHostTest, ReleaseDropsTheObject) {
  newBag();
  result(R"({"id":1,"object":1,"call":"Me"})");
  EXPECT_EQ(host.handles().size(), 2u);
  EXPECT_EQ(host.handle(R"({"id":2,"release":1})"), R"({"id":2,"result":{"empty":true}})");
  EXPECT_EQ(liveBags, 1);  // handle 2 still holds it
  result(R"({"id":3,"release":2})");
  EXPECT_EQ(liveBags, 0);
  EXPECT_EQ(errorNumber(R"({"id":4,"release":2})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":5,"object":1,"get":"Name"})"), kBadRequest);
  // Handles are never reused.
  EXPECT_EQ(newBag(), 3);
}

TEST_F(RpcHostTest, MembersListsTheDispatchOrder) {
  EXPECT_EQ(host.handle(R"({"id":1,"members":"TivelTest.Rec"})"), R"({"id":1,"result":["Zeta","Alpha","Mid"]})");
  EXPECT_EQ(result(R"({"id":1,"members":"TivelTest.Bag"})").dump(),
            R"(["Name","Item","Echo","TypeOf","Swap","Bump","Add","Fail","Throw","Me","Nothing"])");
  EXPECT_EQ(result(R"({"id":1,"members":"TivelPublicDB.cUmOrg"})").dump(),
            R"(["Org_No","Name","Disc","Top_Org_No","Priority"])");
  EXPECT_EQ(errorNumber(R"({"id":1,"members":"TivelTest.Nope"})"), com::kInvalidClassString);
  EXPECT_EQ(liveBags, 0);  // listing members makes no object
}

TEST_F(RpcHostTest, DumpShowsRecordsInInterfaceOrder) {
  result(R"({"id":1,"new":"TivelTest.Rec"})");
  result(R"({"id":2,"object":1,"put":"Alpha","value":"甲"})");
  result(R"({"id":3,"object":1,"put":"Zeta","value":1.5})");
  EXPECT_EQ(host.handle(R"({"id":4,"dump":1})"), R"({"id":4,"result":{"Zeta":1.5,"Alpha":"甲","Mid":{"empty":true}}})");

  result(R"({"id":5,"new":"TivelPublicDB.cUmOrg"})");
  result(R"({"id":6,"object":2,"put":"Name","value":"总部"})");
  result(R"({"id":7,"object":2,"put":"Priority","value":null})");
  EXPECT_EQ(
      result(R"({"id":8,"dump":2})").dump(),
      R"({"Org_No":{"empty":true},"Name":"总部","Disc":{"empty":true},"Top_Org_No":{"empty":true},"Priority":null})");
}

TEST_F(RpcHostTest, DumpShowsKeyedListsWithTheirKeys) {
  result(R"({"id":1,"new":"TivelTest.List"})");
  EXPECT_EQ(result(R"({"id":2,"dump":1})").dump(), "[]");
  result(R"({"id":3,"new":"TivelTest.Rec"})");
  result(R"({"id":4,"object":1,"call":"Add","args":[{"object":2},"ORG_1"]})");
  result(R"({"id":5,"object":1,"call":"Add","args":["plain","ORG_0"]})");
  EXPECT_EQ(result(R"({"id":6,"dump":1})").dump(),
            R"([{"key":"ORG_1","item":{"Zeta":{"empty":true},"Alpha":{"empty":true},"Mid":{"empty":true}}},)"
            R"({"key":"ORG_0","item":"plain"}])");
}

TEST_F(RpcHostTest, DumpNestsRecordsAndListsAndStopsAtCycles) {
  // A list holding a record whose property holds a list holding itself.
  result(R"({"id":1,"new":"TivelTest.List"})");
  result(R"({"id":2,"new":"TivelTest.Rec"})");
  result(R"({"id":3,"new":"TivelTest.List"})");
  result(R"({"id":4,"object":1,"call":"Add","args":[{"object":2},"r"]})");
  result(R"({"id":5,"object":2,"put":"Mid","value":{"object":3}})");
  result(R"({"id":6,"object":3,"call":"Add","args":[{"object":3},"self"]})");
  result(R"({"id":7,"object":3,"call":"Add","args":[{"object":2},"back"]})");
  result(R"({"id":8,"new":"TivelTest.Bag"})");
  result(R"({"id":9,"object":2,"put":"Alpha","value":{"object":4}})");
  Json d = result(R"({"id":10,"dump":1})");
  const Json& rec = d[0]["item"];
  EXPECT_EQ(rec["Alpha"]["class"], "cBag");            // no plain form: a handle
  EXPECT_EQ(rec["Mid"][0]["item"]["class"], "cList");  // the list again: a handle
  EXPECT_EQ(rec["Mid"][1]["item"]["class"], "cRec");   // the record again: a handle
}

TEST_F(RpcHostTest, FromNamesTheObjectAnEarlierRequestAnswered) {
  result(R"({"id":"rec","new":"TivelTest.Rec"})");
  result(R"({"id":"list","new":"TivelTest.List"})");
  result(R"({"id":1,"object":{"from":"rec"},"put":"Alpha","value":"甲"})");
  result(R"({"id":2,"object":{"from":"list"},"call":"Add","args":[{"object":{"from":"rec"}},"k"]})");
  EXPECT_EQ(result(R"({"id":3,"dump":{"from":"list"}})")[0]["item"]["Alpha"], "甲");
  // The latest answer to an id counts; one that was no object (or failed) names nothing.
  result(R"({"id":"rec","object":{"from":"rec"},"get":"Alpha"})");
  EXPECT_EQ(errorNumber(R"({"id":4,"dump":{"from":"rec"}})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":5,"dump":{"from":"nobody"}})"), kBadRequest);
  EXPECT_EQ(errorNumber(R"({"id":6,"dump":{"from":"list","x":1}})"), kBadRequest);
  result(R"({"id":7,"release":{"from":"list"}})");
  EXPECT_EQ(errorNumber(R"({"id":8,"dump":{"from":"list"}})"), kBadRequest);  // released
  // In a value's place {"from":ID} is what ID answered, a value as well as an object.
  result(R"({"id":"copy","new":"TivelTest.Rec"})");
  result(R"({"id":9,"object":{"from":"copy"},"put":"Mid","value":{"from":"rec"}})");
  EXPECT_EQ(result(R"({"id":10,"object":{"from":"copy"},"get":"Mid"})"), "甲");
  result(R"({"id":11,"object":{"from":"copy"},"put":"Alpha","value":{"from":"copy"}})");
  EXPECT_EQ(result(R"({"id":12,"object":{"from":"copy"},"get":"Alpha"})")["class"], "cRec");
  EXPECT_EQ(errorNumber(R"({"id":13,"object":{"from":"copy"},"put":"Mid","value":{"from":4}})"), kBadRequest);
}

TEST_F(RpcHostTest, DumpRefusesObjectsWithoutAPlainForm) {
  newBag();
  Json a = ask(R"({"id":1,"dump":1})");
  EXPECT_EQ(a["error"]["number"], kBadRequest);
  EXPECT_NE(a["error"]["description"].get<std::string>().find("cBag"), std::string::npos);
  EXPECT_EQ(errorNumber(R"({"id":1,"dump":42})"), kBadRequest);
}

TEST(RpcServeTest, AnswersEveryLineInOrder) {
  std::istringstream in(R"({"id":1,"new":"TivelTest.Rec"}

{"id":2,"object":1,"put":"Mid","value":"中"}
oops
{"id":3,"object":1,"get":"Mid"}
)");
  std::ostringstream out;
  {
    RpcHost host;
    host.serve(in, out);
  }
  std::istringstream lines(out.str());
  std::vector<Json> answers;
  for (std::string line; std::getline(lines, line);) answers.push_back(Json::parse(line));
  ASSERT_EQ(answers.size(), 4u) << out.str();
  EXPECT_EQ(out.str().back(), '\n');
  EXPECT_EQ(answers[0].dump(), R"({"id":1,"result":{"object":1,"class":"cRec"}})");
  EXPECT_EQ(answers[1].dump(), R"({"id":2,"result":{"empty":true}})");
  EXPECT_TRUE(answers[2]["id"].is_null());
  EXPECT_EQ(answers[2]["error"]["number"], kBadRequest);
  EXPECT_EQ(answers[3].dump(), R"({"id":3,"result":"中"})");
}

TEST(RpcServeTest, TheHostReleasesWhatItHoldsWhenItEnds) {
  std::istringstream in("{\"id\":1,\"new\":\"TivelTest.Bag\"}\n{\"id\":2,\"new\":\"TivelTest.Bag\"}");
  std::ostringstream out;
  {
    RpcHost host;
    host.serve(in, out);
    EXPECT_EQ(liveBags, 2);
  }
  EXPECT_EQ(liveBags, 0);
}

TEST(RpcServeTest, NothingASessionMadeOutlivesIt) {
  std::vector<std::weak_ptr<com::Object>> made;
  {
    RpcHost host;
    auto handleOf = [&](const std::string& line) {
      Json a = Json::parse(host.handle(line));
      EXPECT_TRUE(a.contains("result")) << line << " -> " << a.dump();
      int64_t h = a["result"]["object"].get<int64_t>();
      made.push_back(host.handles().find(h));
      return std::to_string(h);
    };
    // A record holding itself, and a list added to itself.
    std::string usr = handleOf(R"({"id":1,"new":"TivelPublicDB.cUmUsr"})");
    host.handle(R"({"id":2,"object":)" + usr + R"(,"put":"Phone","value":{"object":)" + usr + "}}");
    std::string list;
    {
      com::ObjectArena::Scope call(host.arena());  // made as a call of the session would make it
      int64_t h = host.handles().add(mgt::newCollection());
      made.push_back(host.handles().find(h));
      list = std::to_string(h);
    }
    host.handle(R"({"id":4,"object":)" + list + R"(,"call":"Add","args":[{"object":)" + list + R"(},"me"]})");
    EXPECT_EQ(Json::parse(host.handle(R"({"id":5,"object":)" + list + R"(,"get":"Count"})"))["result"], 1);
    host.handle(R"({"id":6,"release":)" + usr + "}");
    host.handle(R"({"id":7,"release":)" + list + "}");
    for (const auto& w : made) EXPECT_FALSE(w.expired());  // only the session's end frees a cycle
    // A long chain of records, each holding the previous one, goes at once
    // when the client releases its last link.
    std::string prev = handleOf(R"({"id":8,"new":"TivelPublicDB.cUmUsr"})");
    for (int i = 0; i < 100'000; ++i) {
      std::string next = std::to_string(host.handles().add(records::newRecord("cUmUsr")));
      host.handle(R"({"id":9,"object":)" + next + R"(,"put":"Name","value":{"object":)" + prev + "}}");
      host.handle(R"({"id":10,"release":)" + prev + "}");
      prev = next;
    }
    EXPECT_EQ(Json::parse(host.handle(R"({"id":11,"release":)" + prev + "}"))["result"],
              Json::parse(R"({"empty":true})"));
    EXPECT_EQ(host.handles().size(), 0u);
  }
  for (const auto& w : made) EXPECT_TRUE(w.expired());
}

}  // namespace
}  // namespace tivel::tool
