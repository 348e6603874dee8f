#include "tools/tivel/serve/console/key.h"

#include <sodium.h>

#include <cctype>
#include <stdexcept>

#include "tools/tivel/serve/token.h"

namespace tivel::tool {
namespace {

constexpr size_t kMacHex = crypto_auth_hmacsha256_BYTES * 2;
constexpr size_t kMaxToken = 64;

bool validToken(std::string_view token) {
  if (token.empty() || token.size() > kMaxToken) return false;
  for (char c : token)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

}  // namespace

std::string consoleKeyPath(const std::string& root) { return root + "/ini/console.key"; }

bool ensureConsoleKey(const std::string& root) { return writeSecretFile(consoleKeyPath(root), randomToken() + "\n"); }

ConsoleKey ConsoleKey::read(const std::string& root) {
  const std::string path = consoleKeyPath(root);
  std::string secret = readSecretFile(path, "console key");
  if (secret.size() < 64) throw std::runtime_error("the console key in " + path + " is shorter than 64 characters");
  return ConsoleKey(std::move(secret));
}

// HMAC-SHA256 of purpose, "|" and the token under the key, in hexadecimal:
// a cookie's signature and a CSRF token never stand for one another.
std::string ConsoleKey::mac(std::string_view purpose, std::string_view token) const {
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not start");
  crypto_auth_hmacsha256_state st;
  unsigned char out[crypto_auth_hmacsha256_BYTES];
  crypto_auth_hmacsha256_init(&st, reinterpret_cast<const unsigned char*>(secret_.data()), secret_.size());
  const std::string message = std::string(purpose) + "|" + std::string(token);
  crypto_auth_hmacsha256_update(&st, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  crypto_auth_hmacsha256_final(&st, out);
  std::string hex(kMacHex + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), out, sizeof out);
  hex.resize(kMacHex);
  return hex;
}

// "token.stamp.signature", the signature over "token.stamp".
std::string ConsoleKey::cookieFor(std::string_view token, std::string_view stamp) const {
  const std::string body = std::string(token) + "." + std::string(stamp);
  return body + "." + mac("session", body);
}

std::string ConsoleKey::tokenOf(std::string_view cookie, std::string* stamp) const {
  const size_t sig = cookie.rfind('.');
  if (sig == std::string_view::npos) return "";
  const std::string_view body = cookie.substr(0, sig);
  const size_t dot = body.find('.');
  if (dot == std::string_view::npos) return "";
  const std::string_view token = body.substr(0, dot);
  if (!validToken(token) || !sameToken(cookie.substr(sig + 1), mac("session", body))) return "";
  if (stamp) *stamp = std::string(body.substr(dot + 1));
  return std::string(token);
}

std::string ConsoleKey::stampOf(std::string_view usrNo, std::string_view storedPassword) const {
  return mac("stamp", std::string(usrNo) + "|" + std::string(storedPassword)).substr(0, 32);
}

std::string ConsoleKey::csrfFor(std::string_view token) const { return mac("csrf", token); }

bool ConsoleKey::csrfMatches(std::string_view token, std::string_view given) const {
  return !token.empty() && sameToken(given, csrfFor(token));
}

// "token.usrNo.expires.signature"; the client is signed but not carried, so
// the challenge holds only for the address it was given to.
std::string ConsoleKey::challengeFor(const Challenge& c) const {
  const std::string body = c.token + "." + c.usrNo + "." + std::to_string(c.expires);
  return body + "." + mac("challenge", body + "|" + c.client);
}

std::optional<Challenge> ConsoleKey::challengeOf(std::string_view text, std::string_view client, int64_t now) const {
  const size_t sig = text.rfind('.');
  if (sig == std::string_view::npos) return std::nullopt;
  const std::string_view body = text.substr(0, sig);
  if (!sameToken(text.substr(sig + 1), mac("challenge", std::string(body) + "|" + std::string(client))))
    return std::nullopt;
  const size_t a = body.find('.'), b = body.rfind('.');
  if (a == std::string_view::npos || a == b) return std::nullopt;
  Challenge c{std::string(body.substr(0, a)), std::string(body.substr(a + 1, b - a - 1)), std::string(client), 0};
  const std::string_view expires = body.substr(b + 1);
  if (expires.empty() || expires.size() > 18 || expires.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  c.expires = std::stoll(std::string(expires));
  if (!validToken(c.token) || !validToken(c.usrNo) || now >= c.expires) return std::nullopt;
  return c;
}

}  // namespace tivel::tool
