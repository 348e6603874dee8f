#include "platform/password/argon2id.h"

#include <sodium.h>

namespace tivel::password {
namespace {

constexpr std::string_view kPrefix = "$argon2id$";

// libsodium starts once per process; sodium_init itself is safe to race.
bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool isArgon2idHash(std::string_view stored) {
  // "$argon2id$v=19$m=65536,t=2,p=1$" + salt + "$" + hash: the fixed head, and
  // the five '$' of the form.
  if (stored.substr(0, kPrefix.size()) != kPrefix || stored.size() >= crypto_pwhash_STRBYTES) return false;
  size_t dollars = 0;
  for (char c : stored) dollars += c == '$';
  return dollars == 5;
}

std::optional<std::string> argon2idHash(std::string_view password) {
  if (!sodiumReady()) return std::nullopt;
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
    return std::nullopt;
  return std::string(out);
}

bool argon2idMatches(std::string_view hash, std::string_view password) {
  if (!isArgon2idHash(hash) || !sodiumReady()) return false;
  const std::string text(hash);  // NUL-terminated for libsodium
  return crypto_pwhash_str_verify(text.c_str(), password.data(), password.size()) == 0;
}

bool randomBytes(void* out, std::size_t size) {
  if (!sodiumReady()) return false;
  randombytes_buf(out, size);
  return true;
}

}  // namespace tivel::password
