// A new file or directory is created with a mode that the umask can only
// narrow, then given its exact mode by descriptor (fchmod) or, for a
// directory just made, by chmod: no moment in which others may read it, and
// no umask that widens or spoils it.
#include "platform/files/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace tivel::files {
namespace {

std::string parentOf(const std::string& path) {
  std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

bool writeAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool sharedWithGroup(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISGID) && (st.st_mode & S_IRGRP);
}

mode_t privateFileMode(const std::string& dir) { return sharedWithGroup(dir) ? 0640 : 0600; }

mode_t privateDirectoryMode(const std::string& parent) { return sharedWithGroup(parent) ? 02750 : 0700; }

bool makePrivateDirectories(const std::string& dir) {
  std::filesystem::path target = std::filesystem::path(dir).lexically_normal();
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;  // the usual case: nothing to make
  std::filesystem::path made;
  for (const auto& part : target) {
    made /= part;
    if (part.empty() || part == "/" || part == "." || part == "..") continue;
    const std::string path = made.string();
    const mode_t mode = privateDirectoryMode(parentOf(path));
    if (::mkdir(path.c_str(), mode & 0777) == 0) {
      // mkdir leaves out what the umask takes and may leave out the set-group-ID bit.
      if (::chmod(path.c_str(), mode) != 0) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  if (::stat(target.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

int createPrivateFile(const std::string& path, int flags) {
  const mode_t mode = privateFileMode(parentOf(path));
  int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  if (::fchmod(fd, mode) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = saved;
    return -1;
  }
  return fd;
}

int openPrivateFile(const std::string& path, int flags) {
  // A second round opens what another process created in between (a link
  // to nothing is never created through and ends the second round).
  int fd = -1;
  for (int round = 0; round < 2; ++round) {
    fd = ::open(path.c_str(), (flags & ~(O_CREAT | O_EXCL)) | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = createPrivateFile(path, flags);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return fd;
}

Append appendToPrivateFile(const std::string& path, std::string_view text) {
  int fd = openPrivateFile(path, O_WRONLY | O_APPEND);
  if (fd < 0) return Append::NotOpened;
  bool ok = writeAll(fd, text);
  ok = ::close(fd) == 0 && ok;
  return ok ? Append::Done : Append::NotWritten;
}

Append appendToLog(const std::string& dir, const std::string& name, std::string_view text) {
  if (!makePrivateDirectories(dir)) return Append::NotOpened;
  // The directory itself opened without following a link, and the file
  // within it by that handle: a link planted as the log directory or as the
  // day's file leads nowhere, whatever is swapped in between.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return Append::NotOpened;
  const mode_t mode = privateFileMode(dir);
  int fd = -1;
  for (int round = 0; round < 2 && fd < 0; ++round) {
    fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 || errno != ENOENT) break;
    fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 && ::fchmod(fd, mode) != 0) {
      ::close(fd);
      fd = -1;
      break;
    }
    if (fd < 0 && errno != EEXIST) break;
  }
  ::close(dirFd);
  if (fd < 0) return Append::NotOpened;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && writeAll(fd, text);
  ok = ::close(fd) == 0 && ok;
  return ok ? Append::Done : Append::NotWritten;
}

bool writeNewPrivateFile(const std::string& path, std::string_view text) {
  int fd = createPrivateFile(path, O_WRONLY);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text);
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace tivel::files
