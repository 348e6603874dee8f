// The console's secret: R/ini/console.key (mode 0600, written by tivel init)
// signs the session cookies and makes each session's CSRF token, so that
// neither can be made without the file, and every host given the same file
// knows the same sessions.
#pragma once

#include <string>
#include <string_view>

namespace tivel::tool {

// R/ini/console.key.
std::string consoleKeyPath(const std::string& root);

// Writes a new random key to R/ini/console.key, owner-only, unless the file
// exists. Returns true when it wrote; fails (std::runtime_error) when the
// file cannot be made.
bool ensureConsoleKey(const std::string& root);

class ConsoleKey {
 public:
  // The key of R/ini/console.key; fails (std::runtime_error) when the file is
  // missing, unreadable, may be read by others or holds fewer than 64 characters.
  static ConsoleKey read(const std::string& root);
  explicit ConsoleKey(std::string secret) : secret_(std::move(secret)) {}

  // The cookie value of a session: its token and the token's signature.
  std::string cookieFor(std::string_view token) const;
  // The token a cookie value carries when its signature is right, else "".
  // A token holds only letters, digits and "_".
  std::string tokenOf(std::string_view cookie) const;
  // The CSRF token of a session, which changing requests must carry.
  std::string csrfFor(std::string_view token) const;
  // Whether `given` is the CSRF token of the session, in constant time.
  bool csrfMatches(std::string_view token, std::string_view given) const;

 private:
  std::string mac(std::string_view purpose, std::string_view token) const;
  std::string secret_;
};

}  // namespace tivel::tool
