// What the administration stand-ins of a root hold: the web site's virtual
// directories, the FTP root, local accounts and groups, and the component
// packages with their components.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tivel::setup {

// A virtual directory of the web site; `application` is "" (none),
// "in-process" or "pooled".
struct VirtualDirectory {
  std::string name, path, application;
  bool accessRead = true, accessWrite = false, accessExecute = false;
};

// The FTP site's root directory and its access flags.
struct FtpRoot {
  std::string path;
  bool accessRead = true, accessWrite = false;
};

// A local account; the password is kept only as a salted hash.
struct Account {
  std::string name, fullName, description, passwordHash;
};

// A local group and the names of its member accounts.
struct Group {
  std::string name;
  std::vector<std::string> members;
};

// A class a component library registers, and the library's file.
struct Component {
  std::string progId, file;
};

// A component package: its key, name, the identity it runs under (password
// kept only as a salted hash) and its components.
struct Package {
  std::string key, name, identity, passwordHash;
  std::vector<Component> components;
};

struct ServiceState {
  std::vector<VirtualDirectory> virtualDirectories;
  FtpRoot ftp;
  std::vector<Account> accounts;
  std::vector<Group> groups{{"Administrators", {}}};  // the built-in group exists from the start
  std::vector<Package> packages;
};

// The state as the store's JSON document, and back; fromJson fails with a
// std::exception on a document of the wrong shape.
nlohmann::json toJson(const ServiceState& s);
ServiceState fromJson(const nlohmann::json& j);

// Letter-case-blind comparison of names (accounts, groups, directories and
// ProgIDs are names in any case).
bool sameName(const std::string& a, const std::string& b);

}  // namespace tivel::setup
