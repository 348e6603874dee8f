#include "setup/reg_class.h"

#include <algorithm>
#include <cctype>

#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "setup/computer_name.h"
#include "setup/ini_file.h"

namespace tivel::setup {
namespace {

constexpr com::VarType kStr = com::VarType::String;

std::string lowered(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Package names match without regard to case on both sides (the stored name
// is also trimmed), so a setup program's "Tivel" finds the package "tivel".
bool packageNamed(const CatalogObject& package, const std::string& name) {
  return lowered(trimmed(package.Value("Name").toString())) == lowered(name);
}

std::string text(const com::Args& a, size_t i) { return a[i].toString(); }

const com::ClassInfo& info() {
  static const com::ClassInfo c = [] {
    using com::in;
    using R = RegClass;
    com::ClassInfo c("Tivel.RegClass", "RegClass");
    c.method("ShowIsRun", {}, com::bind<R>([](R& self, com::Args&) {
               self.ShowIsRun();
               return com::Variant();
             }));
    c.method("regWWW", {in("strWWWName", kStr), in("strWWWPath", kStr)},
             com::bind<R>([](R& self, com::Args& a) { return com::Variant(self.regWWW(text(a, 0), text(a, 1))); }));
    c.method("regFTP", {in("strFTPName", kStr), in("strFTPPath", kStr)},
             com::bind<R>([](R& self, com::Args& a) { return com::Variant(self.regFTP(text(a, 0), text(a, 1))); }));
    c.method("regAddUser", {in("strUserName", kStr), in("strUserPs", kStr)},
             com::bind<R>([](R& self, com::Args& a) { return com::Variant(self.regAddUser(text(a, 0), text(a, 1))); }));
    c.method("regComPack", {in("strComPackName", kStr), in("strUserName", kStr), in("strUserPs", kStr)},
             com::bind<R>([](R& self, com::Args& a) {
               return com::Variant(self.regComPack(text(a, 0), text(a, 1), text(a, 2)));
             }));
    c.method("regComDLL", {in("strComPackName", kStr), in("strDLLFileName", kStr)},
             com::bind<R>([](R& self, com::Args& a) { return com::Variant(self.regComDLL(text(a, 0), text(a, 1))); }));
    c.method("writeIniFile", {in("INIFile", kStr), in("strSection", kStr), in("strKey", kStr), in("Value", kStr)},
             com::bind<R>([](R& self, com::Args& a) {
               return com::Variant(self.writeIniFile(text(a, 0), text(a, 1), text(a, 2), text(a, 3)));
             }));
    c.method("ReadIniFile", {in("INIFile", kStr), in("strSection", kStr), in("strKey", kStr)},
             com::bind<R>([](R& self, com::Args& a) {
               return com::Variant(self.ReadIniFile(text(a, 0), text(a, 1), text(a, 2)));
             }));
    return c;
  }();
  return c;
}

const com::Registrar registrar(info(), [] { return std::make_shared<RegClass>(); });

}  // namespace

const com::ClassInfo& RegClass::classInfo() const { return info(); }

template <class Task>
int16_t RegClass::trapped(Task&& task) {
  int16_t result = -1;
  try {
    task();
    result = 0;
  } catch (...) {
  }
  release();
  return result;
}

void RegClass::release() {
  root_.reset();
  dir_.reset();
  computer_.reset();
  user_.reset();
  group_.reset();
  catalog_.reset();
  packages_.reset();
  components_.reset();
  package_.reset();
  util_.reset();
}

void RegClass::ShowIsRun() {}

int16_t RegClass::regWWW(const std::string& strWWWName, const std::string& strWWWPath) {
  // Not trapped: a web site that cannot be reached fails the call.
  root_ = bindPath("IIS://LocalHost/W3SVC/1/Root");
  // A directory that does not exist yet is no failure.
  try {
    root_->Delete("IIsWebVirtualDir", strWWWName);
  } catch (...) {
  }
  try {
    root_->SetInfo();
  } catch (...) {
  }
  return trapped([&] {
    root_ = bindPath("IIS://LocalHost/W3SVC/1/Root");
    dir_ = root_->Create("IIsWebVirtualDir", strWWWName);
    dir_->Put("Path", strWWWPath);
    dir_->AppCreate(true);
    dir_->Put("AccessExecute", true);
    dir_->SetInfo();
    root_->SetInfo();
  });
}

int16_t RegClass::regFTP(const std::string& strFTPName, const std::string& strFTPPath) {
  return trapped([&] {
    root_ = bindPath("IIS://LocalHost/MSFTPSVC/1/Root");
    root_->Put("Path", strFTPPath);
    root_->Put("accesswrite", true);
    root_->Put("AccessRead", true);
    root_->SetInfo();
  });
}

int16_t RegClass::regAddUser(const std::string& strUserName, const std::string& strUserPs) {
  return trapped([&] {
    std::string computerName(255, '\0');
    uint32_t size = 255;
    GetComputerNameA(computerName.data(), &size);
    computerName.erase(std::remove(computerName.begin(), computerName.end(), '\0'), computerName.end());
    computerName = trimmed(computerName);

    computer_ = bindPath("WinNT://" + computerName);
    user_ = computer_->Create("user", strUserName);
    user_->SetPassword(strUserPs);
    user_->Put("FullName", "信息发布用户");
    user_->Put("Description", "VERDAL 应用程序添加");
    user_->SetInfo();

    group_ = bindPath("WinNT://" + computerName + "/Administrators");
    group_->Add("WinNT://" + computerName + "/" + strUserName);
  });
}

int16_t RegClass::regComPack(const std::string& strComPackName, const std::string& strUserName,
                             const std::string& strUserPs) {
  return trapped([&] {
    catalog_ = std::make_shared<Catalog>();
    packages_ = catalog_->GetCollection("Packages");
    packages_->Populate();
    for (int32_t i = packages_->Count() - 1; i >= 0; --i)
      if (packageNamed(*packages_->Item(i), strComPackName)) packages_->Remove(i);
    packages_->SaveChanges();

    package_ = packages_->Add();
    com::Variant key = package_->Key();  // kept, not used further
    package_->setValue("Name", strComPackName);
    package_->setValue("Identity", strUserName);
    package_->setValue("Password", strUserPs);
    packages_->SaveChanges();
  });
}

int16_t RegClass::regComDLL(const std::string& strComPackName, const std::string& strDLLFileName) {
  return trapped([&] {
    catalog_ = std::make_shared<Catalog>();
    packages_ = catalog_->GetCollection("Packages");
    packages_->Populate();
    // Met last, the matching package with the lowest index is the one used.
    com::Variant key;
    for (int32_t i = packages_->Count() - 1; i >= 0; --i)
      if (packageNamed(*packages_->Item(i), strComPackName)) key = packages_->Item(i)->Key();

    components_ = packages_->GetCollection("ComponentsInPackage", key);
    util_ = components_->GetUtilInterface();
    util_->InstallComponent(strDLLFileName, "", "");
  });
}

int32_t RegClass::writeIniFile(const std::string& INIFile, const std::string& strSection, const std::string& strKey,
                               const std::string& Value) {
  std::string path = iniFilePath(INIFile);
  if (path.empty() || refusedIniWrite(strSection, strKey, Value)) return 0;
  return profile::writePrivateProfileString(strSection, strKey, Value, path) ? 1 : 0;
}

std::string RegClass::ReadIniFile(const std::string& INIFile, const std::string& strSection,
                                  const std::string& strKey) {
  std::string path = iniFilePath(INIFile);
  if (path.empty()) return "";
  std::string buffer(255, ' ');
  long n = profile::getPrivateProfileString(strSection, strKey, "", buffer.data(), 255, path);
  if (n < 1) return "";
  buffer.resize(buffer.find('\0'));
  return buffer.substr(0, buffer.find_last_not_of(' ') + 1);
}

}  // namespace tivel::setup
