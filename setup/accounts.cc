// The local computer's accounts and groups.
#include <algorithm>

#include "platform/com/error.h"
#include "setup/directory_objects.h"
#include "setup/password_hash.h"
#include "setup/service_errors.h"

namespace tivel::setup {
namespace {

constexpr const char* kProvider = "WinNT://";

// Account names follow the platform's rule: not empty, none of "/\[]:;|=,+*?<>@.
void checkAccountName(std::string_view name, const std::string& path) {
  if (name.empty() || name.size() > 20 || name.find_first_of("\"/\\[]:;|=,+*?<>@") != std::string_view::npos)
    com::raise(kBadPathname, path, "An invalid account name: " + std::string(name));
}

template <class List>
auto findNamed(List& list, const std::string& name) {
  return std::find_if(list.begin(), list.end(), [&](const auto& x) { return sameName(x.name, name); });
}

// An account made by Create: its first SetInfo adds it (an account of that
// name must not exist); the password is hashed when it is set.
class UserObject : public DirectoryObject {
 public:
  UserObject(const std::string& computer, std::string name)
      : DirectoryObject(kProvider + computer + "/" + name,
                        {{"FullName", com::VarType::String}, {"Description", com::VarType::String}}),
        name_(std::move(name)) {}

  void SetPassword(std::string_view password) override {
    std::string hash = hashPassword(password);
    if (!saved_) {
      passwordHash_ = std::move(hash);
      return;
    }
    store().update([&](ServiceState& s) { existing(s).passwordHash = hash; });
  }

  void SetInfo() override {
    store().update([this](ServiceState& s) {
      Account* a;
      if (!saved_) {
        if (findNamed(s.accounts, name_) != s.accounts.end())
          com::raise(kAlreadyExists, path(), "The account " + name_ + " already exists");
        s.accounts.push_back(Account{name_, "", "", passwordHash_});
        a = &s.accounts.back();
      } else {
        a = &existing(s);
      }
      if (auto* v = cached("FullName")) a->fullName = v->toString();
      if (auto* v = cached("Description")) a->description = v->toString();
    });
    saved_ = true;
    passwordHash_.clear();
    clearCache();
  }

 private:
  Account& existing(ServiceState& s) const {
    auto it = findNamed(s.accounts, name_);
    if (it == s.accounts.end()) com::raise(kNotFound, path(), "The account " + name_ + " no longer exists");
    return *it;
  }

  std::string name_, passwordHash_;
  bool saved_ = false;
};

class ComputerObject : public DirectoryObject {
 public:
  explicit ComputerObject(std::string computer)
      : DirectoryObject(kProvider + computer, {}), computer_(std::move(computer)) {
    store().read();
  }

  void SetInfo() override {}

  DirectoryPtr Create(std::string_view cls, std::string_view name) override {
    if (!sameName(std::string(cls), "user"))
      com::raise(kInvalidArg, path(), "The computer holds no objects of class " + std::string(cls));
    checkAccountName(name, path());
    return std::make_shared<UserObject>(computer_, std::string(name));
  }

 private:
  std::string computer_;
};

class GroupObject : public DirectoryObject {
 public:
  GroupObject(const std::string& computer, std::string group)
      : DirectoryObject(kProvider + computer + "/" + group, {}), computer_(computer), group_(std::move(group)) {
    ServiceState s = store().read();
    if (findNamed(s.groups, group_) == s.groups.end())
      com::raise(kBadPathname, path(), "The computer has no group " + group_);
  }

  void SetInfo() override {}

  // Takes effect at once, as group membership does.
  void Add(std::string_view memberPath) override {
    std::string prefix = kProvider + computer_ + "/";
    std::string member(memberPath);
    if (member.size() <= prefix.size() || !sameName(member.substr(0, prefix.size()), prefix))
      com::raise(kBadPathname, path(), "Not an account of this computer: " + member);
    std::string account = member.substr(prefix.size());
    store().update([&](ServiceState& s) {
      auto a = findNamed(s.accounts, account);
      if (a == s.accounts.end()) com::raise(kNotFound, path(), "The computer has no account " + account);
      auto g = findNamed(s.groups, group_);
      if (g == s.groups.end()) com::raise(kNotFound, path(), "The computer has no group " + group_);
      for (const std::string& m : g->members)
        if (sameName(m, a->name)) com::raise(kMemberInGroup, path(), a->name + " is already a member of " + g->name);
      g->members.push_back(a->name);
    });
  }

 private:
  std::string computer_, group_;
};

}  // namespace

DirectoryPtr computerObject(const std::string& computer) { return std::make_shared<ComputerObject>(computer); }
DirectoryPtr groupObject(const std::string& computer, const std::string& group) {
  return std::make_shared<GroupObject>(computer, group);
}

}  // namespace tivel::setup
