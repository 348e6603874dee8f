// Passwords handed to the administration stand-ins are kept only as salted,
// memory-hard hashes (the platform's Argon2id, platform/password), never as text.
#pragma once

#include <string>
#include <string_view>

namespace tivel::setup {

// A salted hash of `password` in the self-describing "$argon2id$..." form.
std::string hashPassword(std::string_view password);

// True when `hash` (from hashPassword) is the hash of `password`.
bool passwordMatches(std::string_view hash, std::string_view password);

// A new random key in the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string newKey();

}  // namespace tivel::setup
