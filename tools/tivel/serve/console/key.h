// The console's secret: R/ini/console.key (mode 0600, written by tivel init)
// signs the session cookies and makes each session's CSRF token, so that
// neither can be made without the file, and every host given the same file
// knows the same sessions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tivel::tool {

// R/ini/console.key.
std::string consoleKeyPath(const std::string& root);

// Writes a new random key to R/ini/console.key, owner-only, unless the file
// exists. Returns true when it wrote; fails (std::runtime_error) when the
// file cannot be made.
bool ensureConsoleKey(const std::string& root);

// The step between a right password and a one-time code: the login record
// the password step wrote, whose user it is, the client it was given to and
// until when (seconds since 1970) it holds.
struct Challenge {
  std::string token, usrNo, client;
  int64_t expires = 0;
};

class ConsoleKey {
 public:
  // The key of R/ini/console.key; fails (std::runtime_error) when the file is
  // missing, unreadable, may be read by others or holds fewer than 64 characters.
  static ConsoleKey read(const std::string& root);
  explicit ConsoleKey(std::string secret) : secret_(std::move(secret)) {}

  // The cookie value of a session: its token, its credential stamp and
  // their signature.
  std::string cookieFor(std::string_view token, std::string_view stamp = "") const;
  // The token a cookie value carries when its signature is right, else "";
  // its stamp into `stamp` when given. A token holds only letters, digits
  // and "_".
  std::string tokenOf(std::string_view cookie, std::string* stamp = nullptr) const;
  // The credential stamp of a user: a digest of the user's key and stored
  // password under the key, so a session whose stamp no longer matches was
  // opened with a password that has since changed.
  std::string stampOf(std::string_view usrNo, std::string_view storedPassword) const;
  // The CSRF token of a session, which changing requests must carry.
  std::string csrfFor(std::string_view token) const;
  // Whether `given` is the CSRF token of the session, in constant time.
  bool csrfMatches(std::string_view token, std::string_view given) const;
  // The signed text of a challenge, handed to the browser for the code step.
  std::string challengeFor(const Challenge& c) const;
  // The challenge a text carries when it is signed by this key, given to
  // `client` and not expired at `now`; else nullopt.
  std::optional<Challenge> challengeOf(std::string_view text, std::string_view client, int64_t now) const;

 private:
  std::string mac(std::string_view purpose, std::string_view token) const;
  std::string secret_;
};

}  // namespace tivel::tool
