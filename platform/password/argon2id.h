// Password hashing of every component: Argon2id through libsodium, in its
// self-describing "$argon2id$v=19$m=...,t=...,p=...$salt$hash" form, so a
// hash keeps the parameters it was made with and verifies whatever the
// current ones are.
//
// Parameters of new hashes: libsodium's interactive limits, 2 passes over
// 64 MiB, one lane, a random 16-byte salt, a 32-byte result.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tivel::password {

// True when the text has the form of a stored Argon2id hash (and so must not be hashed again).
bool isArgon2idHash(std::string_view stored);

// A new Argon2id hash of the password; nullopt when the cryptography library
// cannot start or the hashing runs out of memory (each caller fails its own way).
std::optional<std::string> argon2idHash(std::string_view password);

// True when `hash` is an Argon2id hash of `password`; false for any other
// text, a hash of another password, or a library that cannot start.
bool argon2idMatches(std::string_view hash, std::string_view password);

// Fills `out` with `size` bytes from the system's cryptographic random
// source; false when the cryptography library cannot start.
bool randomBytes(void* out, std::size_t size);

}  // namespace tivel::password
