#include "mgt/common/password_hash.h"

#include "mgt/common/security_options.h"
#include "platform/com/error.h"
#include "platform/password/argon2id.h"

namespace tivel::mgt {

bool isPasswordHash(std::string_view stored) { return password::isArgon2idHash(stored); }

std::string hashPassword(std::string_view text) {
  std::optional<std::string> hash = password::argon2idHash(text);
  if (!hash) com::raise(static_cast<int32_t>(0x8007000E), "TivelMgt", "Not enough memory to hash the password");
  return *std::move(hash);
}

bool passwordMatches(const com::Variant& stored, const std::string& given) {
  if (stored.isNull()) return given.empty();
  std::string text = stored.toString();
  if (!isPasswordHash(text)) return given == text;
  return password::argon2idMatches(text, given);
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
