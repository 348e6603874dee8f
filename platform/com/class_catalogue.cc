#include "platform/com/class_catalogue.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/com/error.h"
#include "platform/com/module_path.h"
#include "platform/com/registry.h"

namespace tivel::com {
namespace {

constexpr int32_t kSystemFileNotFound = static_cast<int32_t>(0x80070002);  // ERROR_FILE_NOT_FOUND
constexpr int32_t kBadFormat = static_cast<int32_t>(0x800700C1);           // ERROR_BAD_EXE_FORMAT

bool sameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// The loaded object (library or program) whose image holds `address`.
const link_map* objectHolding(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return nullptr;
  return map;
}

namespace fs = std::filesystem;

bool isUnder(const fs::path& file, const fs::path& dir) {
  if (dir.empty()) return false;
  auto [d, f] = std::mismatch(dir.begin(), dir.end(), file.begin(), file.end());
  return d == dir.end() && f != file.end();
}

bool writableByOthers(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// Why the real file `path` may not be loaded, or "" when it may.
std::string untrustedBecause(const fs::path& path) {
  static const char anchor = 0;
  std::error_code ec;
  fs::path bin = fs::weakly_canonical(componentDirectory(&anchor), ec);
  Dl_info self{};
  fs::path own =
      dladdr(&anchor, &self) && self.dli_fname ? fs::weakly_canonical(self.dli_fname, ec).parent_path() : fs::path();
  if (!isUnder(path, bin) && !isUnder(path, own))
    return "it lies outside the root's bin directory (" + bin.string() + ") and the system's library directory (" +
           own.string() + ")";
  struct stat file = {}, dir = {}, root = {};
  if (::stat(path.c_str(), &file) != 0 || ::stat(path.parent_path().c_str(), &dir) != 0)
    return "its owner and mode cannot be read";
  if (::stat(bin.parent_path().c_str(), &root) != 0) root.st_uid = 0;
  if (file.st_uid != 0 && file.st_uid != root.st_uid) return "it belongs neither to root nor to the root's owner";
  if (writableByOthers(file) || writableByOthers(dir)) return "it or its directory is writable by group or others";
  return "";
}

}  // namespace

std::string catalogueFile() {
  static const char anchor = 0;
  // Lexically, so that a root without bin/ still finds its db/.
  return std::filesystem::path(componentDirectory(&anchor) + "/../db/setup.json").lexically_normal().string();
}

std::string catalogueLibrary(std::string_view progid) {
  // The file is replaced whole by a rename, so a reader sees one version.
  std::ifstream in(catalogueFile(), std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (!doc.is_object() || !doc.contains("packages") || !doc["packages"].is_array()) return "";
  for (const auto& package : doc["packages"]) {
    if (!package.is_object() || !package.contains("components") || !package["components"].is_array()) continue;
    for (const auto& c : package["components"]) {
      if (!c.is_object() || !c.contains("progId") || !c.contains("file")) continue;
      if (!c["progId"].is_string() || !c["file"].is_string()) continue;
      if (sameText(c["progId"].get_ref<const std::string&>(), progid)) return c["file"].get<std::string>();
    }
  }
  return "";
}

std::vector<std::string> loadComponentLibrary(const std::string& file) {
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec))
    raise(kSystemFileNotFound, "loadComponentLibrary", "The file " + file + " does not exist");
  // The real file, so that a link cannot lead out of the allowed places, and
  // a path with a slash, so that dlopen takes this file and does not search.
  std::string path = std::filesystem::canonical(file, ec).string();
  if (ec) raise(kSystemFileNotFound, "loadComponentLibrary", "The file " + file + " cannot be resolved");
  if (std::string why = untrustedBecause(path); !why.empty())
    raise(kAccessDenied, "loadComponentLibrary", "The library " + file + " is not loaded: " + why + ".");
  // Never closed: the classes it registers point into it.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle) {
    const char* why = dlerror();
    raise(kBadFormat, "loadComponentLibrary",
          "Cannot load " + file + " as a library: " + (why ? why : "unknown reason"));
  }
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
    raise(kBadFormat, "loadComponentLibrary", "Cannot inspect the library " + file);
  // A library loaded before (linked, or loaded earlier) registers nothing
  // anew, so its classes are found by the code that registered them.
  std::vector<std::string> found;
  for (const std::string& progid : registeredClasses()) {
    const void* origin = registrationOrigin(progid);
    if (origin && objectHolding(origin) == map) found.push_back(progid);
  }
  return found;
}

bool loadCatalogueClass(std::string_view progid) {
  std::string file = catalogueLibrary(progid);
  if (file.empty()) return false;
  loadComponentLibrary(file);
  return true;
}

}  // namespace tivel::com
