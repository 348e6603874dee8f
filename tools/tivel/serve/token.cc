#include "tools/tivel/serve/token.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tivel::tool {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string randomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  size_t got = 0;
  while (got < bytes) {
    ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("no random bytes: ") + std::strerror(errno));
    }
    got += static_cast<size_t>(n);
  }
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : raw) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

}  // namespace

std::string randomToken() { return randomHex(32); }

std::string serveTokenPath(const std::string& root) { return root + "/ini/serve.token"; }

bool ensureServeToken(const std::string& root) { return writeSecretFile(serveTokenPath(root), randomToken() + "\n"); }

bool writeSecretFile(const std::string& path, const std::string& text) {
  // O_EXCL: an existing file is never replaced, and the file is born with
  // its final mode, so there is no moment in which others may read it.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    fail("cannot create", path);
  }
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
    fail("cannot write", path);
  }
  return true;
}

std::optional<std::string> readOwnerOnlyFile(const std::string& path, const std::string& what) {
  // O_NOFOLLOW: a link planted in the file's place is refused, not followed
  // to whatever file it names.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) throw std::runtime_error("the " + what + " " + path + " is a symbolic link; refused");
    fail("cannot read", path);
  }
  struct stat st {};
  std::string text;
  try {
    if (::fstat(fd, &st) != 0) fail("cannot read", path);
    if (!S_ISREG(st.st_mode)) throw std::runtime_error("the " + what + " " + path + " is not a plain file");
    if (st.st_mode & (S_IRWXG | S_IRWXO))
      throw std::runtime_error("the " + what + " " + path + " may be read by other users (chmod 600 it)");
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
      if (n < 0) {
        if (errno == EINTR) continue;
        fail("cannot read", path);
      }
      text.append(buffer, static_cast<size_t>(n));
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return text;
}

std::string readSecretFile(const std::string& path, const std::string& what) {
  std::optional<std::string> text = readOwnerOnlyFile(path, what);
  if (!text) {
    errno = ENOENT;
    fail("no " + what + " (tivel init writes one)", path);
  }
  std::string line = text->substr(0, text->find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  // A control character (a NUL, a tab) is part of no secret this system
  // writes: a file holding one was not written by it.
  for (char c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw std::runtime_error("the " + what + " " + path + " holds a control character");
  return line;
}

std::string readServeToken(const std::string& root) {
  const std::string path = serveTokenPath(root);
  const std::string token = readSecretFile(path, "token file");
  if (token.size() < 32) throw std::runtime_error("the token in " + path + " is shorter than 32 characters");
  return token;
}

bool sameToken(std::string_view given, std::string_view expected) {
  // Every byte of the expected token is compared whatever the given one
  // holds, so the time taken tells nothing about where they differ.
  unsigned diff = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < expected.size(); ++i) {
    unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    diff |= g ^ static_cast<unsigned char>(expected[i]);
  }
  return diff == 0;
}

}  // namespace tivel::tool
