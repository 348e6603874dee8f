// RegClass (Tivel.RegClass): the tasks a setup program calls to prepare a
// server: a web virtual directory, the FTP root, a local administrator
// account, the component package and its components, and INI values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/object.h"
#include "setup/catalog.h"
#include "setup/directory.h"

namespace tivel::setup {

class RegClass : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // Does nothing (a setup program calls it to see that the class loads).
  void ShowIsRun();
  // Replaces the web site's virtual directory `strWWWName` by one on
  // `strWWWPath`, an in-process application with execute access. 0, or -1 on
  // failure; a web site that cannot be reached at all fails the call.
  int16_t regWWW(const std::string& strWWWName, const std::string& strWWWPath);
  // Points the FTP site's root at `strFTPPath` with read and write access
  // (the name is not used). 0 or -1.
  int16_t regFTP(const std::string& strFTPName, const std::string& strFTPPath);
  // Creates the local account `strUserName` and puts it into Administrators. 0 or -1.
  int16_t regAddUser(const std::string& strUserName, const std::string& strUserPs);
  // Removes every package named `strComPackName` (in any letter case) and
  // adds one of that name running as the given account. 0 or -1.
  int16_t regComPack(const std::string& strComPackName, const std::string& strUserName, const std::string& strUserPs);
  // Installs the classes of the library `strDLLFileName` into the package
  // `strComPackName` (in any letter case). 0, or -1 when no package has that
  // name or the file is missing or no component library.
  int16_t regComDLL(const std::string& strComPackName, const std::string& strDLLFileName);
  // Sets the key in the helper's INI file `INIFile`; non-zero on success, 0
  // on failure, for a file name leaving the ini directory and for a value
  // that would make the root load code or open a file (refusedIniWrite).
  int32_t writeIniFile(const std::string& INIFile, const std::string& strSection, const std::string& strKey,
                       const std::string& Value);
  // The key's value in the helper's INI file without trailing blanks; "" when
  // missing or for a file name leaving the ini directory.
  std::string ReadIniFile(const std::string& INIFile, const std::string& strSection, const std::string& strKey);

 private:
  // Runs a task under the trap: 0 when it completes, -1 when anything in it
  // fails. The references it obtained are released either way.
  template <class Task>
  int16_t trapped(Task&& task);
  void release();

  DirectoryPtr root_, dir_, computer_, user_, group_;
  std::shared_ptr<Catalog> catalog_;
  std::shared_ptr<CatalogCollection> packages_, components_;
  std::shared_ptr<CatalogObject> package_;
  std::shared_ptr<ComponentUtil> util_;
};

}  // namespace tivel::setup
