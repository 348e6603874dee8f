#include "setup/store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/com/class_catalogue.h"
#include "platform/com/error.h"
#include "platform/files/private_files.h"
#include "setup/service_errors.h"
#include "setup/setup_log.h"

namespace tivel::setup {
namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  com::raise(kFail, "setup store", "The setup store " + path + ": " + what);
}

std::string errnoText() { return std::strerror(errno); }

// A file descriptor closed when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

void writeAll(int fd, const std::string& text, const std::string& path) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(path, "cannot write: " + errnoText());
    done += static_cast<size_t>(n);
  }
}

// The directory holding the store is made when missing (the root itself must exist).
void ensureDirectory(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  if (!files::makePrivateDirectories(dir)) fail(path, "cannot create " + dir + ": " + errnoText());
}

// A name of the store's that another hand has taken (a link planted to make
// the next task write elsewhere) is refused, and the refusal logged.
[[noreturn]] void refuse(const std::string& path, const std::string& name, const std::string& what) {
  const std::string text = "The setup store " + path + ": " + name + " " + what + "; refused, nothing written";
  writeSetupLog(path, text);
  com::raise(kFail, "setup store", text);
}

// Opens the lock file, created when missing. It is kept from one update to
// the next (writers meet on it), so it is opened only when it is a plain
// file of this user's with no other name: never through a link.
int openLock(const std::string& path) {
  const std::string name = path + ".lock";
  int fd = files::openPrivateFile(name, O_RDWR | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && errno == ELOOP) refuse(path, name, "is a symbolic link");
  if (fd < 0) fail(path, "cannot open the lock file: " + errnoText());
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
    ::close(fd);
    refuse(path, name, "is not a plain file of this user's");
  }
  return fd;
}

// Creates the temporary file the new state is written to: always a new file
// (never a link or a file someone left there). Only the lock holder writes
// it, so one name serves; a plain file of this user's under that name is
// what a writer that died left behind, and is removed first.
int createTemporary(const std::string& path) {
  const std::string name = path + ".tmp";
  int fd = files::createPrivateFile(name, O_WRONLY);
  if (fd < 0 && errno == EEXIST) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) fail(path, "cannot examine " + name + ": " + errnoText());
    if (S_ISLNK(st.st_mode)) refuse(path, name, "is a symbolic link");
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid())
      refuse(path, name, "is not a plain file of this user's");
    if (::unlink(name.c_str()) != 0) fail(path, "cannot remove " + name + ": " + errnoText());
    fd = files::createPrivateFile(name, O_WRONLY);
  }
  if (fd < 0) fail(path, "cannot create " + name + ": " + errnoText());
  return fd;
}

}  // namespace

Store::Store() : Store(com::catalogueFile()) {}
Store::Store(std::string path) : path_(std::move(path)) {}

ServiceState Store::read() const {
  Fd in{::open(path_.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) {
    if (errno == ENOENT) return ServiceState{};
    fail(path_, "cannot open: " + errnoText());
  }
  std::string text;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(path_, "cannot read: " + errnoText());
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  try {
    if (doc.is_discarded()) throw std::invalid_argument("not a JSON document");
    return fromJson(doc);
  } catch (const std::exception& e) {
    com::raise(kInvalidData, "setup store", "The setup store " + path_ + " is damaged: " + e.what());
  }
}

void Store::update(const std::function<void(ServiceState&)>& change) const {
  ensureDirectory(path_);
  Fd lock{openLock(path_)};
  while (::flock(lock.fd, LOCK_EX) != 0)
    if (errno != EINTR) fail(path_, "cannot lock: " + errnoText());

  ServiceState state = read();
  change(state);
  std::string text = toJson(state).dump(2) + "\n";

  std::string temp = path_ + ".tmp";
  {
    Fd out{createTemporary(path_)};
    writeAll(out.fd, text, path_);
    if (::fsync(out.fd) != 0) fail(path_, "cannot flush: " + errnoText());
  }
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    fail(path_, "cannot replace: " + errnoText());
  }
  // The rename itself survives a crash once the directory is flushed.
  Fd dir{::open(std::filesystem::path(path_).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
}

}  // namespace tivel::setup
