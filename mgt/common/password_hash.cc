#include "mgt/common/password_hash.h"

#include <sodium.h>

#include <mutex>

#include "mgt/common/security_options.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

constexpr std::string_view kPrefix = "$argon2id$";

void initSodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) com::raise(com::kInvalidArgument, "TivelMgt", "libsodium could not be initialised");
  });
}

}  // namespace

bool isPasswordHash(std::string_view stored) {
  // "$argon2id$v=19$m=65536,t=2,p=1$" + salt + "$" + hash: the fixed head, and
  // the five '$' of the form.
  if (stored.substr(0, kPrefix.size()) != kPrefix || stored.size() >= crypto_pwhash_STRBYTES) return false;
  size_t dollars = 0;
  for (char c : stored) dollars += c == '$';
  return dollars == 5;
}

std::string hashPassword(std::string_view password) {
  initSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
    com::raise(static_cast<int32_t>(0x8007000E), "TivelMgt", "Not enough memory to hash the password");
  return out;
}

bool passwordMatches(const com::Variant& stored, const std::string& given) {
  if (stored.isNull()) return given.empty();
  std::string text = stored.toString();
  if (!isPasswordHash(text)) return given == text;
  initSodium();
  return crypto_pwhash_str_verify(text.c_str(), given.data(), given.size()) == 0;
}

com::Variant passwordToStore(const com::Variant& value) {
  if (!securityOptions().hashPasswords || value.isNull() || value.isBlank()) return value;
  std::string text = value.toString();
  if (isPasswordHash(text)) return value;
  return com::Variant(hashPassword(text));
}

std::string writingPassword(const records::RecordPtr& rec, const char* failureCode,
                            const std::function<std::string()>& write) {
  if (!rec || !securityOptions().hashPasswords) return write();
  const com::Variant given = rec->get("Pwd");
  try {
    rec->set("Pwd", passwordToStore(given));
  } catch (...) {
    return failureCode;
  }
  struct Restore {
    const records::RecordPtr& rec;
    const com::Variant& given;
    ~Restore() { rec->set("Pwd", given); }
  } restore{rec, given};
  return write();
}

}  // namespace tivel::mgt
