#include "fee/interface.h"

#include "fee/module.h"
#include "fee/statements.h"
#include "platform/com/registry.h"

namespace tivel::gf {
namespace {

using com::VarType;

const com::ClassInfo& interfaceClass() {
  static const com::ClassInfo info = [] {
    using com::in;
    using com::ref;
    com::ClassInfo c("TivelGF.interface", "interface");
    c.method("f_GetRecordset", {ref("pErr"), in("pSessionId"), in("pSQL")},
             com::bind<Interface>([](Interface& self, com::Args& a) { return self.f_GetRecordset(a[0], a[1], a[2]); }));
    c.method("f_SetRs", {ref("pErr", VarType::String), in("msessionid", VarType::String), in("pVar")},
             com::bind<Interface>([](Interface& self, com::Args& a) {
               std::string err = a[0].toString();
               bool ok = self.f_SetRs(err, a[1].toString(), a[2]);
               a[0] = com::Variant(err);
               return com::Variant(ok);
             }));
    c.method("GetUserMenu", {in("pUserId", VarType::String), in("pJH", VarType::String), ref("pErr")},
             com::bind<Interface>([](Interface& self, com::Args& a) {
               return self.GetUserMenu(a[0].toString(), a[1].toString(), a[2]);
             }));
    c.method("Save_Script",
             {ref("pErr", VarType::String), in("pYear", VarType::Long), in("pMonth", VarType::Integer),
              in("pJH", VarType::String), in("pScript", VarType::Object), in("pDtl", VarType::Object),
              in("pFile", VarType::Object)},
             com::bind<Interface>([](Interface& self, com::Args& a) {
               std::string err = a[0].toString();
               bool ok = self.Save_Script(err, a[1].toLong(), a[2].toInteger(), a[3].toString(), recordsetArg(a[4]),
                                          recordsetArg(a[5]), recordsetArg(a[6]));
               a[0] = com::Variant(err);
               return com::Variant(ok);
             }));
    c.method("Delete_Script", {ref("pErr", VarType::String), in("pID", VarType::String), in("pJH", VarType::String)},
             com::bind<Interface>([](Interface& self, com::Args& a) {
               std::string err = a[0].toString();
               bool ok = self.Delete_Script(err, a[1].toString(), a[2].toString());
               a[0] = com::Variant(err);
               return com::Variant(ok);
             }));
    return c;
  }();
  return info;
}

// Creating the class runs the thread's start-up first, so a thread whose
// first creation cannot connect sees that creation fail.
const com::Registrar registrar(interfaceClass(), [] {
  startUp();
  return std::make_shared<Interface>();
});

}  // namespace

const com::ClassInfo& Interface::classInfo() const { return interfaceClass(); }

}  // namespace tivel::gf
