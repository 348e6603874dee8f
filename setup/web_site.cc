// The web site's root with its virtual directories, and the FTP site's root.
#include <algorithm>

#include "platform/com/error.h"
#include "setup/directory_objects.h"
#include "setup/service_errors.h"

namespace tivel::setup {
namespace {

constexpr const char* kWebRootPath = "IIS://LocalHost/W3SVC/1/Root";
constexpr const char* kFtpRootPath = "IIS://LocalHost/MSFTPSVC/1/Root";
constexpr const char* kVirtualDirClass = "IIsWebVirtualDir";

void checkClass(std::string_view cls, const std::string& path) {
  if (!sameName(std::string(cls), kVirtualDirClass))
    com::raise(kInvalidArg, path, "The web site holds no objects of class " + std::string(cls));
}

// A virtual directory name is one path segment.
void checkName(std::string_view name, const std::string& path) {
  if (name.empty() || name.find_first_of("/\\") != std::string_view::npos || name == "." || name == "..")
    com::raise(kBadPathname, path, "An invalid virtual directory name: " + std::string(name));
}

// A virtual directory made by Create: nothing is written before its first
// SetInfo, which adds it; later ones change it.
class VirtualDirectoryObject : public DirectoryObject {
 public:
  explicit VirtualDirectoryObject(std::string name)
      : DirectoryObject(std::string(kWebRootPath) + "/" + name, {{"Path", com::VarType::String},
                                                                 {"AccessRead", com::VarType::Boolean},
                                                                 {"AccessWrite", com::VarType::Boolean},
                                                                 {"AccessExecute", com::VarType::Boolean}}),
        name_(std::move(name)) {}

  void AppCreate(bool inProcess) override { application_ = inProcess ? "in-process" : "pooled"; }

  void SetInfo() override {
    store().update([this](ServiceState& s) {
      auto& dirs = s.virtualDirectories;
      auto it =
          std::find_if(dirs.begin(), dirs.end(), [this](const VirtualDirectory& d) { return sameName(d.name, name_); });
      if (!saved_) {
        if (it != dirs.end()) com::raise(kAlreadyExists, path(), "The virtual directory " + name_ + " exists already");
        dirs.push_back(VirtualDirectory{name_, "", "", true, false, false});
        it = dirs.end() - 1;
      } else if (it == dirs.end()) {
        com::raise(kNotFound, path(), "The virtual directory " + name_ + " was deleted");
      }
      if (auto* v = cached("Path")) it->path = v->toString();
      if (auto* v = cached("AccessRead")) it->accessRead = v->toBool();
      if (auto* v = cached("AccessWrite")) it->accessWrite = v->toBool();
      if (auto* v = cached("AccessExecute")) it->accessExecute = v->toBool();
      if (!application_.empty()) it->application = application_;
    });
    saved_ = true;
    clearCache();
    application_.clear();
  }

 private:
  std::string name_, application_;
  bool saved_ = false;
};

class WebRoot : public DirectoryObject {
 public:
  WebRoot() : DirectoryObject(kWebRootPath, {}) { store().read(); }

  // Nothing of the root's own is kept, so there is nothing to write.
  void SetInfo() override {}

  DirectoryPtr Create(std::string_view cls, std::string_view name) override {
    checkClass(cls, path());
    checkName(name, path());
    return std::make_shared<VirtualDirectoryObject>(std::string(name));
  }

  void Delete(std::string_view cls, std::string_view name) override {
    checkClass(cls, path());
    std::string wanted(name);
    store().update([&](ServiceState& s) {
      auto& dirs = s.virtualDirectories;
      auto it =
          std::find_if(dirs.begin(), dirs.end(), [&](const VirtualDirectory& d) { return sameName(d.name, wanted); });
      if (it == dirs.end()) com::raise(kNotFound, path(), "The web site has no virtual directory " + wanted);
      dirs.erase(it);
    });
  }
};

class FtpRootObject : public DirectoryObject {
 public:
  FtpRootObject()
      : DirectoryObject(kFtpRootPath, {{"Path", com::VarType::String},
                                       {"AccessRead", com::VarType::Boolean},
                                       {"AccessWrite", com::VarType::Boolean}}) {
    store().read();
  }

  void SetInfo() override {
    store().update([this](ServiceState& s) {
      if (auto* v = cached("Path")) s.ftp.path = v->toString();
      if (auto* v = cached("AccessRead")) s.ftp.accessRead = v->toBool();
      if (auto* v = cached("AccessWrite")) s.ftp.accessWrite = v->toBool();
    });
    clearCache();
  }
};

}  // namespace

DirectoryPtr webRoot() { return std::make_shared<WebRoot>(); }
DirectoryPtr ftpRoot() { return std::make_shared<FtpRootObject>(); }

}  // namespace tivel::setup
