#include "setup/password_hash.h"

#include <sodium.h>

#include <cstdio>

#include "platform/com/error.h"
#include "setup/service_errors.h"

namespace tivel::setup {
namespace {

void ensureSodium() {
  static const int ready = sodium_init();
  if (ready < 0) com::raise(kFail, "password hash", "The cryptography library cannot start");
}

}  // namespace

std::string hashPassword(std::string_view password) {
  ensureSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    com::raise(kFail, "password hash", "Not enough memory to hash a password");
  return out;
}

bool passwordMatches(std::string_view hash, std::string_view password) {
  ensureSodium();
  std::string h(hash);  // NUL-terminated
  return crypto_pwhash_str_verify(h.c_str(), password.data(), password.size()) == 0;
}

std::string newKey() {
  ensureSodium();
  unsigned char b[16];
  randombytes_buf(b, sizeof b);
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

}  // namespace tivel::setup
