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
#include "setup/service_errors.h"

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
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) fail(path, "cannot create " + dir + ": " + errnoText());
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
  Fd lock{::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
  if (lock.fd < 0) fail(path_, "cannot open the lock file: " + errnoText());
  while (::flock(lock.fd, LOCK_EX) != 0)
    if (errno != EINTR) fail(path_, "cannot lock: " + errnoText());

  ServiceState state = read();
  change(state);
  std::string text = toJson(state).dump(2) + "\n";

  // Only the lock holder writes the temporary file, so one name serves.
  std::string temp = path_ + ".tmp";
  {
    Fd out{::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
    if (out.fd < 0) fail(path_, "cannot create " + temp + ": " + errnoText());
    // An older temporary file may have other permissions; the store never does.
    if (::fchmod(out.fd, 0600) != 0) fail(path_, "cannot restrict " + temp + ": " + errnoText());
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
