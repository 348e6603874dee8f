#include "mgt/init/root_access.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/com/error.h"
#include "platform/files/private_files.h"

namespace tivel::mgt {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what) {
  com::raise(com::kInvalidArgument, "tivel init", what + ": " + std::strerror(errno));
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string normal(const std::string& path) { return fs::absolute(path).lexically_normal().string(); }

// Gives `path` the mode and, when `group` is not -1, the group.
void change(const std::string& path, mode_t mode, gid_t group) {
  if (group != static_cast<gid_t>(-1) && ::lchown(path.c_str(), static_cast<uid_t>(-1), group) != 0)
    fail("cannot give " + path + " to its directory's group");
  if (::chmod(path.c_str(), mode) != 0) fail("cannot change the mode of " + path);
}

}  // namespace

std::string shareDirectory(const std::string& dir, const std::string& group) {
  std::vector<char> buf(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrnam_r(group.c_str(), &entry, buf.data(), buf.size(), &found) != 0 || !found)
    com::raise(com::kInvalidArgument, "tivel init", "there is no group named " + group);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) fail("cannot read the mode of " + dir);
  if (st.st_gid == found->gr_gid && (st.st_mode & 07777) == 02750) return "";
  if (::chown(dir.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0)
    fail("cannot give " + dir + " to group " + group + " (a user may give files only to a group it is a member of)");
  if (::chmod(dir.c_str(), 02750) != 0) fail("cannot change the mode of " + dir);
  return dir + " " + octal(st.st_mode) + " -> 2750, group " + group;
}

std::vector<std::string> secureRootData(const std::string& root, bool grantGroup,
                                        const std::vector<std::string>& ownerOnly) {
  std::vector<std::string> changes;
  std::vector<std::string> alone;
  for (const std::string& path : ownerOnly) alone.push_back(normal(path));
  for (const char* name : {"ini", "log", "db"}) {
    const std::string dir = normal(root + "/" + name);
    struct stat top {};
    if (::stat(dir.c_str(), &top) != 0 || !S_ISDIR(top.st_mode)) continue;
    const bool shared = files::sharedWithGroup(dir);
    const mode_t dirCeiling = shared ? 02750 : 0700;
    // In a shared directory everything is the directory's group's; else the group is left as it is.
    const gid_t group = shared ? top.st_gid : static_cast<gid_t>(-1);
    auto bring = [&](const std::string& path, const struct stat& st) {
      mode_t want = 0;
      if (S_ISDIR(st.st_mode)) {
        want = grantGroup && shared ? dirCeiling : st.st_mode & dirCeiling;
      } else {
        const bool ownerAlone = !shared || std::find(alone.begin(), alone.end(), path) != alone.end();
        want = st.st_mode & (ownerAlone ? 0600 : 0640);
        if (grantGroup && !ownerAlone && (st.st_mode & S_IRUSR)) want |= S_IRGRP;
      }
      const bool regroup = group != static_cast<gid_t>(-1) && st.st_gid != group;
      if (want == (st.st_mode & 07777) && !regroup) return;
      change(path, want, regroup ? group : static_cast<gid_t>(-1));
      changes.push_back(path + " " + octal(st.st_mode) + " -> " + octal(want) +
                        (regroup ? ", its directory's group" : ""));
    };
    bring(dir, top);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string path = it->path().string();
      struct stat st {};
      // Links are never followed: what they lead to is not the root's.
      if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
      bring(path, st);
    }
    if (ec) com::raise(com::kInvalidArgument, "tivel init", "cannot go through " + dir + ": " + ec.message());
  }
  return changes;
}

}  // namespace tivel::mgt
