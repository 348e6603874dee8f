#include "setup/password_hash.h"

#include <cstdio>

#include "platform/com/error.h"
#include "platform/password/argon2id.h"
#include "setup/service_errors.h"

namespace tivel::setup {

std::string hashPassword(std::string_view text) {
  std::optional<std::string> hash = password::argon2idHash(text);
  if (!hash) com::raise(kFail, "password hash", "Not enough memory to hash a password");
  return *std::move(hash);
}

bool passwordMatches(std::string_view hash, std::string_view text) { return password::argon2idMatches(hash, text); }

std::string newKey() {
  unsigned char b[16];
  if (!password::randomBytes(b, sizeof b)) com::raise(kFail, "password hash", "The cryptography library cannot start");
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

}  // namespace tivel::setup
