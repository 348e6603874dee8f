// Stored passwords of the management component: Argon2id hashes made by the
// platform's password hashing (platform/password/argon2id.h), or, with
// hashing off or in stores not yet migrated, the text itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/com/variant.h"
#include "records/record.h"

namespace tivel::mgt {

// True when the text is a stored Argon2id hash (and so must not be hashed again).
bool isPasswordHash(std::string_view stored);

// A new Argon2id hash of the password; fails with a call error when the
// hashing itself fails (out of memory).
std::string hashPassword(std::string_view password);

// True when `given` opens the stored password: a hash is verified as a hash
// (its own text does not open it); a value without a value (Null) opens only
// an empty password; any other value must equal `given` exactly.
bool passwordMatches(const com::Variant& stored, const std::string& given);

// The value a password-writing operation stores for `value`: with hashing on,
// the hash of a non-empty text that is not a hash already; otherwise the
// value unchanged (an empty or Null password stays as it is).
com::Variant passwordToStore(const com::Variant& value);

// Runs a write of the record with its Pwd replaced by passwordToStore(Pwd)
// and puts the caller's value back afterwards (records passed in are only
// read). A hash that cannot be made gives failureCode and writes nothing.
std::string writingPassword(const records::RecordPtr& rec, const char* failureCode,
                            const std::function<std::string()>& write);

}  // namespace tivel::mgt
